# Sourced by every stage: strict mode, the project root as working folder,
# a scratch folder removed at the end (after $on_exit), and helpers.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
. scripts/lib.sh
scratch=$(mktemp -d)
export TMPDIR=$scratch  # so that what tools leave there goes too
on_exit=:
trap 'eval "$on_exit"; rm -rf --one-file-system "$scratch"' EXIT
# A check that fails says which it was.
set -E
trap 'echo "${BASH_SOURCE[0]:-$0}:$LINENO: failed: $BASH_COMMAND" >&2' ERR
export WINEPREFIX="$PWD/build/windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

need() {  # PACKAGE...: installs those that are missing
    local missing=() p
    for p in "$@"; do installed "$p" || missing+=("$p"); done
    [ ${#missing[@]} -gt 0 ] || return 0
    dpkg --add-architecture arm64 && dpkg --add-architecture armhf && apt-get update -qq
    # wine64 recommends wine32, which apt would take for armhf: no use here.
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" wine32:armhf- > /dev/null
}

emulators() {  # qemu-user runs the other processors' programs once binfmt_misc knows it
    need qemu-user-static binfmt-support
    [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    update-binfmts --enable > /dev/null
}

hardened() {  # PROGRAM: PIE, RELRO, BIND_NOW, stack protector, no .comment
    readelf -d "$1" | grep 'FLAGS.*BIND_NOW' > /dev/null
    readelf -h "$1" | grep 'Type:.*DYN' > /dev/null
    readelf -lW "$1" | grep GNU_RELRO > /dev/null
    readelf --dyn-syms -W "$1" | grep '__stack_chk_fail' > /dev/null
    if readelf -SW "$1" | grep '\.comment' > /dev/null; then echo "$1: a .comment section"; return 1; fi
}

lintian_clean() {  # DEB
    local findings
    findings=$(lintian -EvIL +pedantic --fail-on none "$1" 2>/dev/null)
    [ -z "$findings" ] || { echo "lintian: $findings"; return 1; }
}

convert() {  # PROGRAM FOLDER: the example converted there; PROGRAM may be "wine PATH"
    mkdir -p "$2" && cp examples/duet.wav "$2/" && (cd "$2" && $1 duet.wav > out)
}

converts() {  # PROGRAM FOLDER: the same, byte for byte as the release build prints and writes
    if [ ! -d "$scratch/reference" ]; then
        cmake --workflow --preset release > /dev/null && convert "$PWD/build/release/sndblok" "$scratch/reference"
    fi
    convert "$@"
    for f in out duet_l.vsf duet_r.vsf; do cmp "$scratch/reference/$f" "$2/$f"; done
}
