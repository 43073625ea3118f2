#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR, checks that the program and its
# manual page are there, and converts a stereo example with the installed
# program. Usage: install_test.sh CMAKE BUILD_DIR EXAMPLE.wav
set -euo pipefail
cmake=$1 build=$2 example=$3
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" "$cmake" --install "$build" --prefix /usr/local > /dev/null
test -x "$dest/usr/local/bin/sndblok"
test -f "$dest/usr/local/share/man/man1/sndblok.1.gz"
test -f "$dest/usr/local/share/doc/sndblok/copyright"
# man finds the installed page, where man is there to ask.
if command -v man > /dev/null; then
    man -M "$dest/usr/local/share/man" -P cat sndblok | grep "^SNDBLOK(1)" > /dev/null
fi

cp "$example" "$dest/take.wav"
"$dest/usr/local/bin/sndblok" "$dest/take.wav" > /dev/null
# Both channel files are whole blocks of the same length.
left=$(wc -c < "$dest/take_l.vsf" | tr -d ' ')
right=$(wc -c < "$dest/take_r.vsf" | tr -d ' ')
test "$left" -gt 0
test $((left % 512)) -eq 0
test "$left" -eq "$right"
# The count, most significant byte first, says as many blocks as there are.
test "$(od -An -tu1 -N4 "$dest/take_l.vsf" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4}')" -eq $((left / 512))
echo "installed sndblok converted $(basename "$example"): $left bytes per channel"
