#!/usr/bin/env bash
# Runs the detection tests as the shipped kind of program, a 32-bit Windows
# program, in a 64-bit prefix (WOW64: the registry view a 32-bit program gets
# on 64-bit Windows) or a 32-bit prefix:  test32.sh win64|win32
#
# Where the kernel has IA-32 emulation switched off, 32-bit Wine runs under
# QEMU's user-mode emulator (registered with binfmt_misc for the run only):
# slow, minutes rather than seconds, but the same Wine and the same code.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=${1:-win64}
binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/norvalis-i386

runs_32bit_natively() {
    [ -e "$entry" ] && echo 0 > "$entry"
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

if ! runs_32bit_natively; then
    if [ ! -x /usr/bin/qemu-i386-static ]; then
        echo "32-bit programs cannot run here (no IA-32 emulation, no qemu-user-static)" >&2
        exit 1
    fi
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -e "$entry" ]; then
        printf '%s' ':norvalis-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            > "$binfmt/register"
    fi
    echo 1 > "$entry"
    # Other Wine prefixes made while it is on would start 32-bit helpers under
    # the emulator too, which is slow: switch it off again afterwards.
    trap 'echo 0 > "$entry"' EXIT
fi

export NORVALIS_WINEARCH=$arch
export NORVALIS_WINEPREFIX=$root/build/wine/test32-$arch
export NORVALIS_TIMEOUT=1800
cd "$root/build/test32/bin"
"$root/scripts/wine-run.sh" detection_test.exe
status=$?
WINEPREFIX=$NORVALIS_WINEPREFIX timeout 60 wineserver -k >/dev/null 2>&1
exit $status
