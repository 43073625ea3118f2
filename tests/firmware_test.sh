#!/usr/bin/env bash
# The build recipes as a firmware team uses them, against an installed
# sndblok (staged with DESTDIR). GROUP is what a build does:
#   configure  refuses, by name, what a build cannot carry
#   build      the sample firmware project: the block files, byte for byte;
#              the manifest and the embedded bytes, read back by its player;
#              the same bytes in two build folders; one conversion a source
#              under every generator; no work left
#   rebuild    what changes, and only that, is converted again; what no call
#              makes any more goes, whatever its name's bytes; a destination
#              or state deleted comes back; builds that share a destination
#   interrupt  a build killed while converting leaves no wrong file behind
#   make       the same with GNU make
#   cross      the package inside a sysroot, cross-compiling
# Usage: [STAGE=FOLDER] firmware_test.sh GROUP CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
group=$1 cmake=$2 build=$3 source=$4
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
# WHAT COMMAND...: COMMAND, whose output is shown only when it fails, which
# fails the test.
quietly() {
    local what=$1
    shift
    "$@" > "$work/log" 2>&1 || { cat "$work/log"; fail "$what"; }
}
# WHAT SAID COMMAND...: COMMAND must fail within 20 s, and say SAID (where
# CMake wraps its lines, they are read as one).
refuses() {
    local what=$1 said=$2
    shift 2
    if timeout 20 "$@" > "$work/log" 2>&1; then cat "$work/log"; fail "$what: passed"; fi
    tr -s ' \n' '  ' < "$work/log" | grep -F -- "$said" > /dev/null ||
        { cat "$work/log"; fail "$what: does not say $said"; }
}

# The install, staged with DESTDIR; or, where CMAKE is older than the CMake
# that made the build and cannot install it, one staged before (STAGE).
stage=${STAGE:-$work/stage}
[ -n "${STAGE:-}" ] || DESTDIR=$stage "$cmake" --install "$build" --prefix /usr/local > /dev/null
export PATH="$stage/usr/local/bin:$PATH"
program=$stage/usr/local/bin/sndblok
prefix=-DCMAKE_PREFIX_PATH=$stage/usr/local
mk=SNDBLOK_MK=$stage/usr/local/share/sndblok/sndblok.mk

