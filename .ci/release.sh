#!/usr/bin/env bash
# scripts/release.sh twice, in two clones: the same bytes. Each package is
# lintian-clean and hardened, each tarball's program static, and every
# program converts the example as the amd64 build does (the foreign ones
# under qemu-user).
. "$(dirname "$0")/lib.sh"
need cmake ninja-build g++ lowdown dpkg-dev file groff-base lintian sox g++-aarch64-linux-gnu \
     g++-arm-linux-gnueabihf g++-mingw-w64-x86-64-posix libc6:arm64 libc6:armhf
emulators
scripts/release.sh
git clone -q . "$scratch/again"
(cd "$scratch/again" && scripts/release.sh > /dev/null)
cmp dist/SHA256SUMS "$scratch/again/dist/SHA256SUMS"
(cd dist && sha256sum -c --quiet SHA256SUMS)
for arch in amd64 arm64 armhf; do
    deb=dist/sndblok_${version}_$arch.deb
    lintian_clean "$deb"
    dpkg -f "$deb" Architecture Depends
    [ "$(dpkg -f "$deb" Architecture)" = $arch ]
    dpkg -f "$deb" Depends | grep '^libc6 (>= 2\.34)' > /dev/null  # as the README says
    dpkg -x "$deb" "$scratch/deb-$arch"
    hardened "$scratch/deb-$arch/usr/bin/sndblok"
    converts "$scratch/deb-$arch/usr/bin/sndblok" "$scratch/run-deb-$arch"
done
for arch in x86_64 aarch64; do
    mkdir "$scratch/tar-$arch"
    tar -C "$scratch/tar-$arch" -xzf "dist/sndblok-$version-linux-$arch.tar.gz"
    program=$(echo "$scratch/tar-$arch"/*/sndblok)
    if readelf -lW "$program" | grep INTERP > /dev/null || readelf -d "$program" | grep NEEDED > /dev/null; then
        echo "$program is not static"; exit 1
    fi
    converts "$program" "$scratch/run-tar-$arch"
done
# The x86_64 tarball's CMake package, found from the tarball's folder: the
# sample firmware project converts a file that its build makes, and its
# player reads an embedded original back.
project=$scratch/firmware
cp -r tests/firmware "$project" && cp examples/duet.wav "$project/tone.in"
mkdir "$project/originals" && sox examples/duet.wav "$project/originals/duet.flac"
cmake -S "$project" -B "$project/build" -G Ninja -DCMAKE_PREFIX_PATH="$(dirname "$scratch"/tar-x86_64/*/sndblok)" > /dev/null
cmake --build "$project/build" > /dev/null
cmp "$scratch/reference/duet_l.vsf" "$project/build/image/tone_l.vsf"
"$project/build/player" "$project/build/sounds"
echo "lintian-clean packages, static tarballs whose CMake package works, the same bytes everywhere"
