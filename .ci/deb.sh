#!/usr/bin/env bash
# The Debian package: lintian-clean, hardened and fortified, the same bytes
# from a clone, and, unpacked, it converts the example and man finds its page.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build g++ dpkg-dev file groff-base man-db lintian
cmake --workflow --preset release
rm -f build/release/sndblok_*.deb
(cd build/release && cpack -G DEB > /dev/null)
deb=$(echo build/release/sndblok_*.deb)
lintian_clean "$deb"
git clone -q . "$scratch/again"
cmake -S "$scratch/again" -B "$scratch/again/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
cmake --build "$scratch/again/build" > /dev/null
(cd "$scratch/again/build" && cpack -G DEB > /dev/null)
cmp "$deb" "$scratch/again/build/$(basename "$deb")"
dpkg -x "$deb" "$scratch/deb"
hardened "$scratch/deb/usr/bin/sndblok"
readelf --dyn-syms -W "$scratch/deb/usr/bin/sndblok" | grep '__printf_chk' > /dev/null
converts "$scratch/deb/usr/bin/sndblok" "$scratch/run"
man -M "$scratch/deb/usr/share/man" -P cat sndblok | grep "^sndblok $version " > /dev/null
test -s "$scratch/deb/usr/share/doc/sndblok/copyright"
test -s "$scratch/deb/usr/share/doc/sndblok/README.md"
test -s "$scratch/deb/usr/lib/cmake/sndblok/sndblokConfig.cmake"
test -s "$scratch/deb/usr/share/sndblok/sndblok.mk"
zcat "$scratch/deb/usr/share/doc/sndblok/changelog.gz" | grep "^sndblok ($version)" > /dev/null
echo "$(basename "$deb"): lintian-clean, hardened, reproducible, converts the example"
