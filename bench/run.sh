#!/usr/bin/env bash
# Times sndblok on MiB-sized mono and stereo inputs of random mu-law bytes
# against the floor of a copy (cp, which has the system copy the file), dd
# bs=64k (one read and one write a block) and sox doing the same job, on
# tmpfs, where no disk hides the program, and on the disk; and reports
# sndblok's peak memory. For each figure: the range over ROUNDS rounds, each
# the median of RUNS runs, in wall time and in CPU time (user and system),
# as the README quotes them. Then the cost of a build through the CMake
# package (bench/build.sh).
# Usage: bench/run.sh [SNDBLOK] [MiB] [RUNS] [ROUNDS]; the folders are
# TMPFS (default /dev/shm, where there is one) and TMPDIR (default /tmp).
# Runs on Linux, macOS and the BSDs.
set -euo pipefail
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian: apt-get install time)" >&2; exit 1; }

sndblok=$(realpath "${1:-build/release/sndblok}")
mib=${2:-128}
runs=${3:-9}
rounds=${4:-3}
bytes=$((mib * 1024 * 1024))

# The folders measured in: tmpfs where there is one, and the disk.
places=() folders=()
tmpfs=${TMPFS:-/dev/shm}
if [ -d "$tmpfs" ] && [ -w "$tmpfs" ]; then
    places+=(tmpfs) folders+=("$(mktemp -d "$tmpfs/sndblok-bench.XXXXXX")")
fi
places+=(disk) folders+=("$(mktemp -d)")
trap 'rm -rf "${folders[@]}"' EXIT
work=${folders[${#folders[@]} - 1]}  # the figures, on the disk

# The file system a folder is on: its type where the system tells it.
file_system() {
    # Linux; the last of a folder's mounts is the one in use.
    findmnt -no FSTYPE -T "$1" 2> /dev/null | tail -n 1 | grep . ||
        df -P "$1" | awk 'NR == 2 { print $1 }'
}

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
# Runs the command once and appends its wall and CPU time in seconds to
# FILE_wall and FILE_cpu. Under load, wall time also counts the waits for a
# free core; CPU time is the work.
timed() {  # file command...
    local out=$1 TIMEFORMAT='%3R %3U %3S' times
    shift
    sync  # no writeback left over from the run before
    times=$( { time "$@" > /dev/null 2>&1; } 2>&1 )
    echo "$times" | awk '{ print $1 }' >> "${out}_wall"
    echo "$times" | awk '{ printf "%.3f\n", $2 + $3 }' >> "${out}_cpu"
}
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", (b > 0 ? a / b : 0) }'; }
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() {  # FILE [FORMAT]: the lowest and the highest value in it, as LOW-HIGH (or one value)
    sort -g "$1" | awk -v f="${2:-%.2f}" 'NR == 1 { lo = $1 } { hi = $1 }
        END { l = sprintf(f, lo); h = sprintf(f, hi); print (l == h) ? l : l "-" h }'
}
load() { uptime | sed 's/.*load averages*: *//; s/,.*//'; }

have_sox=false
command -v sox > /dev/null && have_sox=true
sox_mono() { sox "$1" -t raw -e u-law -b 8 "${1%/*}/sox.raw"; }
sox_stereo() {
    sox "$1" -t raw -e u-law -b 8 "${1%/*}/sox_l.raw" remix 1
    sox "$1" -t raw -e u-law -b 8 "${1%/*}/sox_r.raw" remix 2
}

for folder in "${folders[@]}"; do
    make_wave "$folder/mono.wav" 1 "$bytes"
    make_wave "$folder/stereo.wav" 2 "$bytes"
done
make_wave "$work/small.wav" 2 $((1024 * 1024))
load_before=$(load)

for round in $(seq "$rounds"); do
    rm -f "$work"/t_*
    for p in "${!places[@]}"; do
        f=${folders[$p]} t="$work/t_${places[$p]}"
        for _ in $(seq "$runs"); do
            for kind in mono stereo; do
                timed "${t}_sndblok_$kind" "$sndblok" "$f/$kind.wav"
                timed "${t}_cp_$kind" cp "$f/$kind.wav" "$f/cp.out"
                timed "${t}_dd_$kind" dd if="$f/$kind.wav" of="$f/dd.out" bs=64k
                if $have_sox; then timed "${t}_sox_$kind" "sox_$kind" "$f/$kind.wav"; fi
            done
        done
        # Whole outputs, one block per 512 samples, mono's the samples but
        # the four the count stands over, or the figures mean nothing.
        if [ "$(size "$f/mono.vsf")" -ne "$bytes" ] ||
           [ "$(size "$f/stereo_l.vsf")" -ne $((bytes / 2)) ] ||
           [ "$(size "$f/stereo_r.vsf")" -ne $((bytes / 2)) ] ||
           ! cmp -s <(tail -c +5 "$f/mono.vsf") <(tail -c +49 "$f/mono.wav"); then
            echo "sndblok wrote wrong outputs in $f" >&2
            exit 1
        fi
        for kind in mono stereo; do
            for clock in wall cpu; do
                r="$work/r_${places[$p]}_${kind}_$clock"
                s=$(median "${t}_sndblok_${kind}_$clock")
                echo "$s" >> "${r}_sndblok"
                for other in cp dd; do
                    o=$(median "${t}_${other}_${kind}_$clock")
                    echo "$o" >> "${r}_$other"
                    div "$s" "$o" >> "${r}_per_$other"
                done
                if $have_sox; then div "$(median "${t}_sox_${kind}_$clock")" "$s" >> "${r}_sox"; fi
            done
        done
    done
    for input in "$work/small.wav" "${folders[0]}/mono.wav" "${folders[0]}/stereo.wav"; do
        awk -v k="$(peak_kib "$sndblok" "$input")" 'BEGIN { printf "%.1f\n", k / 1024 }' >> "$work/r_memory"
    done
done

cores=$(getconf _NPROCESSORS_ONLN 2> /dev/null || sysctl -n hw.ncpu)
echo "sndblok on ${mib} MiB inputs, $(uname -sr), $cores cores; $rounds rounds, each the median of $runs runs;" \
     "load average $load_before at the start, $(load) at the end"
for p in "${!places[@]}"; do
    echo "  ${places[$p]} (${folders[$p]%/*}, $(file_system "${folders[$p]}")):"
    for kind in mono stereo; do
        for clock in wall cpu; do
            r="$work/r_${places[$p]}_${kind}_$clock"
            line=$(printf '    %-7s %-5s sndblok %s s, cp %s s, dd %s s; sndblok/cp %s, sndblok/dd %s' \
                "$kind:" "$clock" "$(range "${r}_sndblok" %.3f)" "$(range "${r}_cp" %.3f)" \
                "$(range "${r}_dd" %.3f)" "$(range "${r}_per_cp")" "$(range "${r}_per_dd")")
            if $have_sox; then line+="; sox took $(range "${r}_sox" %.0f) times as long"; fi
            echo "$line"
        done
    done
done
echo "  peak resident memory of sndblok: $(range "$work/r_memory" %.1f) MiB (1 MiB stereo, ${mib} MiB mono and stereo inputs)"
# What the CMake package adds when a build converts many small sounds.
if command -v cmake > /dev/null && command -v ninja > /dev/null; then
    echo "  $("$(dirname "$0")/build.sh" "$sndblok" 200 "$runs")"
fi
