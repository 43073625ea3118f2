#!/usr/bin/env bash
# The sample firmware project in tests/firmware, built against an installed
# sndblok (staged with DESTDIR) with CMake and Ninja, then with GNU make:
# the first build makes exactly the expected block files, byte for byte; a
# second does nothing; a touched source alone is converted again; a source
# turned from stereo to mono leaves no _l/_r files; a failing source fails
# the build with its name and sndblok's message; a made file said to be
# mono but stereo is caught. Then CMake again, cross-compiling with the
# package inside a sysroot, whose program cannot run here.
# Usage: firmware_test.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake=$1 build=$2 source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

stage=$work/stage
DESTDIR=$stage "$cmake" --install "$build" --prefix /usr/local > /dev/null
export PATH="$stage/usr/local/bin:$PATH"

# WAVE files as sndblok takes them: mono ABCDEF, stereo abcdefghijkl.
byte() { printf "\\$(printf %03o "$1")"; }
wave() {  # CHANNELS SAMPLES
    printf RIFF; byte $((36 + ${#2})); printf '\0\0\0WAVEfmt \20\0\0\0\7\0'; byte "$1"
    printf '\0\0\175\0\0\0\175\0\0\1\0\10\0data'; byte ${#2}; printf '\0\0\0%s' "$2"
}
ff() { head -c "$1" /dev/zero | tr '\0' '\377'; }
mono_vsf() { printf '\0\0\0\1EF'; ff 506; }
left_vsf() { printf '\0\0\0\1ik'; ff 506; }
right_vsf() { printf '\0\0\0\1jl'; ff 506; }

expect_files() {  # FOLDER NAME... : exactly these block files, nothing else
    local listed
    listed=$(cd "$1" && find . -name '*.vsf' -not -path './.sndblok/*' | sed 's|^\./||' | LC_ALL=C sort)
    shift
    [ "$listed" = "$(printf '%s\n' "$@" | LC_ALL=C sort)" ] || fail "block files: $listed"
}
expect_bytes() {  # FILE MAKER
    cmp "$1" <($2) > /dev/null || fail "$1 is not what $2 gives"
}

# $1: the project; $2: the block files' folder; then how to build, and how to
# ask whether anything is left to do (0: nothing).
check() {
    local project=$1 out=$2 build_cmd=$3 idle_cmd=$4 log=$work/log
    (cd "$project" && eval "$build_cmd") > "$log" 2>&1 || { cat "$log"; fail "first build"; }
    [ ! -s "$log" ] || [ "$(grep -v '^\[' "$log" | grep -vc 'ninja: ' || true)" = 0 ] ||
        { cat "$log"; fail "a good build printed more than progress"; }
    expect_files "$out" m.vsf s_l.vsf s_r.vsf tone_l.vsf tone_r.vsf "${extra[@]}"
    expect_bytes "$out/m.vsf" mono_vsf
    expect_bytes "$out/s_l.vsf" left_vsf
    expect_bytes "$out/s_r.vsf" right_vsf
    expect_bytes "$out/tone_r.vsf" right_vsf
    (cd "$project" && eval "$idle_cmd") || fail "a second build has work to do"

    # One source touched: it alone is converted again.
    local touched untouched
    touched=$(stat -c %y "$out/s_l.vsf") untouched=$(stat -c %y "$out/m.vsf")
    touch "$project/sounds/s.wav"
    (cd "$project" && eval "$build_cmd") > "$log" 2>&1 || { cat "$log"; fail "build after touch"; }
    [ "$(stat -c %y "$out/s_l.vsf")" != "$touched" ] || fail "the touched source was not converted"
    [ "$(stat -c %y "$out/m.vsf")" = "$untouched" ] || fail "an untouched source was converted"

    # Stereo turned mono: no _l/_r files stay, but a dry run removes nothing.
    wave 1 ABCDEF > "$project/sounds/s.wav"
    (cd "$project" && eval "$dry_cmds") > /dev/null 2>&1 || true
    [ -e "$out/s_l.vsf" ] || fail "a dry run removed s_l.vsf"
    (cd "$project" && eval "$build_cmd") > "$log" 2>&1 || { cat "$log"; fail "build after stereo to mono"; }
    expect_files "$out" m.vsf s.vsf tone_l.vsf tone_r.vsf "${extra[@]}"
    expect_bytes "$out/s.vsf" mono_vsf
    (cd "$project" && eval "$idle_cmd") || fail "work left after stereo to mono"

    # A failing source fails the build, named, with sndblok's message.
    printf RIFX > "$project/sounds/bad.wav"
    [ -z "$reconfigure" ] || (cd "$project" && eval "$reconfigure")
    if (cd "$project" && eval "$build_cmd") > "$log" 2>&1; then fail "a bad source built"; fi
    grep -F 'bad.wav' "$log" > /dev/null || { cat "$log"; fail "the log does not name bad.wav"; }
    grep -F 'Input file bad.wav is not a valid .wav file' "$log" > /dev/null ||
        { cat "$log"; fail "the log lacks sndblok's message"; }
    if grep -F 'USAGE' "$log"; then fail "the usage banner is in the build log"; fi
    rm "$project/sounds/bad.wav"
    [ -z "$reconfigure" ] || (cd "$project" && eval "$reconfigure")
    [ ! -e "$out/bad.vsf" ] || fail "bad.vsf left behind"

    # A source taken out leaves no block files.
    rm "$project/sounds/m.wav"
    [ -z "$reconfigure" ] || (cd "$project" && eval "$reconfigure")
    (cd "$project" && eval "$build_cmd") > "$log" 2>&1 || { cat "$log"; fail "build after a source went"; }
    expect_files "$out" s.vsf tone_l.vsf tone_r.vsf "${extra[@]}"
}

project=$work/cmake
cp -r "$source/tests/firmware" "$project"
mkdir -p "$project/sounds"
wave 1 ABCDEF > "$project/sounds/m.wav"
wave 2 abcdefghijkl > "$project/sounds/s.wav"
wave 2 abcdefghijkl > "$project/tone.in"
# CMake takes names with spaces and letters outside ASCII.
wave 1 ABCDEF > "$project/sounds/door bell.wav"
wave 2 abcdefghijkl > "$project/sounds/жук.wav"
extra=("door bell.vsf" "жук_l.vsf" "жук_r.vsf")
configure="'$cmake' -S . -B build -G Ninja -DCMAKE_PREFIX_PATH='$stage/usr/local' > /dev/null"
reconfigure=$configure
dry_cmds="ninja -C build -n"
eval "(cd '$project' && $configure)"
check "$project" "$project/build/sounds" "'$cmake' --build build" "ninja -C build -n | grep -x 'ninja: no work to do.' > /dev/null"
expect_bytes "$project/build/sounds/door bell.vsf" mono_vsf
expect_bytes "$project/build/sounds/жук_l.vsf" left_vsf

# find_package in one folder, the call in a sibling.
mkdir -p "$work/split/find" "$work/split/use"
printf '%s\n' "cmake_minimum_required(VERSION 3.16)" "project(split NONE)" \
    "add_subdirectory(find)" "add_subdirectory(use)" > "$work/split/CMakeLists.txt"
echo "find_package(sndblok REQUIRED)" > "$work/split/find/CMakeLists.txt"
echo "sndblok_add_sounds(TARGET sounds SOURCES m.wav)" > "$work/split/use/CMakeLists.txt"
wave 1 ABCDEF > "$work/split/use/m.wav"
(cd "$work/split" && "$cmake" -S . -B build -G Ninja -DCMAKE_PREFIX_PATH="$stage/usr/local" \
    > "$work/log" 2>&1 && "$cmake" --build build >> "$work/log" 2>&1) || { cat "$work/log"; fail "split build"; }
expect_bytes "$work/split/build/use/m.vsf" mono_vsf

# The made source's call taken out: its block files go with it.
cp "$project/CMakeLists.txt" "$work/CMakeLists.txt"
sed -i '/^sndblok_add_sounds(TARGET made/,/OUT_VAR made)$/d' "$project/CMakeLists.txt"
(cd "$project" && eval "$configure" && "$cmake" --build build > "$work/log" 2>&1) ||
    { cat "$work/log"; fail "build without the made source's call"; }
expect_files "$project/build/sounds" s.vsf "${extra[@]}"
cp "$work/CMakeLists.txt" "$project/CMakeLists.txt"

# A name that CMake's build files or lists cannot hold is refused when
# configuring, by name.
for name in 'a#b.wav' 'a[b.wav'; do
    wave 1 ABCDEF > "$project/sounds/$name"
    if (cd "$project" && eval "$configure") > "$work/log" 2>&1; then fail "CMake took $name"; fi
    grep -F "sounds/$name" "$work/log" > /dev/null && grep -F "cannot be built; rename it" "$work/log" > /dev/null ||
        { cat "$work/log"; fail "$name is not named"; }
    rm "$project/sounds/$name"
done

# A made file said to be mono that is stereo: caught when converted.
(cd "$project" && "$cmake" -B build -DMADE_CHANNELS=MONO > /dev/null)
if (cd "$project" && "$cmake" --build build) > "$work/log" 2>&1; then fail "a stereo file taken as mono"; fi
grep -F 'tone.wav is STEREO, but was given to sndblok_add_sounds as MONO' "$work/log" > /dev/null ||
    { cat "$work/log"; fail "the mismatch is not named"; }

project=$work/make
cp -r "$source/tests/firmware" "$project"
mkdir -p "$project/sounds"
wave 1 ABCDEF > "$project/sounds/m.wav"
wave 2 abcdefghijkl > "$project/sounds/s.wav"
wave 2 abcdefghijkl > "$project/tone.in"
# make takes no spaces in names; letters outside ASCII it does, and marks
# that neither make nor the shell reads in a quoted name.
wave 2 abcdefghijkl > "$project/sounds/жук.wav"
wave 1 ABCDEF > "$project/sounds/{x}!.wav"
extra=("жук_l.vsf" "жук_r.vsf" "{x}!.vsf")
reconfigure=
mk="SNDBLOK_MK='$stage/usr/local/share/sndblok/sndblok.mk'"
dry_cmds="make -n $mk; make -q $mk"
check "$project" "$project/build/sounds" "make -j2 $mk" "make -q $mk"
# What cannot be made fails the build, named: a made source whose own step
# fails on a first build, a listed source that is not there.
mv "$project/tone.in" "$work/tone.in"
rm -r "$project/build"
if (cd "$project" && eval "make $mk") > "$work/log" 2>&1; then fail "a made source that failed built"; fi
grep -F "No rule to make target 'tone.in', needed by 'build/made/tone.wav'" "$work/log" > /dev/null ||
    { cat "$work/log"; fail "the failed step is not named"; }
mv "$work/tone.in" "$project/tone.in"
if (cd "$project" && eval "make $mk 'SNDBLOK_SOURCES=\$(wildcard sounds/*.wav) sounds/gone.wav'") \
    > "$work/log" 2>&1; then fail "a source that is not there built"; fi
grep -F "No rule to make target 'sounds/gone.wav'" "$work/log" > /dev/null ||
    { cat "$work/log"; fail "the missing source is not named"; }
# make clean converts nothing, nor makes a made source.
rm -rf "$project/build/made"
(cd "$project" && eval "make $mk clean") > /dev/null
[ ! -e "$project/build/made/tone.wav" ] || fail "make clean made tone.wav"
# A name that make or the shell would take apart is refused, by name.
printf x > "$project/sounds/it's.wav"
if (cd "$project" && eval "make $mk") > "$work/log" 2>&1; then fail "make took it's.wav"; fi
grep -F "not: sounds/it's.wav" "$work/log" > /dev/null || { cat "$work/log"; fail "it's.wav is not named"; }

# Cross-compiling: find_package looks only inside the sysroot, where the
# target's package stands beside a program this machine cannot run; the
# conversion takes this machine's program from the PATH. A root written with
# a trailing slash is the same root; a package that is only on this machine
# is found through sndblok_DIR.
sysroot=$work/sysroot bare=$work/bare
mkdir -p "$sysroot/usr/bin" "$bare/usr/bin"
cp -r "$stage/usr/local/lib" "$sysroot/usr/"
printf '#!/bin/sh\necho "the target program ran" >&2; exit 99\n' > "$sysroot/usr/bin/sndblok"
chmod +x "$sysroot/usr/bin/sndblok"
cp "$sysroot/usr/bin/sndblok" "$bare/usr/bin/"
project=$work/cross
cp -r "$source/tests/firmware" "$project"
mkdir -p "$project/sounds"
wave 1 ABCDEF > "$project/sounds/m.wav"
wave 2 abcdefghijkl > "$project/tone.in"
cross() {  # ROOT [ARGUMENT...]: the sample project built for a target whose sysroot is ROOT
    local root=$1
    shift
    printf '%s\n' "set(CMAKE_SYSTEM_NAME Generic)" "set(CMAKE_SYSROOT \"$root\")" \
        "set(CMAKE_FIND_ROOT_PATH \"$root\")" "set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)" \
        "set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)" > "$work/toolchain.cmake"
    rm -rf "$project/build"
    (cd "$project" && "$cmake" -S . -B build -G Ninja --toolchain "$work/toolchain.cmake" \
        -DCMAKE_PREFIX_PATH=/usr "$@" > "$work/log" 2>&1 && "$cmake" --build build >> "$work/log" 2>&1) ||
        { cat "$work/log"; fail "cross build in $root $*"; }
    expect_bytes "$project/build/sounds/m.vsf" mono_vsf
}
cross "$sysroot"
cross "$sysroot/"
# The package on this machine alone, named.
cross "$bare" -Dsndblok_DIR="$stage/usr/local/lib/cmake/sndblok"
echo "CMake with Ninja, GNU make and a cross build convert the firmware's sounds as they should"
