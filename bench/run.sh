#!/usr/bin/env bash
# Times sndblok against the I/O floor (dd) and against sox doing the same
# job, on 128 MiB mono and stereo inputs of random mu-law bytes, and reports
# sndblok's peak memory: for each figure the range over ROUNDS rounds, each
# the median of RUNS runs, as the README quotes them.
# Then the cost of a build through the CMake package (bench/build.sh).
# Usage: bench/run.sh [SNDBLOK] [MiB] [RUNS] [ROUNDS]
# Runs on Linux, macOS and the BSDs.
set -euo pipefail
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian: apt-get install time)" >&2; exit 1; }

sndblok=$(realpath "${1:-build/release/sndblok}")
mib=${2:-128}
runs=${3:-9}
rounds=${4:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 32 kHz mu-law WAVE file of `bytes` random sample bytes.
make_wave() {  # path channels bytes
    local path=$1 channels=$2 bytes=$3
    le16() { printf "$(printf '\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)))"; }
    le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16)); }
    {
        printf 'RIFF'; le32 $((bytes + 36)); printf 'WAVEfmt '; le32 16
        le16 7; le16 "$channels"; le32 32000; le32 $((32000 * channels)); le16 "$channels"; le16 8
        printf 'data'; le32 "$bytes"
        head -c "$bytes" /dev/urandom
    } > "$path"
}

size() { wc -c < "$1" | tr -d ' '; }
# Nanoseconds since the epoch; BSD date has no %N.
if [ "$(date +%N)" != "%N" ] && [ "$(date +%N)" != "N" ]; then
    now() { date +%s%N; }
else
    now() { perl -MTime::HiRes=time -e 'printf "%.0f\n", time * 1e9'; }
fi
# Peak resident memory of a command in KiB: GNU time, or BSD time -l, which
# gives bytes on macOS and KiB elsewhere.
peak_kib() {
    if /usr/bin/time -f %M true > /dev/null 2>&1; then
        /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -n 1
    else
        local unit=1; [ "$(uname)" = Darwin ] && unit=1024
        /usr/bin/time -l "$@" 2>&1 > /dev/null |
            awk -v unit="$unit" '/maximum resident set size/ { print int($1 / unit) }'
    fi
}
# Runs the command once and appends its wall time in seconds to the file.
timed() {  # file command...
    local out=$1; shift
    sync  # no writeback left over from the run before
    local start; start=$(now)
    "$@" > /dev/null 2>&1
    echo "$(( $(now) - start ))" | awk '{ printf "%.4f\n", $1 / 1e9 }' >> "$out"
}
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

sox_stereo() {
    sox "$1" -t raw -e u-law -b 8 "$work/sox_l.raw" remix 1
    sox "$1" -t raw -e u-law -b 8 "$work/sox_r.raw" remix 2
}

bytes=$((mib * 1024 * 1024))
make_wave "$work/mono.wav" 1 "$bytes"
make_wave "$work/stereo.wav" 2 "$bytes"
have_sox=false
command -v sox > /dev/null && have_sox=true

range() {  # FILE: the lowest and the highest value in it, as LOW-HIGH (or one value)
    sort -g "$1" | awk -v f="${2:-%.2f}" 'NR == 1 { lo = $1 } { hi = $1 }
        END { l = sprintf(f, lo); h = sprintf(f, hi); print (l == h) ? l : l "-" h }'
}

make_wave "$work/small.wav" 2 $((1024 * 1024))
for round in $(seq "$rounds"); do
    rm -f "$work"/t_*
    for _ in $(seq "$runs"); do
        for kind in mono stereo; do
            timed "$work/t_sndblok_$kind" "$sndblok" "$work/$kind.wav"
            timed "$work/t_dd_$kind" dd if="$work/$kind.wav" of="$work/dd.out" bs=64k
        done
        if $have_sox; then
            timed "$work/t_sox_mono" sox "$work/mono.wav" -t raw -e u-law -b 8 "$work/sox.raw"
            timed "$work/t_sox_stereo" sox_stereo "$work/stereo.wav"
        fi
    done
    # Whole outputs, one block per 512 samples, or the figures mean nothing.
    if [ "$(size "$work/mono.vsf")" -ne "$bytes" ] ||
       [ "$(size "$work/stereo_l.vsf")" -ne $((bytes / 2)) ]; then
        echo "sndblok wrote outputs of the wrong size" >&2
        exit 1
    fi
    for kind in mono stereo; do
        s=$(median "$work/t_sndblok_$kind"); d=$(median "$work/t_dd_$kind")
        echo "$s" >> "$work/r_sndblok_$kind"; echo "$d" >> "$work/r_dd_$kind"
        div "$s" "$d" >> "$work/r_ratio_$kind"; echo >> "$work/r_ratio_$kind"
        if $have_sox; then div "$(median "$work/t_sox_$kind")" "$s" >> "$work/r_sox_$kind"; echo >> "$work/r_sox_$kind"; fi
    done
    for input in small stereo; do
        awk -v k="$(peak_kib "$sndblok" "$work/$input.wav")" 'BEGIN { printf "%.1f\n", k / 1024 }' >> "$work/r_memory"
    done
done

echo "$rounds rounds, each the median of $runs runs, on ${mib} MiB inputs:"
for kind in mono stereo; do
    line=$(printf '  %-7s sndblok %s s, dd %s s, sndblok/dd %s' "$kind:" "$(range "$work/r_sndblok_$kind" %.3f)" \
        "$(range "$work/r_dd_$kind" %.3f)" "$(range "$work/r_ratio_$kind")")
    if $have_sox; then line+=", sox took $(range "$work/r_sox_$kind" %.0f) times as long"; fi
    echo "$line"
done
echo "  peak resident memory of sndblok: $(range "$work/r_memory" %.1f) MiB (1 MiB and ${mib} MiB stereo inputs)"
# What the CMake package adds when a build converts many small sounds.
if command -v cmake > /dev/null && command -v ninja > /dev/null; then
    echo "  $("$(dirname "$0")/build.sh" "$sndblok" 200 "$runs")"
fi
