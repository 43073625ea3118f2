#!/usr/bin/env bash
# Windows: the suite under Wine, sndblok-folder.cmd's rows too, then the
# zip: its program needs no DLL beyond Windows' own, says its version, and
# prints and writes exactly what the Linux build does; its batch file is
# the one the suite tested.
. "$(dirname "$0")/lib.sh"
need cmake ninja-build g++ lowdown g++-mingw-w64-x86-64-posix wine wine64 groff-base
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

# The zip's batch file, byte for byte the one the suite tested (CR LF kept).
cmp integration/sndblok-folder.cmd "$(dirname "$program")/sndblok-folder.cmd"
echo "the zip's program converts the example as the Linux build does, and the zip holds the tested batch file"
