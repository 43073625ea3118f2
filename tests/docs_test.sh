#!/usr/bin/env bash
# What README.md and the manual page made from it show a run printing is
# what the program prints for the bundled example, byte for byte; the
# signals they say undo a run are those the code names; the README's
# examples work as shown, and the manual page shows them as typed.
# Usage: docs_test.sh PROGRAM SOURCE_DIR MANUAL_PAGE
set -euo pipefail
program=$1 source=$2 manual=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$source/examples/duet.wav" "$work/"
(cd "$work" && "$program" duet.wav > printed)
# The README's fenced block after its marker.
awk '/^<!-- the output of: sndblok examples\/duet.wav -->$/ { getline; take = 1; next }
     take && /^```$/ { exit }
     take' "$source/README.md" > "$work/readme"
cmp "$work/printed" "$work/readme"
# The manual page shows it as a block of its own, each line as printed but
# for the tabs, which lowdown turns into spaces up to a multiple of four.
shown=$(printf '.EX\n'; expand -t4 "$work/printed"; printf '.EE')
[[ $(< "$manual") == *"$shown"* ]] || { echo "the manual page does not show what sndblok prints"; exit 1; }
# Code stands in it as typed: no bare hyphen or quote in a code block,
# which a renderer may print as a typographic one.
if awk '/^\.EE$/ { code = 0 } code; /^\.EX$/ { code = 1 }' "$manual" | sed 's/\\-//g' | grep "[-']"; then
    echo "the manual page's code blocks hold a bare - or '"; exit 1
fi

# "sndblok --version looks for a file of that name": where there is none,
# it cannot open it.
status=0
(cd "$work" && "$program" --version > version) || status=$?
[ "$status" = 1 ] && grep -Fx "Can't open input file --version" "$work/version" > /dev/null ||
    { echo "sndblok --version does not look for a file of that name"; exit 1; }

# The signals that the documents say undo a run (one text, the README's,
# which the manual page holds) are those the code lists, the real-time ones
# named by SIGRTMIN; those they say are ignored, the ones the code ignores.
code=$(grep -rl 'TerminationSignals\[\] = {' "$source/src") || { echo "no TerminationSignals under src/"; exit 1; }
listed() {  # FILE: the signals named in its sentence on them, one a line, sorted
    tr '\n' ' ' < "$1" | sed -n 's/.*The signals that undo the outputs are all that would end the program:\([^.]*\)\..*/\1/p' |
        grep -o 'SIG[A-Z0-9]*' | sort -u
}
ignored() {  # FILE: the signals its sentence says are ignored
    tr '\n' ' ' < "$1" | grep -o 'SIG[A-Z0-9]*\( and SIG[A-Z0-9]*\)* are ignored' | grep -o 'SIG[A-Z0-9]*' | sort -u
}
{
    sed -n '/TerminationSignals\[\] = {/,/^};/p' "$code" | sed -e '/^#/d' -e 's|//.*||' | grep -o 'SIG[A-Z0-9]*'
    grep -o 'signal = SIGRTMIN;' "$code" | grep -o SIGRTMIN
} | sort -u > "$work/code-undo"
# The ones ignored, wherever the start sets them so.
grep -rho 'signal(SIG[A-Z0-9]*, SIG_IGN)' "$(dirname "$code")" | sed 's/signal(\(SIG[A-Z0-9]*\).*/\1/' |
    sort -u > "$work/code-ignored"
[ -s "$work/code-undo" ] && [ -s "$work/code-ignored" ] || { echo "no signal list in $code"; exit 1; }
for document in "$source/README.md" "$manual"; do
    listed "$document" | diff "$work/code-undo" - ||
        { echo "$document names other signals that undo a run than $code"; exit 1; }
    ignored "$document" | diff "$work/code-ignored" - ||
        { echo "$document names other ignored signals than $code"; exit 1; }
done

# The README's line that lists colliding inputs, on a folder with such
# pairs (a stereo x.wav beside a mono x_l.wav; z.wav beside z_r.wav in a
# subfolder with a space) and inputs that collide with nothing (y.wav is
# mono, w_l.wav has no w.wav, a_l.wav is stereo, r.wav is RIFX and p.wav
# PCM, both stereo), then on a folder without them.
awk '/^<!-- inputs whose outputs another input would also write -->$/ { take = 1; next }
     take && /^    / { print substr($0, 5); listed = 1; next }
     take && listed { exit }' "$source/README.md" > "$work/collisions.sh"
mono() { printf 'RIFF\46\0\0\0WAVEfmt \20\0\0\0\7\0\1\0\0\175\0\0\0\175\0\0\1\0\10\0data\2\0\0\0ab' > "$1"; }  # a mono mu-law file, 2 samples
mkdir -p "$work/pairs/sounds/s p" "$work/none/sounds"
for f in x "s p/z"; do cp "$source/examples/duet.wav" "$work/pairs/sounds/$f.wav"; done
for f in x_l "s p/z_r" y y_r w_l r_r p_l; do mono "$work/pairs/sounds/$f.wav"; done
for f in a a_l; do cp "$source/examples/duet.wav" "$work/pairs/sounds/$f.wav"; done
{ printf RIFX; tail -c +5 "$source/examples/duet.wav"; } > "$work/pairs/sounds/r.wav"
{ head -c 20 "$source/examples/duet.wav"; printf '\1'; tail -c +22 "$source/examples/duet.wav"; } > "$work/pairs/sounds/p.wav"
for f in x y_l; do mono "$work/none/sounds/$f.wav"; done
cp "$source/examples/duet.wav" "$work/none/sounds/v.wav"
(cd "$work/pairs" && sh "$work/collisions.sh") 2>&1 > "$work/listed" | cmp - /dev/null
printf 'sounds/s p/z.wav\nsounds/s p/z_r.wav\nsounds/x.wav\nsounds/x_l.wav\n' | cmp - "$work/listed"
(cd "$work/none" && sh "$work/collisions.sh") 2>&1 | cmp - /dev/null

# The README's examples, each under its marker; the manual page shows each
# as the README does, character for character, once rendered as man does.
example() {  # MARKER
    awk -v marker="<!-- $1 -->" '$0 == marker { take = 1; next }
        take && /^    / { print substr($0, 5); listed = 1; next }
        take && listed && /^$/ { print; next }
        take && listed { exit }' "$source/README.md" | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'
}
if command -v groff > /dev/null; then
    rendered=$(groff -k -t -man -Tutf8 -P-cbou "$manual" 2> /dev/null)
    for marker in "making an acceptable file" "listening back: mono, then stereo, with each tool" \
                  "the blocks a file claims" "a batch" "inputs whose outputs another input would also write" \
                  "a CMake project's sounds" "a firmware image's sounds" "a Makefile's sounds" \
                  "a folder on Windows"; do
        shown=$(example "$marker" | sed 's/^./       &/')
        [ -n "$shown" ] || { echo "README.md shows nothing under <!-- $marker -->"; exit 1; }
        [[ $rendered == *"$shown"* ]] || { echo "the manual page does not show <!-- $marker --> as README.md does"; exit 1; }
    done
fi

# The README's line that counts blocks, on a whole file and on one cut short.
example "the blocks a file claims" > "$work/blocks.sh"
(cd "$work" && sed 's/take\.vsf/duet_l.vsf/' blocks.sh | sh) | cmp - <(printf '47 blocks, at most 0.752 s\n')
head -c 1000 "$work/duet_l.vsf" > "$work/cut.vsf"
(cd "$work" && sed 's/take\.vsf/cut.vsf/' blocks.sh | sh) |
    cmp - <(printf '47 blocks, at most 0.752 s, but the file has 1000 bytes\n')

# The README's batch converts a folder and names the file that fails.
mkdir -p "$work/batch/sounds"
cp "$source/examples/duet.wav" "$work/batch/sounds/good.wav"
printf RIFX > "$work/batch/sounds/bad.wav"
example "a batch" > "$work/batch.sh"
status=0
(cd "$work/batch" && PATH="$(dirname "$program"):$PATH" sh "$work/batch.sh") 2> "$work/failed" || status=$?
[ "$status" = 123 ] || { echo "the README's batch ended with $status, not xargs' 123"; exit 1; }
printf 'failed: sounds/bad.wav\n' | cmp - "$work/failed"
cmp "$work/batch/sounds/good_l.vsf" "$work/duet_l.vsf"

# The sample firmware project holds the lines the README shows for a build.
for pair in "a CMake project's sounds:CMakeLists.txt" "a firmware image's sounds:CMakeLists.txt" \
            "a Makefile's sounds:Makefile"; do
    while IFS= read -r line; do
        [ -z "$line" ] || grep -Fqx -- "$line" "$source/tests/firmware/${pair##*:}" ||
            { echo "tests/firmware/${pair##*:} lacks the README's line: $line"; exit 1; }
    done < <(example "${pair%%:*}")
done
echo "README.md and the manual page show what sndblok prints, the signals the code lists, and the same examples, which work as shown"
