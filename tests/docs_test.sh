#!/usr/bin/env bash
# What README.md and the manual page show a run printing is what the program
# prints for the bundled example, byte for byte; the README's line for
# finding colliding inputs finds them.
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

# The README's line that lists colliding inputs, on a folder with such
# pairs (a stereo x.wav beside a mono x_l.wav; z.wav beside z_r.wav in a
# subfolder with a space) and inputs that collide with nothing (y.wav is
# mono, w_l.wav has no w.wav, a_l.wav is stereo, r.wav is RIFX and p.wav
# PCM, both stereo), then on a folder without them.
awk '/^<!-- inputs whose outputs another input would also write -->$/ { take = 1; next }
     take && /^    / { print substr($0, 5); listed = 1; next }
     take && listed { exit }' "$source/README.md" > "$work/collisions.sh"
mono() { printf 'RIFF\46\0\0\0WAVEfmt \20\0\0\0\7\0\1\0\0\175\0\0\0\175\0\0\1\0\10\0data\2\0\0\0ab' > "$1"; }  # a mono mu-law file, 2 samples
mkdir -p "$work/pairs/sounds/s p" "$work/none/sounds"
for f in x "s p/z"; do cp "$source/examples/duet.wav" "$work/pairs/sounds/$f.wav"; done
for f in x_l "s p/z_r" y y_r w_l r_r p_l; do mono "$work/pairs/sounds/$f.wav"; done
for f in a a_l; do cp "$source/examples/duet.wav" "$work/pairs/sounds/$f.wav"; done
{ printf RIFX; tail -c +5 "$source/examples/duet.wav"; } > "$work/pairs/sounds/r.wav"
{ head -c 20 "$source/examples/duet.wav"; printf '\1'; tail -c +22 "$source/examples/duet.wav"; } > "$work/pairs/sounds/p.wav"
for f in x y_l; do mono "$work/none/sounds/$f.wav"; done
cp "$source/examples/duet.wav" "$work/none/sounds/v.wav"
(cd "$work/pairs" && sh "$work/collisions.sh") 2>&1 > "$work/listed" | cmp - /dev/null
printf 'sounds/s p/z.wav\nsounds/s p/z_r.wav\nsounds/x.wav\nsounds/x_l.wav\n' | cmp - "$work/listed"
(cd "$work/none" && sh "$work/collisions.sh") 2>&1 | cmp - /dev/null
echo "README.md and the manual page show what sndblok prints, byte for byte, and the"
echo "README's line lists the inputs that collide"
