#!/usr/bin/env bash
# What the CMake package costs a build: SOURCES prepared sounds of half a
# second (two in three mono, the rest stereo) converted by a Ninja build at
# -j2, against sndblok run directly on the same files by xargs -P2, each the
# median of RUNS runs; and a build with nothing to do.
# Usage: bench/build.sh [SNDBLOK] [SOURCES] [RUNS] (needs cmake and ninja)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sndblok=$(realpath "${1:-build/release/sndblok}")
sources=${2:-200}
runs=${3:-9}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

le16() { printf "$(printf '\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16)); }
wave() {  # PATH CHANNELS BYTES: 32 kHz mu-law, random samples
    { printf 'RIFF'; le32 $(($3 + 36)); printf 'WAVEfmt '; le32 16
      le16 7; le16 "$2"; le32 32000; le32 $((32000 * $2)); le16 "$2"; le16 8
      printf 'data'; le32 "$3"; head -c "$3" /dev/urandom; } > "$1"
}
mkdir -p "$work/project/sounds" "$work/direct"
for i in $(seq "$sources"); do
    channels=$((i % 3 == 0 ? 2 : 1))
    wave "$work/project/sounds/s$i.wav" $channels $((16000 * channels))
done
cp "$work/project/sounds"/*.wav "$work/direct/"
cat > "$work/project/CMakeLists.txt" << 'EOF'
cmake_minimum_required(VERSION 3.16)
project(bench NONE)
find_package(sndblok REQUIRED)
file(GLOB recordings ${CMAKE_CURRENT_SOURCE_DIR}/sounds/*.wav)
sndblok_add_sounds(TARGET sounds SOURCES ${recordings} DESTINATION sounds)
EOF
cmake -S "$work/project" -B "$work/build" -G Ninja -Dsndblok_DIR="$here/../integration" \
      -DSNDBLOK_EXECUTABLE="$sndblok" > /dev/null
ninja -C "$work/build" > /dev/null

now() { date +%s%N; }
timed() {  # FILE COMMAND...: appends the command's wall time in seconds
    local out=$1 start
    shift
    sync
    start=$(now)
    "$@" > /dev/null 2>&1
    echo "$(( $(now) - start ))" | awk '{ printf "%.4f\n", $1 / 1e9 }' >> "$out"
}
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
direct() { find "$work/direct" -name '*.wav' -print0 | xargs -0 -n1 -P2 "$sndblok"; }
build() { rm -f "$work/build/sounds"/*.vsf && ninja -C "$work/build" -j2; }
for _ in $(seq "$runs"); do
    timed "$work/t_direct" direct
    timed "$work/t_build" build
    timed "$work/t_idle" ninja -C "$work/build" -j2
done
[ "$(ls "$work/build/sounds" | wc -l)" = "$(ls "$work/direct"/*.vsf | wc -l)" ] ||
    { echo "the build did not make every block file" >&2; exit 1; }
d=$(median "$work/t_direct") b=$(median "$work/t_build") i=$(median "$work/t_idle")
printf '%s sounds, median of %s runs: sndblok by xargs -P2 %s s, a Ninja build -j2 %s s (%s times as long), a build with nothing to do %s s\n' \
    "$sources" "$runs" "$d" "$b" "$(awk -v a="$b" -v b="$d" 'BEGIN { printf "%.1f", a / b }')" "$i"
