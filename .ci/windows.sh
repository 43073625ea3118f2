#!/usr/bin/env bash
# Windows: the suite under Wine, then the zip, whose program needs no DLL
# beyond Windows' own, says its version, and prints and writes exactly what
# the Linux build does.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine wine64 groff-base
on_exit='wineserver -k 2> /dev/null || true'
cmake --workflow --preset windows
rm -f build/windows/sndblok-*-win64.zip
(cd build/windows && cpack -G ZIP > /dev/null)
(cd "$scratch" && cmake -E tar xf "$OLDPWD/build/windows/sndblok-$version-win64.zip")
program=$(echo "$scratch"/sndblok-*/sndblok.exe)
dlls=$(x86_64-w64-mingw32-objdump -p "$program" | grep 'DLL Name')
if echo "$dlls" | grep -viE 'KERNEL32\.dll|msvcrt\.dll'; then echo "needs more DLLs: $dlls"; exit 1; fi
test -s "$(dirname "$program")/LICENSE"
strings -el "$program" | grep -x "$version" > /dev/null || { echo "no version $version in $program"; exit 1; }
(wineserver -p && wine cmd /c exit) > /dev/null 2>&1  # with no hold on this script's output
converts "wine $program" "$scratch/run"

# The zip's batch file, run as the README shows it: a good file converted
# without a word; a broken one, and an upper-case .WAV that *.wav matches,
# named with sndblok's message; status 1. Then a folder of good files only.
folder=$(dirname "$program")
mkdir "$folder/sounds"
cp examples/duet.wav "$folder/sounds/good.wav"
cp examples/duet.wav "$folder/sounds/UP.WAV"
printf RIFX > "$folder/sounds/bad.wav"
batch() { (cd "$folder" && wine cmd /c sndblok-folder sounds > "$scratch/batch.out" 2> "$scratch/batch.err"); }
status=0
batch || status=$?
[ "$status" = 1 ] || { echo "sndblok-folder ended with $status where a file failed"; exit 1; }
for expected in 'sndblok cannot convert ' '\sounds\bad.wav:' '\sounds\bad.wav is not a valid .wav file' \
                '\sounds\UP.WAV:' 'Specify a filename with a .wav extension'; do
    grep -Fq -- "$expected" "$scratch/batch.err" || { cat "$scratch/batch.err"; echo "not said: $expected"; exit 1; }
done
cmp "$scratch/reference/duet_l.vsf" "$folder/sounds/good_l.vsf"
test ! -s "$scratch/batch.out"
rm "$folder/sounds/bad.wav" "$folder/sounds/UP.WAV"
batch || { cat "$scratch/batch.err"; echo "sndblok-folder failed on good files"; exit 1; }
test ! -s "$scratch/batch.err"
# A folder that is not there is named whole, though its name holds a mark
# of cmd's (given as ^& to cmd, the batch file receives no&such).
status=0
(cd "$folder" && wine cmd /c sndblok-folder 'no^&such' > "$scratch/batch.out" 2> "$scratch/batch.err") ||
    status=$?
[ "$status" = 2 ] && printf 'sndblok-folder: no folder "no&such"\r\n' | cmp - "$scratch/batch.err" ||
    { cat "$scratch/batch.err"; echo "sndblok-folder did not name the missing folder no&such"; exit 1; }
echo "the zip's program converts the example as the Linux build does, and its batch file names failures"
