#!/usr/bin/env bash
# sndblok-folder.cmd under Wine's cmd: a table of rows, each run in a folder
# of its own that holds the batch, a program as sndblok.exe beside it, and
# the row's files. Each row's status, standard error (standard output stays
# empty) and .vsf files after the run are compared with the row's, and every
# row runs, however many fail.
# Usage: batch_test.sh SNDBLOK_EXE BATCH STAND_IN_EXE
#
# Each run has a console, made by script(1), as cmd has on Windows, and as
# the batch needs for chcp; Wine gives a program one only on a terminal.
set -euo pipefail
sndblok=$1 batch=$2 stand_in=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The files the rows put in place and expect, byte for byte: a mono and a
# stereo input, 6 frames each, and the blocks sndblok writes for them as
# the Linux build does (the block count over the first four samples, then
# the last two, then FF to the end of the block); a file that is no WAVE
# file; a PCM one; and what has the stand-in end as a run ended by Ctrl-C,
# or by a crash, would.
bytes=$work/bytes
mkdir "$bytes"
ff() { printf '\377%.0s' $(seq "$1"); }
printf 'RIFF\52\0\0\0WAVEfmt \20\0\0\0\7\0\1\0\0\175\0\0\0\175\0\0\1\0\10\0data\6\0\0\0abcdef' > "$bytes/Mono"
printf 'RIFF\60\0\0\0WAVEfmt \20\0\0\0\7\0\2\0\0\175\0\0\0\372\0\0\2\0\10\0data\14\0\0\0ABCDEFGHIJKL' > "$bytes/Stereo"
{ printf '\0\0\0\1ef'; ff 506; } > "$bytes/MonoVsf"
{ printf '\0\0\0\1IK'; ff 506; } > "$bytes/LeftVsf"
{ printf '\0\0\0\1JL'; ff 506; } > "$bytes/RightVsf"
printf RIFX > "$bytes/Broken"
printf 'RIFF\52\0\0\0WAVEfmt \20\0\0\0\1\0\1\0\0\175\0\0\0\175\0\0\1\0\10\0data\6\0\0\0abcdef' > "$bytes/Pcm"
printf C000013A > "$bytes/CtrlC"
printf C0000005 > "$bytes/Crash"

failures=0
fail() { echo "$name: $*" >&2; failures=$((failures + 1)); }

# row NAME KEY=VALUE...: one run of the batch, with what differs from the
# defaults: arg (the argument, as cmd is given it: sounds), program
# (sndblok, or stand-in), status (0), file=PATH:BYTES (a file put in place,
# PATH from the row's folder, where the batch runs), vsf=PATH:BYTES (each
# .vsf file after the run; none listed: none), say=LINE (each line of
# standard error, in order; @ stands for the row's folder as cmd names it),
# ignore=LINE (a line that Wine's cmd prints itself, left out of standard
# error, however often, before it is compared), around=COMMAND (run by cmd
# before the batch and after it, on the batch's line: it prints the same
# both times, and standard output holds just that, twice).
row() {
    name=$1
    shift
    local arg=sounds program=sndblok status=0 around= files=() vsfs=() said=() ignored=() pair dir got
    for pair in "$@"; do
        case $pair in
            arg=*) arg=${pair#*=} ;;
            program=*) program=${pair#*=} ;;
            status=*) status=${pair#*=} ;;
            file=*) files+=("${pair#*=}") ;;
            vsf=*) vsfs+=("${pair#*=}") ;;
            say=*) said+=("${pair#*=}") ;;
            ignore=*) ignored+=("${pair#*=}") ;;
            around=*) around=${pair#*=} ;;
            *) fail "no such key: $pair"; return ;;
        esac
    done
    dir=$work/$name
    mkdir -p "$dir/sounds"
    cp "$batch" "$dir/sndblok-folder.cmd"
    if [ "$program" = stand-in ]; then cp "$stand_in" "$dir/sndblok.exe"; else cp "$sndblok" "$dir/sndblok.exe"; fi
    for pair in ${files[@]+"${files[@]}"}; do
        mkdir -p "$(dirname "$dir/${pair%:*}")"
        cp "$bytes/${pair##*:}" "$dir/${pair%:*}"
    done

    local command="sndblok-folder $arg"
    [ -z "$around" ] || command="$around & call $command & $around"
    got=0
    ROW_DIR=$dir ROW_COMMAND=$command ROW_OUT=$work/$name.out ROW_ERR=$work/$name.err \
        script -qec 'cd "$ROW_DIR" && wine cmd /c "$ROW_COMMAND" > "$ROW_OUT" 2> "$ROW_ERR"' \
        /dev/null < /dev/null > /dev/null || got=$?
    [ "$got" = "$status" ] || fail "ended with $got, not $status"
    if [ -z "$around" ]; then
        [ ! -s "$work/$name.out" ] || fail "printed on standard output: $(cat "$work/$name.out")"
    else
        local first
        first=$(head -n 1 "$work/$name.out")
        [ -n "$first" ] && printf '%s\n' "$first" "$first" | cmp -s - "$work/$name.out" ||
            fail "$around printed, before and after the batch: $(cat -A "$work/$name.out")"
    fi
    local folder line
    folder="Z:$(printf %s "$dir" | tr / '\\')"
    for line in ${said[@]+"${said[@]}"}; do printf '%s\r\n' "${line//@/"$folder"}"; done > "$work/$name.said"
    for line in ${ignored[@]+"${ignored[@]}"}; do
        grep -vxF -- "$line" "$work/$name.err" > "$work/$name.kept" || true
        mv "$work/$name.kept" "$work/$name.err"
    done
    cmp -s "$work/$name.said" "$work/$name.err" ||
        fail "said, where @ is $folder:
