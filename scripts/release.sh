#!/usr/bin/env bash
# Builds every release artifact into dist/ and lists their SHA-256 sums in
# dist/SHA256SUMS: the Debian packages for amd64, arm64 and armhf, the
# Windows zip, and for x86_64 and aarch64 Linux a tarball with a statically
# linked program and its documents. Every date in them is the last
# commit's (SOURCE_DATE_EPOCH), so a run in another clone of the same
# commit gives the same bytes. dist/ is replaced only once every artifact
# is made. Usage: scripts/release.sh (on Debian 12; it says what to install)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

# Everything it needs, checked before anything is built. The foreign C
# libraries give the arm64 and armhf packages their Depends.
needs=(cmake ninja-build g++ lowdown dpkg-dev file groff-base git g++-aarch64-linux-gnu
       g++-arm-linux-gnueabihf g++-mingw-w64-x86-64-posix libc6:arm64 libc6:armhf)
missing=() first=""
for p in "${needs[@]}"; do installed "$p" || missing+=("$p"); done
for arch in arm64 armhf; do
    dpkg --print-foreign-architectures 2> /dev/null | grep -qx $arch ||
        first+="sudo dpkg --add-architecture $arch && "
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "scripts/release.sh needs: ${first}sudo apt-get update && sudo apt-get install ${missing[*]}" >&2
    exit 1
fi

SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
umask 022
work=build/dist
out=$work/out
rm -rf "$work"
mkdir -p "$out"

# Configures and builds a release preset in $work/NAME.
build() {  # NAME PRESET
    cmake --preset "$2" -B "$work/$1" > /dev/null
    cmake --build "$work/$1" > /dev/null
}

for arch in amd64:release arm64:release-arm64 armhf:release-armhf; do
    build "deb-${arch%%:*}" "${arch#*:}"
    (cd "$work/deb-${arch%%:*}" && cpack -G DEB > /dev/null)
    cp "$work/deb-${arch%%:*}/sndblok_${version}_${arch%%:*}.deb" "$out/"
done

build windows release-windows
(cd "$work/windows" && cpack -G ZIP > /dev/null)
cp "$work/windows/sndblok-$version-win64.zip" "$out/"

# A static program runs on any Linux of its processor, whatever its C library.
for arch in x86_64:release-static aarch64:release-static-arm64; do
    name=sndblok-$version-linux-${arch%%:*}
    build "static-${arch%%:*}" "${arch#*:}"
    tree=$work/static-${arch%%:*}/$name
    mkdir -p "$tree"
    cmake --install "$work/static-${arch%%:*}" --strip --prefix "$PWD/$tree/install" > /dev/null
    # The program at the top, the CMake package where find_package looks.
    mv "$tree/install/bin/sndblok" "$tree/install/share/sndblok"/* "$tree/install/lib" "$tree/"
    mkdir "$tree/doc"
    cp README.md "$tree/doc/"
    cp "$work/static-${arch%%:*}"/package/README.md LICENSE CHANGELOG.md "$work/static-${arch%%:*}/sndblok.1" "$tree/"
    rm -r "$tree/install"
    chmod 755 "$tree/sndblok"
    find "$tree" -type f ! -name sndblok -exec chmod 644 {} +
    tar -C "$(dirname "$tree")" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
        --numeric-owner -cf - "$name" | gzip -9n > "$out/$name.tar.gz"
done

(cd "$out" && sha256sum -- *.deb *.zip *.tar.gz > SHA256SUMS)
rm -rf dist
mv "$out" dist
cat dist/SHA256SUMS
