#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks that everything is in
# its place and that man finds the page; the firmware test converts with
# what is installed. Usage: install_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1 build=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" "$cmake" --install "$build" --prefix /usr/local > /dev/null
test -x "$dest/usr/local/bin/sndblok"
test -f "$dest/usr/local/share/man/man1/sndblok.1.gz"
test -f "$dest/usr/local/share/doc/sndblok/copyright"
# The README compressed, as Debian keeps documents; whole.
gzip -t "$dest/usr/local/share/doc/sndblok/README.md.gz"
zcat "$dest/usr/local/share/doc/sndblok/README.md.gz" | grep -Fx "## Converting sounds in a build" > /dev/null
test ! -e "$dest/usr/local/share/doc/sndblok/README.md"
# The build recipes, and the steps they share beside each.
for f in share/sndblok/sndblok.mk lib/cmake/sndblok/sndblokConfig.cmake lib/cmake/sndblok/sndblokSounds.cmake \
         {share/sndblok,lib/cmake/sndblok}/{sndblokSteps.cmake,sndblok-convert.sh}; do
    test -f "$dest/usr/local/$f"
done
# man finds the installed page, where man is there to ask.
if command -v man > /dev/null; then
    man -M "$dest/usr/local/share/man" -P cat sndblok | grep "^SNDBLOK(1)" > /dev/null
fi
echo "installed sndblok, its manual page, its documents and its build recipes"
