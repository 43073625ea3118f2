#!/usr/bin/env bash
# The README's lines that make an acceptable file, each within a loop that
# reads a list; then its lines for listening back, mono and stereo, with sox
# and with ffmpeg, each run twice: the second time over the first's
# check.wav, with nobody to answer a prompt. check.wav must hold every
# sample of the outputs. Last, its table of what some producers write.
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

# The README's table of what some producers write: a file made as each row
# says (by the README's ffmpeg line with the row's option, where it names
# one) makes sndblok print what the row's second column quotes, and each
# sox or ffmpeg command of its third column, or for an ffmpeg setting the
# ffmpeg line with the option it names instead, makes a file that sndblok
# takes.
cell() {  # ROW COLUMN: the code spans of that cell of the row that begins so, one a line
    grep -F "| $1" "$OLDPWD/README.md" | cut -d '|' -f $(($2 + 1)) | { grep -o '`[^`]*`' || true; } | tr -d '`'
}
ffmpeg_line() {  # OPTION OUTPUT: the README's ffmpeg line, from in.flac, with OPTION
    grep '^ffmpeg ' making | sed -e 's/ -i [^ ]* / -i in.flac /' -e "s/ take\.wav\$/ $1 $2/"
}
le32() { printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $(($1 >> 8 & 255)))\\$(printf %03o $(($1 >> 16 & 255)))\\$(printf %03o $(($1 >> 24)))"; }
junk() {  # a JUNK chunk before the format chunk
    size=$(wc -c < take.wav)
    { printf RIFF; le32 $((size + 4)); printf 'WAVEJUNK'; le32 4; printf '\0\0\0\0'; tail -c +13 take.wav; } > in.wav
}
rows=0
for row in "ffmpeg \`-rf64 auto\`" "ffmpeg \`-rf64 always\`" "mu-law in the extensible format" \
           "a \`bext\` or \`JUNK\` chunk" "a rate other than 32 kHz"; do
    rm -f in.wav
    case $row in
    ffmpeg*) sh -c "$(ffmpeg_line "$(cell "$row" 1 | grep -m1 -- "^-")" in.wav)" > /dev/null 2>&1 < /dev/null ;;
    *extensible*) ffmpeg -nostdin -v error -i in.flac -af 'pan=3c|c0=c0|c1=c1|c2=c0' -c:a pcm_mulaw in.wav ;;
    *JUNK*) junk ;;
    *rate*) sox -D in.flac -r 44100 -e u-law -b 8 in.wav ;;
    esac
    "$program" in.wav > printed && { echo "sndblok takes the file of: $row"; exit 1; }
    while IFS= read -r said; do
        grep -F "${said//PATH/in.wav}" printed > /dev/null || { echo "sndblok does not print $said for: $row"; exit 1; }
    done < <(cell "$row" 2)
    while IFS= read -r instead; do
        case $instead in
        sox\ *|ffmpeg\ *) line=$instead ;;
        -*\ *) [[ $row == ffmpeg* ]] || continue; line=$(ffmpeg_line "$instead" take.wav) ;;
        *) continue ;;
        esac
        rm -f take.wav
        sh -c "$line" > /dev/null 2>&1 < /dev/null || { echo "fails: $line"; exit 1; }
        "$program" take.wav > /dev/null || { echo "sndblok refuses what this makes: $line"; exit 1; }
        rows=$((rows + 1))
    done < <(cell "$row" 3)
done
echo "the producers' settings make what the README says; its $rows remedies make files sndblok takes"
