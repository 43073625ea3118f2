#!/usr/bin/env bash
# The README's lines that make an acceptable file, each within a loop that
# reads a list; then its lines for listening back, mono and stereo, with sox
# and with ffmpeg, each run twice: the second time over the first's
# check.wav, with nobody to answer a prompt. check.wav must hold every
# sample of the outputs.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build g++ lowdown sox ffmpeg
cmake --workflow --preset release > /dev/null
program=$PWD/build/release/sndblok
lines() {  # MARKER: the README's lines under it, one command a line
    awk -v marker="<!-- $1 -->" '$0 == marker { take = 1; next } take && /^    / { print substr($0, 5); listed = 1; next }
         take && listed { exit }' README.md | sed -e ':a' -e '/\\$/N; s/\\\n//; ta'
}
lines "making an acceptable file" > "$scratch/making"
lines "listening back: mono, then stereo, with each tool" > "$scratch/lines"
cd "$scratch"
# The lines that make an acceptable file, from a FLAC and an MP3 file, each
# inside a loop that reads a list, as a batch does: every entry gets its turn.
sox "$OLDPWD/examples/duet.wav" in.flac && ffmpeg -nostdin -v error -i in.flac in.mp3
# Each run makes the same bytes.
while IFS= read -r line; do
    rm -f first.wav
    printf 'one\ntwo\n' | while IFS= read -r entry; do
        rm -f take.wav
        sh -c "$line" > /dev/null 2>&1 || { echo "fails: $line"; exit 1; }
        "$program" take.wav > /dev/null || { echo "sndblok refuses what this makes: $line"; exit 1; }
        [ -e first.wav ] || cp take.wav first.wav
        cmp first.wav take.wav > /dev/null || { echo "another run, other bytes: $line"; exit 1; }
        echo "$entry"
    done > seen
    [ "$(cat seen)" = "$(printf 'one\ntwo')" ] || { echo "the list was eaten: $line"; exit 1; }
done < making
cp "$OLDPWD/examples/duet.wav" take.wav && "$program" take.wav > /dev/null
sox take.wav -c 1 -e u-law mono.wav && mv mono.wav take.wav && "$program" take.wav > /dev/null
while IFS= read -r line; do
    case $line in *take_l.vsf*) channels=2 vsf=take_l.vsf ;; *) channels=1 vsf=take.vsf ;; esac
    for run in 1 2; do
        sh -c "$line" < /dev/null > /dev/null 2>&1 || { echo "run $run fails: $line"; exit 1; }
        [ "$(soxi -c check.wav) $(soxi -s check.wav)" = "$channels $(($(wc -c < $vsf) - 4))" ] ||
            { echo "check.wav is not the $vsf it should hold: $line"; exit 1; }
    done
done < lines
echo "$(wc -l < making) lines make acceptable files, $(wc -l < lines) listening lines work, twice each"
