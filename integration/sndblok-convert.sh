# sndblok-convert.sh SNDBLOK SOURCE LINK CHANNELS NEW FINAL [NEW FINAL]
#
# Converts SOURCE, of CHANNELS channels (1 or 2), into its block files, for
# the CMake package and sndblok.mk. The program runs on LINK, a link to
# SOURCE named STEM.wav, so it writes each output beside LINK under the
# output's name; that name is either the file NEW itself, or a link to NEW
# (a temporary name beside FINAL, when the two folders are not on one file
# system). Once the program has succeeded, each NEW is renamed to its FINAL,
# in the order given: the first output (the left one) last. So at any
# moment the FINAL folder holds whole block files only, and one newer than
# the source was made from it; of a pair stopped halfway the first output
# is the old one, by which a build tells that the pair is to be made again.
# A NEW file that an interrupted conversion left is written over by the
# next one.
#
# A build runs the program and the renames itself, and this script only when
# that failed: it makes what is missing (a folder, a link), tries again, and
# says why a conversion fails: the source is no file, the program's message
# without its usage banner, or a source of the other channel count.
set -u
# A link's text is read from its own folder, and the program runs from it:
# the names they lead to are made whole.
whole() { case $1 in /*) echo "$1" ;; ./*) echo "$PWD/${1#./}" ;; *) echo "$PWD/$1" ;; esac; }
program=$1 source=$2 link=$(whole "$3") channels=$4
shift 4
stage=${link%/*}
case $program in */*) program=$(whole "$program") ;; esac
if [ ! -f "$source" ]; then
    # Not there, or a folder, a FIFO or a device, which the program would wait on.
    printf 'sndblok: %s is not a file\n' "$source" >&2
    exit 1
fi
mkdir -p "$stage" || exit 1
ln -sfn "$(whole "$source")" "$link" || exit 1
# Each NEW as the program's output of its FINAL's name: itself, or a link.
new=''
for path; do
    if [ -z "$new" ]; then new=$(whole "$path"); continue; fi
    staged=$stage/${path##*/}
    mkdir -p "${path%/*}" || exit 1
    if [ "$new" != "$staged" ]; then
        ln -sfn "$new" "$staged" || exit 1
    elif [ -h "$staged" ]; then
        rm -f "$staged" || exit 1
    fi
    new=''
done
# From the link's folder, so that a message names the source's file as
# STEM.wav, not the folder the build keeps.
if ! printed=$(cd "$stage" && "$program" "${link##*/}" 2>&1); then
    printf 'sndblok cannot convert %s:\n' "$source" >&2
    # The usage banner says nothing a build log needs.
    printf '%s\n' "$printed" | sed -e '/^====/,$d' -e '/^$/d' -e 's/^/ /' >&2
    exit 1
fi
case $printed in
    *"Channels: STEREO"*) found=2 kind=STEREO other=MONO ;;
    *) found=1 kind=MONO other=STEREO ;;
esac
if [ "$found" != "$channels" ]; then
    stem=${link%.wav}
    # Written beside the link as files of their own, not where the build wants them.
    for made in "$stem.vsf" "${stem}_l.vsf" "${stem}_r.vsf"; do
        [ -h "$made" ] || rm -f "$made"
    done
    printf 'sndblok: %s is %s, but the build has it as %s\n' "$source" "$kind" "$other" >&2
    exit 1
fi
for path; do
    if [ -z "$new" ]; then new=$path; continue; fi
    mv -f "$new" "$path" || exit 1
    new=''
done