$(cat -A "$work/$name.err")
not:
$(cat -A "$work/$name.said")"
    for pair in ${vsfs[@]+"${vsfs[@]}"}; do echo "${pair%:*}"; done | sort > "$work/$name.vsfs"
    (cd "$dir" && find . -name '*.vsf' | sed 's|^\./||' | sort) | cmp -s "$work/$name.vsfs" - ||
        fail "left the .vsf files $(cd "$dir" && find . -name '*.vsf' | tr '\n' ' '), not $(tr '\n' ' ' < "$work/$name.vsfs")"
    for pair in ${vsfs[@]+"${vsfs[@]}"}; do
        [ ! -f "$dir/${pair%:*}" ] || cmp -s "$bytes/${pair##*:}" "$dir/${pair%:*}" ||
            fail "wrote ${pair%:*} otherwise than ${pair##*:}"
    done
}

# Names with every mark cmd gives a meaning, in a good file and a broken one.
marks='a&b ^c%d%!e!(f)'
row GoodFiles file=sounds/mono.wav:Mono "file=sounds/$marks.wav:Stereo" \
    vsf=sounds/mono.vsf:MonoVsf "vsf=sounds/${marks}_l.vsf:LeftVsf" "vsf=sounds/${marks}_r.vsf:RightVsf"
# The folder the batch starts in, given as ".": pushd leaves cmd where it
# was, and has not failed.
row CurrentFolder arg=. file=here.wav:Mono vsf=here.vsf:MonoVsf
# A folder that is not there is named whole, with cmd's & in its name: cmd
# is given no^&such, the batch no&such.
row MissingFolder 'arg=no^&such' status=2 'say=sndblok-folder: no folder "no&such"'

# A broken file is named, with sndblok's message up to its usage banner; a
# good one beside it is converted all the same.
row BrokenFile file=sounds/good.wav:Mono "file=sounds/$marks.wav:Broken" status=1 \
    vsf=sounds/good.vsf:MonoVsf "say=sndblok cannot convert @\\sounds\\$marks.wav:" \
    "say=Input file @\\sounds\\$marks.wav is not a valid .wav file"
# In cmd *.wav also matches .WAV, which sndblok refuses.
row UpperCaseWav file=sounds/UP.WAV:Mono status=1 'say=sndblok cannot convert @\sounds\UP.WAV:' \
    'say=File information:' $'say=\tCompression Code: ULAW ' $'say=\tChannels: MONO ' \
    $'say=\tSample Rate: 32000Hz' 'say=Specify a filename with a .wav extension'
# Runs that end with a status above 0x7FFFFFFF, which cmd holds as negative.
row EndedByCtrlC program=stand-in file=sounds/take.wav:CtrlC status=1 \
    'say=sndblok cannot convert @\sounds\take.wav:'
row Crashed program=stand-in file=sounds/take.wav:Crash status=1 \
    'say=sndblok cannot convert @\sounds\take.wav:'
# A folder cmd cannot enter, past 260 characters, is named; nothing is
# converted, there nor in the folder the batch was started from. Wine's cmd
# finds the folder there, and names the fault itself wherever it expands
# the argument's full name.
deep=$(printf 'a%.0s' $(seq 100))
row FolderPast260 "arg=sounds\\$deep\\$deep\\$deep" "file=sounds/$deep/$deep/$deep/in.wav:Mono" \
    file=here.wav:Mono status=2 "say=sndblok-folder: cannot enter folder \"sounds\\$deep\\$deep\\$deep\"" \
    'ignore=File name is too long.'
# A name outside ASCII, as typed. The input is PCM, whose message names no
# file: Wine's cmd reads a file's lines as Latin-1 whatever the code page,
# where Windows' reads them in the console's code page, so a name in
# sndblok's own lines would come out otherwise under Wine alone.
row Cyrillic file=sounds/Звук.wav:Pcm status=1 'say=sndblok cannot convert @\sounds\Звук.wav:' \
    'say=File information:' $'say=\tCompression Code: PCM ' $'say=\tChannels: MONO ' \
    $'say=\tSample Rate: 32000Hz' 'say=This file type is not supported'
# The code page is the caller's again once the batch ends.
row CodePageRestored around=chcp file=sounds/good.wav:Mono vsf=sounds/good.vsf:MonoVsf

[ "$failures" = 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "sndblok-folder.cmd names each failure, and only failures"
