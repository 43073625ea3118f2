#!/usr/bin/env bash
# The Debian package of the release build: lintian-clean, hardened and
# fortified, with the manual page that man finds, the changelog, the README
# and the build recipes. That it builds to the same bytes from another clone,
# and converts the example, the release stage checks for every package.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build g++ lowdown dpkg-dev file groff-base man-db lintian
cmake --workflow --preset release
rm -f build/release/sndblok_*.deb
(cd build/release && cpack -G DEB > /dev/null)
deb=$(echo build/release/sndblok_*.deb)
lintian_clean "$deb"
dpkg -x "$deb" "$scratch/deb"
hardened "$scratch/deb/usr/bin/sndblok"
readelf --dyn-syms -W "$scratch/deb/usr/bin/sndblok" | grep '__printf_chk' > /dev/null
man -M "$scratch/deb/usr/share/man" -P cat sndblok | grep "^sndblok $version " > /dev/null
zcat "$scratch/deb/usr/share/doc/sndblok/changelog.gz" | grep "^sndblok ($version)" > /dev/null
for f in doc/sndblok/copyright sndblok/sndblok.mk sndblok/sndblokSteps.cmake sndblok/sndblok-convert.sh; do
    test -s "$scratch/deb/usr/share/$f"
done
zcat "$scratch/deb/usr/share/doc/sndblok/README.md.gz" | grep -Fx "## Converting sounds in a build" > /dev/null
for f in sndblokConfig.cmake sndblokSounds.cmake sndblokSteps.cmake sndblok-convert.sh; do
    test -s "$scratch/deb/usr/lib/cmake/sndblok/$f"
done
echo "$(basename "$deb"): lintian-clean, hardened, with its documents and build recipes"
