#!/usr/bin/env bash
# What README.md and the manual page show a run printing is what the program
# prints for the bundled example, byte for byte.
# Usage: docs_test.sh PROGRAM SOURCE_DIR MANUAL_PAGE
set -euo pipefail
program=$1 source=$2 manual=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$source/examples/duet.wav" "$work/"
(cd "$work" && "$program" duet.wav > printed)
# The README's fenced block after its marker.
awk '/^<!-- the output of: sndblok examples\/duet.wav -->$/ { getline; take = 1; next }
     take && /^```$/ { exit }
     take' "$source/README.md" > "$work/readme"
cmp "$work/printed" "$work/readme"
# The manual page's example, without roff's zero-width \& marks.
awk '/^\.\\" The program.s output/ { take = 1; next }
     take && /^\.fi$/ { exit }
     take' "$manual" | sed 's/\\&//g' > "$work/manual"
cmp "$work/printed" "$work/manual"
echo "README.md and the manual page show what sndblok prints, byte for byte"