# WAVE files as sndblok takes them: mono ABCDEF, stereo abcdefghijkl, and
# their block files, written out.
byte() { printf "\\$(printf %03o "$1")"; }
wave() {  # CHANNELS SAMPLES
    printf RIFF; byte $((36 + ${#2})); printf '\0\0\0WAVEfmt \20\0\0\0\7\0'; byte "$1"
    printf '\0\0\175\0\0\0\175\0\0\1\0\10\0data'; byte ${#2}; printf '\0\0\0%s' "$2"
}
ff() { head -c "$1" /dev/zero | tr '\0' '\377'; }
mono_vsf() { printf '\0\0\0\1EF'; ff 506; }
left_vsf() { printf '\0\0\0\1ik'; ff 506; }
right_vsf() { printf '\0\0\0\1jl'; ff 506; }
# A recording as a sound designer hands it over: CHANNELS, RATE, BITS, TONE.
recording() {  # FILE CHANNELS RATE BITS HERTZ
    sox -n -r "$3" -b "$4" -c "$2" "$1" synth 0.05 sine "$5" sine $(($5 * 3 / 2)) vol 0.5
}
# What the README's recipe makes of an original: its block files in FOLDER.
by_hand() {  # ORIGINAL FOLDER STEM
    mkdir -p "$2"
    sox -D "$1" -r 32000 -e u-law -b 8 "$2/$3.wav" && (cd "$2" && sndblok "$3.wav" > /dev/null)
    rm "$2/$3.wav"
}

files() {  # FOLDER: its files and links, one name a line, sorted
    (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
}
expect_files() {  # FOLDER NAME...: exactly these files, nothing else
    local folder=$1
    shift
    [ "$(files "$folder")" = "$(printf '%s\n' "$@" | LC_ALL=C sort)" ] ||
        fail "$folder holds: $(files "$folder" | tr '\n' ' ')"
}
expect_bytes() {  # FILE MAKER
    cmp "$1" <($2) > /dev/null || fail "$1 is not what $2 gives"
}
# The build printed no more than progress (which, with Unix Makefiles, CMake
# before 3.20 gives as "Scanning dependencies" too).
expect_quiet() {
    if grep -v -e '^\[' -e '^ninja: ' -e '^-- ' -e '^make: Nothing to be done' \
            -e '^Scanning dependencies of target ' "$work/log"; then
        fail "a good build printed more"
    fi
}
idle() {  # BUILD_FOLDER: nothing is left to do
    [ "$(ninja -C "$1" -n | tail -n 1)" = "ninja: no work to do." ] || fail "$1 has work left"
}

# A small project of one or two calls into DEST, with the sources in its
# sounds/ (a second call converts extra/x.wav when SECOND is on).
small() {  # FOLDER
    mkdir -p "$1/sounds"
    cat > "$1/CMakeLists.txt" << 'EOF'
cmake_minimum_required(VERSION 3.18)
project(small NONE)
find_package(sndblok REQUIRED)
set(DEST sounds CACHE STRING "")
file(GLOB recordings ${CMAKE_CURRENT_SOURCE_DIR}/sounds/*.wav)
sndblok_add_sounds(TARGET sounds SOURCES ${recordings} DESTINATION "${DEST}")
if(SECOND)
    sndblok_add_sounds(TARGET second SOURCES extra/x.wav DESTINATION ${DEST})
endif()
EOF
}

case $group in
configure)
    small "$work/c"
    wave 1 ABCDEF > "$work/c/sounds/m.wav"
    configure=("$cmake" -S "$work/c" -B "$work/c/build" -G Ninja "$prefix" -DDEST=sounds)
    # Characters that a generator cannot carry, in a name, a folder or the
    # destination: refused by name.
    for name in 'a#b.wav' 'a$(x)b.wav' 'a|b/m.wav' 'a:b/m.wav' $'a\tb/m.wav' 'a"b.wav'; do
        mkdir -p "$work/c/sounds/$(dirname "$name")"
        wave 1 ABCDEF > "$work/c/sounds/$name"
        [ "${name%/*}" = "$name" ] || sed -i 's|sounds/\*\.wav|sounds/*/*.wav|' "$work/c/CMakeLists.txt"
        refuses "$name" "sounds/$name holds one of" "${configure[@]}"
        rm -r "$work/c/sounds/${name%%/*}"
        sed -i 's|sounds/\*/\*\.wav|sounds/*.wav|' "$work/c/CMakeLists.txt"
    done
    for destination in 'a|b' 'a:b' $'a\tb' 'a;b' 'a$(x)b'; do
        refuses "DESTINATION $destination" "$destination holds one of" \
            "${configure[@]}" "-DDEST=$destination"
    done
    # make reads % as a pattern: refused where make builds.
    wave 1 ABCDEF > "$work/c/sounds/50%.wav"
    refuses "% under make" "sounds/50%.wav holds %, which make" \
        "$cmake" -S "$work/c" -B "$work/c/make" -G "Unix Makefiles" "$prefix"
    rm "$work/c/sounds/50%.wav"
    # A FIFO would be waited on: refused at once.
    mkfifo "$work/c/sounds/f.wav"
    refuses "a FIFO" "sounds/f.wav is not there, empty, or not a file" "${configure[@]}"
    rm "$work/c/sounds/f.wav"
    # DESTINATION is a folder's name, whatever it spells.
    for destination in off 0 No false x-NOTFOUND; do
        rm -rf "$work/c/build"
        quietly "DESTINATION $destination" "${configure[@]}" "-DDEST=$destination"
        quietly "DESTINATION $destination" "$cmake" --build "$work/c/build"
        expect_bytes "$work/c/build/$destination/m.vsf" mono_vsf
    done
    # Originals: sox is needed, must read them, and a sound needs one or two
    # channels; two sounds must not share a C name in the manifest.
    small "$work/o"
    printf '%s\n' 'set(HEADER o.h CACHE STRING "")' \
        'sndblok_add_sounds(TARGET o ${ORIGINALS} DESTINATION o MANIFEST ${HEADER})' \
        >> "$work/o/CMakeLists.txt"
    recording "$work/o/a.flac" 1 44100 16 440
    recording "$work/o/door bell.flac" 1 44100 16 440
    recording "$work/o/door-bell.wav" 1 44100 16 440
    recording "$work/o/six.wav" 6 48000 16 440
    printf 'not a recording' > "$work/o/text.flac"
    # A fresh build folder each: what CMake found is kept in the one before.
    originals=(sh -c 'rm -rf "$0" && "$@"' "$work/o/build" "$cmake" -S "$work/o" -B "$work/o/build"
               -G Ninja "$prefix")
    refuses "no sox" "no sox, which prepares the ORIGINALS and MONO_ORIGINALS: $work/o/a.flac" \
        "${originals[@]}" "-DORIGINALS=ORIGINALS;$work/o/a.flac" -DCMAKE_FIND_USE_SYSTEM_ENVIRONMENT_PATH=OFF \
        -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF "-DCMAKE_MAKE_PROGRAM=$(command -v ninja)"
    refuses "unreadable" "sox cannot read $work/o/text.flac: " "${originals[@]}" "-DORIGINALS=ORIGINALS;$work/o/text.flac"
    refuses "six channels" "$work/o/six.wav has 6 channels; list it under MONO_ORIGINALS" \
        "${originals[@]}" "-DORIGINALS=ORIGINALS;$work/o/six.wav"
    refuses "one C name" 'the sounds "door bell" and "door-bell" would both be named O_DOOR_BELL' \
        "${originals[@]}" "-DORIGINALS=ORIGINALS;$work/o/door bell.flac;$work/o/door-bell.wav"
    quietly "six channels mixed down" "${originals[@]}" "-DORIGINALS=MONO_ORIGINALS;$work/o/six.wav"
    # EMBED needs a program or a library, and the manifest.
    refuses "EMBED" "EMBED needs MANIFEST, and TARGET an executable or a library; o is not one" \
        "${originals[@]}" "-DORIGINALS=ORIGINALS;$work/o/a.flac;EMBED"
    # A manifest whose names C cannot take, and one sound's name twice.
    for header in 8bit.h int.h main.h; do
        refuses "$header" "the manifest $header would name its table ${header%.h}, which C does not take" \
            "${originals[@]}" "-DORIGINALS=ORIGINALS;$work/o/a.flac" "-DHEADER=$header"
    done
    mkdir -p "$work/o/x"
    recording "$work/o/x/a.wav" 2 44100 16 440
    refuses "one name twice" "$work/o/a.flac and $work/o/x/a.wav are both the sound a in" \
        "${originals[@]}" "-DORIGINALS=ORIGINALS;$work/o/a.flac;$work/o/x/a.wav"
    echo "names, folders and destinations refused by name; DESTINATION taken as a folder; originals checked"
    ;;

build)
    project=$work/firmware
    cp -r "$source/tests/firmware" "$project"
    mkdir -p "$project/originals" "$project/recordings"
    recording "$project/originals/Alarm.WAV" 2 48000 24 440
    recording "$project/originals/door bell.flac" 1 44100 16 523
    recording "$project/originals/жук.flac" 2 44100 16 660
    wave 1 ABCDEF > "$project/recordings/m.wav"
    wave 1 ABCDEF > "$project/recordings/m x.wav"
    wave 2 abcdefghijkl > "$project/recordings/s.wav"
    wave 2 abcdefghijkl > "$project/tone.in"
    for original in Alarm.WAV "door bell.flac" жук.flac; do
        by_hand "$project/originals/$original" "$work/expected" "${original%.*}"
    done
    built() {  # FOLDER [ARGUMENT...]: the project built there, with the files it must make
        local player=$1/player
        [[ " $* " != *" Ninja Multi-Config "* ]] || player=$1/Debug/player
        quietly "configure $1" "$cmake" -S "$project" -B "$1" "$prefix" "${@:2}"
        quietly "build $1" "$cmake" --build "$1"
        expect_quiet
        expect_files "$1/sounds" Alarm_l.vsf Alarm_r.vsf "door bell.vsf" жук_l.vsf жук_r.vsf
        diff -r "$work/expected" "$1/sounds" || fail "$1: the originals are not as the README makes them"
        expect_files "$1/image" m.vsf "m x.vsf" s_l.vsf s_r.vsf tone_l.vsf tone_r.vsf
        expect_bytes "$1/image/m.vsf" mono_vsf
        expect_bytes "$1/image/s_l.vsf" left_vsf
        expect_bytes "$1/image/s_r.vsf" right_vsf
        expect_bytes "$1/image/tone_r.vsf" right_vsf
        # In the order of the sounds' names.
        (cd "$1/image" && cat m.vsf "m x.vsf" s_l.vsf s_r.vsf tone_l.vsf tone_r.vsf) |
            cmp - "$1/firmware.bin" || fail "$1/firmware.bin"
        [ "$("$player" "$1/sounds")" = "3 sounds, 5 block files, 5 embedded, as listed" ] ||
            fail "$player: $("$player" "$1/sounds")"
    }
    built "$work/a" -G Ninja
    idle "$work/a"
    # Its sounds in the order of their names, by the fixed rule of C names.
    [ "$(sed -n 's/^    \(SOUNDS_[^ ]*\) = .*/\1/p' "$work/a/sounds.h" | tr '\n' ' ')" = \
      "SOUNDS_ALARM SOUNDS_DOOR_BELL SOUNDS_d0b6d183d0ba SOUNDS_COUNT " ] || fail "sounds.h's enum"
    # What a call keeps in CMakeFiles/sndblok, deleted: made again.
    rm "$work/a/CMakeFiles/sndblok/player_sounds/claims"
    quietly "build after claims went" "$cmake" --build "$work/a"
    # A sound converted again to the same bytes leaves the manifest as it was.
    listed=$(stat -c %y "$work/a/sounds.h")
    touch "$project/originals/жук.flac"
    quietly "build after touch" "$cmake" --build "$work/a"
    [ "$(stat -c %y "$work/a/sounds.h")" = "$listed" ] || fail "sounds.h written again for nothing"
    # The manifest is C99 and C++ alike.
    for compiler in "cc -std=c99 -x c" "c++ -std=c++11 -x c++"; do
        $compiler -fsyntax-only -Wall -Wextra -pedantic -Werror - < "$work/a/sounds.h" ||
            fail "sounds.h with $compiler"
    done
    # Another folder, the same bytes: block files, manifest, embedded sources.
    built "$work/b" -G Ninja
    for made in sounds image sounds.h CMakeFiles/sndblok/player_sounds/embed; do
        diff -r "$work/a/$made" "$work/b/$made" || fail "$made differs between two build folders"
    done
    # A made file said to be mono that is stereo: caught when converted.
    quietly "configure MONO" "$cmake" "$work/b" -DMADE_CHANNELS=MONO
    refuses "a stereo file taken as mono" "made/tone.wav is STEREO, but the build has it as MONO" \
        "$cmake" --build "$work/b"
    # Unix Makefiles: each source converted once, though the image's target
    # uses the block files too, and nothing the second time.
    printf '#!/bin/sh\necho "$1" >> %s\nexec %s "$@"\n' "$work/runs" "$program" > "$work/counted"
    chmod +x "$work/counted"
    built "$work/c" -G "Unix Makefiles" -DSNDBLOK_EXECUTABLE="$work/counted" -DCMAKE_MAKE_PROGRAM=make
    sed 's|.*/||' "$work/runs" | sort | uniq -c | awk '$1 != 1 { print; bad = 1 } END { exit bad }' ||
        fail "a source converted more than once"
    [ "$(wc -l < "$work/runs")" = 7 ] || fail "$(wc -l < "$work/runs") conversions, not 7"
    quietly "second build" "$cmake" --build "$work/c"
    [ "$(wc -l < "$work/runs")" = 7 ] || fail "the second build converted again"
    # A sound converted again to the same bytes: its data compiled no more,
    # then nothing made; a manifest deleted comes back.
    touch "$project/originals/Alarm.WAV"
    quietly "build after touch" "$cmake" --build "$work/c"
    quietly "build after that" "$cmake" --build "$work/c"
    if grep -E 'Building|sndblok/' "$work/log"; then fail "Unix Makefiles builds again for nothing"; fi
    rm "$work/c/sounds.h"
    quietly "build without the manifest" "$cmake" --build "$work/c"
    cmp "$work/a/sounds.h" "$work/c/sounds.h" || fail "sounds.h came back other"
    # Ninja Multi-Config: the same, its player in the default configuration's folder.
    built "$work/e" -G "Ninja Multi-Config"
    idle "$work/e"
    # Where the system has no POSIX shell, each step runs in CMake: the same bytes.
    built "$work/d" -G Ninja -DSNDBLOK_PORTABLE_STEPS=ON
    diff -r "$work/a/image" "$work/d/image" || fail "the portable steps make other files"
    echo "the sample firmware builds its sounds, exact and the same in two folders, once a source"
    ;;

rebuild)
    project=$work/r
    small "$project"
    wave 1 ABCDEF > "$project/sounds/m.wav"
    wave 2 abcdefghijkl > "$project/sounds/s.wav"
    wave 2 abcdefghijkl > "$project/sounds/жук.wav"
    wave 1 ABCDEF > "$project/sounds/café.wav"
    wave 1 ABCDEF > "$project/sounds/$(printf 'caf\351').wav"
    mkdir "$project/extra"
    wave 1 ABCDEF > "$project/extra/x.wav"
    out=$project/build/sounds
    configure() { quietly "configure" "$cmake" -S "$project" -B "$project/build" -G Ninja "$prefix" "$@"; }
    again() {  # WHAT: a build, then nothing left to do
        quietly "$1" "$cmake" --build "$project/build"
        expect_quiet
        idle "$project/build"
    }
    configure -DSECOND=ON
    again "first build"
    all=(m.vsf s_l.vsf s_r.vsf жук_l.vsf жук_r.vsf café.vsf "$(printf 'caf\351').vsf" x.vsf)
    expect_files "$out" "${all[@]}"
    # One source touched: it alone is converted again.
    touched=$(stat -c %y "$out/s_l.vsf") untouched=$(stat -c %y "$out/m.vsf")
    touch "$project/sounds/s.wav"
    again "build after touch"
    [ "$(stat -c %y "$out/s_l.vsf")" != "$touched" ] || fail "the touched source was not converted"
    [ "$(stat -c %y "$out/m.vsf")" = "$untouched" ] || fail "an untouched source was converted"
    # Stereo turned mono, and sources of any bytes taken out: no block file stays.
    wave 1 ABCDEF > "$project/sounds/жук.wav"
    rm "$project/sounds/café.wav" "$project/sounds/$(printf 'caf\351').wav"
    configure
    again "build after changes"
    expect_files "$out" m.vsf s_l.vsf s_r.vsf жук.vsf x.vsf
    expect_bytes "$out/жук.vsf" mono_vsf
    # A call taken out: its block files go.
    configure -DSECOND=OFF
    again "build without the second call"
    expect_files "$out" m.vsf s_l.vsf s_r.vsf жук.vsf
    # The destination, or the build's own state, deleted: the next build
    # makes them again, without configuring by hand.
    for gone in "$out" "$project/build/CMakeFiles/sndblok"; do
        rm -rf "$gone"
        again "build after $gone went"
        expect_files "$out" m.vsf s_l.vsf s_r.vsf жук.vsf
        expect_bytes "$out/s_r.vsf" right_vsf
    done
    # A source gone bad fails the build, named, with sndblok's message and
    # no usage banner; its block file stays as it was.
    printf RIFX > "$project/sounds/m.wav"
    configure
    if "$cmake" --build "$project/build" > "$work/log" 2>&1; then fail "a bad source built"; fi
    grep -F "sndblok cannot convert $project/sounds/m.wav:" "$work/log" > /dev/null &&
        grep -Fx ' Input file m.wav is not a valid .wav file' "$work/log" > /dev/null ||
        { cat "$work/log"; fail "the log does not name m.wav with sndblok's message"; }
    if grep -F 'USAGE' "$work/log"; then fail "the usage banner is in the build log"; fi
    expect_bytes "$out/m.vsf" mono_vsf
    wave 1 ABCDEF > "$project/sounds/m.wav"
    # Two build folders share a destination: each keeps the other's block
    # files, and removes only what it made.
    other=$work/other
    small "$other"
    wave 2 abcdefghijkl > "$other/sounds/o.wav"
    wave 1 ABCDEF > "$other/sounds/p.wav"
    configure "-DDEST=$work/shared"
    again "build into a shared folder"
    quietly "configure another" "$cmake" -S "$other" -B "$other/build" -G Ninja "$prefix" \
        "-DDEST=$work/shared"
    quietly "build another" "$cmake" --build "$other/build"
    rm "$other/sounds/p.wav"
    quietly "configure another again" "$cmake" "$other/build"
    quietly "build another again" "$cmake" --build "$other/build"
    again "build the first again"
    expect_files "$work/shared" m.vsf s_l.vsf s_r.vsf жук.vsf o_l.vsf o_r.vsf
    echo "what changed is converted again, what no call makes goes, and what went comes back"
    ;;

interrupt)
    # sndblok stopped midway, as SIGKILL stops it, once it has written into
    # its outputs: it and its build die at once. And mv stopped after moving
    # the first block file of a pair. Every build after must make the right
    # files.
    mkdir -p "$work/bin"
    printf '%s\n' '#!/bin/sh' "[ -e $work/die-sndblok ] || exec $program \"\$@\"" \
        'for f in "${1%.wav}".vsf "${1%.wav}"_l.vsf "${1%.wav}"_r.vsf; do printf cut > "$f"; done' \
        'kill -KILL 0' > "$work/bin/sndblok"
    printf '%s\n' '#!/bin/sh' "[ -e $work/die-mv ] || exec /bin/mv \"\$@\"" \
        'case "$*" in *.vsf*) ;; *) exec /bin/mv "$@" ;; esac' \
        'shift; if [ $# -gt 2 ]; then /bin/mv -f "$1" "$3"; else /bin/mv -f "$1" "$2"; fi' \
        'kill -KILL 0' > "$work/bin/mv"
    chmod +x "$work/bin/sndblok" "$work/bin/mv"
    # $1: a project; $2: how to build it; $3: its block files' folder.
    # A name as long as a file's may be: 255 bytes with .vsf.
    long=$(printf 'l%.0s' {1..251})
    sounds() {  # PROJECT
        mkdir -p "$1/sounds"
        wave 2 abcdefghijkl > "$1/sounds/s.wav"
        wave 1 ABCDEF > "$1/sounds/m.wav"
        wave 1 ABCDEF > "$1/sounds/$long.wav"
    }
    killed() {
        local project=$1 how=$2 out=$3 step
        quietly "first build" eval "$how"
        for step in sndblok mv; do
            # New samples, and the new files cut short: the old ones stay, or
            # the build makes them all again.
            wave 2 ABCDEFGHIJKL > "$project/sounds/s.wav"
            touch "$work/die-$step"
            (PATH=$work/bin:$PATH setsid -w sh -c "$how" > "$work/log" 2>&1; exit $?) 2> /dev/null &&
                fail "$step did not die"
            rm "$work/die-$step"
            # Stopped between the renames: a new right one, the old left one.
            [ "$step" = sndblok ] || { cmp -s "$out/s_r.vsf" <(printf '\0\0\0\1JL'; ff 506) &&
                cmp -s "$out/s_l.vsf" <(left_vsf); } || fail "mv died elsewhere"
            quietly "build after $step died" eval "$how"
            cmp "$out/s_l.vsf" <(printf '\0\0\0\1IK'; ff 506) || fail "s_l.vsf after $step died"
            cmp "$out/s_r.vsf" <(printf '\0\0\0\1JL'; ff 506) || fail "s_r.vsf after $step died"
            expect_files "$out" m.vsf s_l.vsf s_r.vsf "$long.vsf"
            wave 2 abcdefghijkl > "$project/sounds/s.wav"
            quietly "build back" eval "$how"
        done
        # A destination deleted, then the build killed while making it again.
        rm -r "$out"
        touch "$work/die-sndblok"
        (PATH=$work/bin:$PATH setsid -w sh -c "$how" > "$work/log" 2>&1; exit $?) 2> /dev/null &&
            fail "sndblok did not die"
        rm "$work/die-sndblok"
        quietly "build after a fresh one died" eval "$how"
        expect_files "$out" m.vsf s_l.vsf s_r.vsf "$long.vsf"
        expect_bytes "$out/m.vsf" mono_vsf
        expect_bytes "$out/s_l.vsf" left_vsf
    }
    # The second into a destination on another file system where there is
    # one, tmpfs: the files are written there under names of their own.
    other=$(mktemp -d -p /dev/shm 2> /dev/null || mktemp -d)
    trap '[ -n "${KEEP:-}" ] || rm -rf "$work" "$other"' EXIT
    for generator in Ninja "Unix Makefiles"; do
        project=$work/$generator out=$project/build/sounds
        [ "$generator" = Ninja ] || out=$other/sounds
        small "$project"
        sounds "$project"
        quietly "configure" "$cmake" -S "$project" -B "$project/build" -G "$generator" "$prefix" \
            "-DSNDBLOK_EXECUTABLE=$work/bin/sndblok" "-DDEST=$out"
        killed "$project" "'$cmake' --build '$project/build'" "$out"
    done
    project=$work/make
    sounds "$project"
    printf '%s\n' 'SNDBLOK_SOURCES := $(wildcard sounds/*.wav)' 'SNDBLOK_DESTINATION := build/sounds' \
        "include $stage/usr/local/share/sndblok/sndblok.mk" > "$project/Makefile"
    killed "$project" "make -C '$project' SNDBLOK='$work/bin/sndblok' sndblok-sounds" \
        "$project/build/sounds"
    echo "a build killed while converting leaves only whole files, and the next one the right ones"
    ;;

make)
    project=$work/make
    cp -r "$source/tests/firmware" "$project"
    mkdir -p "$project/originals" "$project/recordings"
    recording "$project/originals/Alarm.WAV" 2 48000 24 440
    recording "$project/originals/bell.flac" 1 44100 16 523
    for original in Alarm.WAV bell.flac; do
        by_hand "$project/originals/$original" "$work/expected" "${original%.*}"
    done
    wave 1 ABCDEF > "$project/recordings/m.wav"
    wave 2 abcdefghijkl > "$project/recordings/s.wav"
    wave 2 abcdefghijkl > "$project/tone.in"
    # make takes no spaces; letters outside ASCII it does, and marks that
    # neither make nor the shell reads in a quoted name, and a leading -.
    wave 2 abcdefghijkl > "$project/recordings/жук.wav"
    wave 1 ABCDEF > "$project/recordings/{x}!.wav"
    wave 2 abcdefghijkl > "$project/recordings/-x.wav"
    # And names as long as a file's name may be: 255 bytes with .vsf.
    long=$(printf 'l%.0s' {1..251})
    wave 1 ABCDEF > "$project/recordings/$long.wav"
    wave 1 ABCDEF > "$project/recordings/s-x.wav"
    out=$project/build/sounds
    make() { command make --no-print-directory "$@"; }
    mk_build() { quietly "$1" make -C "$project" -j2 "$mk"; expect_quiet; }
    mk_build "first build"
    made=(Alarm_l.vsf Alarm_r.vsf bell.vsf m.vsf s_l.vsf s_r.vsf tone_l.vsf tone_r.vsf жук_l.vsf
          жук_r.vsf "{x}!.vsf" -x_l.vsf -x_r.vsf "$long.vsf" s-x.vsf)
    expect_files "$out" "${made[@]}"
    for file in Alarm_l.vsf Alarm_r.vsf bell.vsf; do
        cmp "$work/expected/$file" "$out/$file" || fail "$file is not as the README makes it"
    done
    expect_bytes "$out/-x_r.vsf" right_vsf
    expect_bytes "$out/$long.vsf" mono_vsf
    [ "$("$project/build/player" "$out")" = "10 sounds, 15 block files, 0 embedded, as listed" ] ||
        fail "player: $("$project/build/player" "$out")"
    # The manifest lists them in the order of their names, as CMake's does.
    [ "$(sed -n 's/^    SOUNDS_\([^ ]*\) = .*/\1/p' "$project/build/sounds.h" | cut -c1-6 | tr '\n' ' ')" = \
      "_X ALARM BELL LLLLLL M S S_X TONE _X__ d0b6d1 COUNT " ] || fail "sounds.h's enum"
    make -C "$project" -q "$mk" || fail "make has work left"
    # The build's own folder, deleted: made again, without a word.
    rm -r "$project/.sndblok/Makefile/stage"
    touch "$project/recordings/m.wav"
    mk_build "build after the stage went"
    # Stereo turned mono: no _l/_r files stay, but a dry run removes nothing.
    wave 1 ABCDEF > "$project/recordings/s.wav"
    make -C "$project" -n "$mk" > /dev/null 2>&1 || true
    make -C "$project" -q "$mk" > /dev/null 2>&1 || true
    [ -e "$out/s_l.vsf" ] || fail "a dry run removed s_l.vsf"
    mk_build "build after stereo to mono"
    expect_bytes "$out/s.vsf" mono_vsf
    [ ! -e "$out/s_l.vsf" ] && [ ! -e "$out/s_r.vsf" ] || fail "s_l.vsf or s_r.vsf stayed"
    # A source gone bad fails the build, named, with sndblok's message.
    printf RIFX > "$project/recordings/m.wav"
    if make -C "$project" "$mk" > "$work/log" 2>&1; then fail "a bad source built"; fi
    grep -Fx ' Input file m.wav is not a valid .wav file' "$work/log" > /dev/null ||
        { cat "$work/log"; fail "the log lacks sndblok's message"; }
    if grep -F 'USAGE' "$work/log"; then fail "the usage banner is in the build log"; fi
    rm "$project/recordings/m.wav"
    mk_build "build after a source went"
    [ ! -e "$out/m.vsf" ] || fail "m.vsf stayed"
    # A program given by a relative name, as a vendored one is.
    mkdir -p "$project/tools"
    cp "$program" "$project/tools/sndblok"
    rm -r "$project/.sndblok/Makefile/stage"
    printf RIFX > "$project/recordings/m.wav"
    refuses "relative program" " Input file m.wav is not a valid .wav file" \
        make -C "$project" "$mk" SNDBLOK=tools/sndblok
    rm "$project/recordings/m.wav"
    quietly "relative program" make -C "$project" "$mk" SNDBLOK=tools/sndblok
    # A FIFO among the sources is refused at once.
    mkfifo "$project/recordings/f.wav"
    refuses "a FIFO" "sndblok: recordings/f.wav is not a file" make -C "$project" "$mk"
    rm "$project/recordings/f.wav"
    # Another makefile beside it, and another folder's into the same
    # destination: each keeps the others' files. Its source's name begins
    # with -, which no program may take for an option.
    printf '%s\n' 'SNDBLOK_SOURCES := tone.in.wav' 'SNDBLOK_DESTINATION := build/tones' \
        "include $stage/usr/local/share/sndblok/sndblok.mk" > "$project/tones.mk"
    cp "$project/tone.in" "$project/tone.in.wav"
    quietly "the makefile beside" make -C "$project" -f tones.mk sndblok-sounds
    mk_build "build beside another makefile in its folder"
    quietly "the makefile beside again" make -C "$project" -f tones.mk sndblok-sounds
    [ -e "$project/build/tones/tone.in_l.vsf" ] && [ -e "$out/bell.vsf" ] || fail "one folder, two makefiles"
    mkdir -p "$work/other/sounds"
    wave 1 ABCDEF > "$work/other/sounds/o.wav"
    wave 1 ABCDEF > "$work/other/sounds/p.wav"
    wave 2 abcdefghijkl > "$work/other/-q.wav"
    printf '%s\n' 'SNDBLOK_SOURCES := $(wildcard sounds/*.wav) -q.wav' "SNDBLOK_DESTINATION := $out" \
        "include $stage/usr/local/share/sndblok/sndblok.mk" > "$work/other/Makefile"
    quietly "the other makefile" make -C "$work/other" sndblok-sounds
    rm "$work/other/sounds/p.wav"
    quietly "the other makefile again" make -C "$work/other" sndblok-sounds
    mk_build "build beside another makefile"
    [ -e "$out/o.vsf" ] && [ ! -e "$out/p.vsf" ] && [ -e "$out/bell.vsf" ] || fail "shared folder"
    expect_bytes "$out/-q_r.vsf" right_vsf
    # What cannot be made fails the build, named: a made source whose own
    # step fails on a first build, a listed source that is not there.
    mv "$project/tone.in" "$work/tone.in"
    rm -r "$project/build"
    refuses "failed step" "No rule to make target 'tone.in', needed by 'build/made/tone.wav'" \
        make -C "$project" "$mk"
    mv "$work/tone.in" "$project/tone.in"
    refuses "missing source" "No rule to make target 'recordings/gone.wav'" make -C "$project" "$mk" \
        'SNDBLOK_SOURCES=$(wildcard recordings/*.wav) recordings/gone.wav'
    # make clean converts nothing, nor makes a made source.
    rm -rf "$project/build"
    quietly "make clean" make -C "$project" "$mk" clean
    [ ! -e "$project/build/made/tone.wav" ] || fail "make clean made tone.wav"
    # A name that make or the shell would take apart is refused, by name;
    # one with a space too, where make can tell it.
    refuses "a space" "not: SNDBLOK_DESTINATION=my sounds" make -C "$project" "$mk" \
        'SNDBLOK_DESTINATION=my sounds'
    refuses "a space" "not: originals/door" make -C "$project" "$mk" \
        'SNDBLOK_ORIGINALS=originals/door bell.flac'
    printf x > "$project/recordings/it's.wav"
    refuses "it's.wav" "not: recordings/it's.wav" make -C "$project" "$mk"
    rm "$project/recordings/it's.wav"
    # A copy of the project builds into its own destination, not the first's.
    rm -rf "$project/build"
    quietly "build again" make -C "$project" "$mk"
    cp -a "$project" "$work/copy"
    rm -r "$work/copy/build"
    wave 2 ABCDEFGHIJKL > "$work/copy/recordings/s.wav"
    touch "$work/copied"
    quietly "build the copy" make -C "$work/copy" "$mk"
    [ -z "$(find "$project" -newer "$work/copied")" ] || fail "building a copy changed the first"
    expect_bytes "$out/s.vsf" mono_vsf
    cmp "$work/copy/build/sounds/s_l.vsf" <(printf '\0\0\0\1IK'; ff 506) || fail "the copy's s_l.vsf"
    echo "GNU make converts the firmware's sounds as CMake does"
    ;;

cross)
    # find_package looks only inside the sysroot, where the target's package
    # stands beside a program this machine cannot run; the conversion takes
    # this machine's program from the PATH. A root written with a trailing
    # slash is the same root; a package that is only on this machine is
    # found through sndblok_DIR.
    sysroot=$work/sysroot bare=$work/bare
    mkdir -p "$sysroot/usr/bin" "$bare/usr/bin"
    cp -r "$stage/usr/local/lib" "$sysroot/usr/"
    printf '#!/bin/sh\necho "the target program ran" >&2; exit 99\n' > "$sysroot/usr/bin/sndblok"
    chmod +x "$sysroot/usr/bin/sndblok"
    cp "$sysroot/usr/bin/sndblok" "$bare/usr/bin/"
    project=$work/cross
    small "$project"
    wave 1 ABCDEF > "$project/sounds/m.wav"
    cross() {  # ROOT [ARGUMENT...]: the project built for a target whose sysroot is ROOT
        local root=$1
        shift
        printf '%s\n' "set(CMAKE_SYSTEM_NAME Generic)" "set(CMAKE_SYSROOT \"$root\")" \
            "set(CMAKE_FIND_ROOT_PATH \"$root\")" "set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)" \
            "set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)" > "$work/toolchain.cmake"
        rm -rf "$project/build"
        quietly "cross build in $root $*" "$cmake" -S "$project" -B "$project/build" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_PREFIX_PATH=/usr "$@"
        quietly "cross build in $root $*" "$cmake" --build "$project/build"
        expect_bytes "$project/build/sounds/m.vsf" mono_vsf
    }
    cross "$sysroot"
    cross "$sysroot/"
    cross "$bare" -Dsndblok_DIR="$stage/usr/local/lib/cmake/sndblok"
    echo "a cross build finds the package in the sysroot and converts with this machine's program"
    ;;

*)
    fail "no group $group"
    ;;
esac
