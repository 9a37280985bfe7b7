#!/usr/bin/env bash
# The 32-bit tier: runs the 32-bit test programs of build/test32 (the shipped
# kind of program) in a 64-bit prefix, build/wine/test32-win64, where they
# meet what a 32-bit program meets on 64-bit Windows: WOW64 and its registry
# views.
#
#   test32.sh start                 make the prefix (once per build tree) and
#                                   start its server, kept warm until "stop"
#   test32.sh run PROGRAM [ARG...]  run build/test32/bin/PROGRAM in the prefix
#   test32.sh stop                  end the prefix's server
#   test32.sh isolated PROGRAM [ARG...]
#                                   run PROGRAM in a throwaway copy of the
#                                   prefix, where it may end the Wine session
#                                   (a real restart), then delete the copy
#   test32.sh PROGRAM [ARG...]      start, run, stop
#
# Where the kernel runs no 32-bit x86 code, 32-bit Wine runs under QEMU's
# user-mode emulator, registered with binfmt_misc inside a user namespace of
# this script's own: nothing else on the machine runs emulated, and no other
# run can switch the emulator off under this one. A kernel older than 6.7 has
# no binfmt_misc per namespace; then the machine-wide entry is used and
# switched off by the last tier that ends.
#
#   NORVALIS_WINEARCH=win32  a 32-bit prefix instead (build/wine/test32-win32):
#                            32-bit Windows, one registry view
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=${NORVALIS_WINEARCH:-win64}
export NORVALIS_WINEARCH=$arch
export NORVALIS_WINEPREFIX=$root/build/wine/test32-$arch
bin=$root/build/test32/bin
binfmt=/proc/sys/fs/binfmt_misc
entry_name=norvalis-i386
# ELF, 32-bit, little-endian, executable or shared object, i386.
entry_rule=":$entry_name:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F"
# Held shared by every tier that uses the machine-wide entry.
global_lock=/tmp/norvalis-i386.lock

runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

register() {  # into the binfmt_misc instance mounted at $binfmt
    [ -e "$binfmt/$entry_name" ] || printf '%b' "$entry_rule" > "$binfmt/register" || return 1
    echo 1 > "$binfmt/$entry_name"
}

# Runs this script again in a user namespace with a binfmt_misc instance of
# its own, when the kernel offers one (6.7 and later).
enter_namespace() {
    [ -z "${NORVALIS_TIER32_NAMESPACE:-}" ] || return 0
    unshare --user --map-root-user --mount sh -c "mount -t binfmt_misc none $binfmt" 2>/dev/null || return 0
    export NORVALIS_TIER32_NAMESPACE=1
    exec unshare --user --map-root-user --mount --fork "$0" "$@"
}

# Makes 32-bit programs start for this process and its children.
enable_32bit() {
    enter_namespace "$@"
    if [ -n "${NORVALIS_TIER32_NAMESPACE:-}" ]; then
        mount -t binfmt_misc none "$binfmt" || exit 1
        runs_32bit && return 0   # the kernel runs 32-bit code itself
    else
        # The machine-wide entry: kept on while any tier holds the lock.
        [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
        exec 8>"$global_lock"
        flock -s 8
        if ! grep -qx enabled "$binfmt/$entry_name" 2>/dev/null && runs_32bit; then return 0; fi
    fi
    if [ ! -x /usr/bin/qemu-i386-static ]; then
        echo "test32.sh: 32-bit programs cannot run here (no IA-32 emulation, no qemu-user-static)" >&2
        exit 1
    fi
    # 2 GiB and 16 MiB of address space for the emulated process: what a
    # 32-bit program gets on 64-bit Windows, and a quick start. Without a
    # preloader (Debian builds Wine without one) 32-bit Wine reserves the whole
    # address space above 2 GiB in 64 KiB steps; with QEMU's default of 4 GiB
    # that is about 65,000 mmap and munmap calls, each a page-by-page search in
    # QEMU 7.2: 60 to 80 s before every 32-bit process starts, 2 s with this.
    export QEMU_RESERVED_VA=0x81000000
    register && runs_32bit && return 0
    echo "test32.sh: cannot register QEMU with binfmt_misc (run as root?)" >&2
    exit 1
}

release_global_entry() {
    [ -z "${NORVALIS_TIER32_NAMESPACE:-}" ] && [ -e "$binfmt/$entry_name" ] || return 0
    exec 8>"$global_lock"
    # Other prefixes made while it is on would start their 32-bit helpers
    # under the emulator too, which is slow: off once no tier uses it.
    if flock -xn 8; then echo 0 > "$binfmt/$entry_name"; fi
}

server() { WINEPREFIX=$NORVALIS_WINEPREFIX timeout 60 wineserver "$@" </dev/null >/dev/null 2>&1 8>&- 9>&-; }

start() {
    mkdir -p "$(dirname "$NORVALIS_WINEPREFIX")"
    local began=$SECONDS
    local fresh=0
    [ -f "$NORVALIS_WINEPREFIX/.norvalis-ready" ] || fresh=1
    # wineboot starts 32-bit helpers of the WOW64 half under the emulator:
    # minutes, not seconds.
    # No Wine process may inherit the tier's locks (fds 8 and 9).
    NORVALIS_PREFIX_TIMEOUT=3000 "$root/scripts/wine-run.sh" 8>&- 9>&- || return 1
    [ $fresh -eq 0 ] || echo "made the prefix $NORVALIS_WINEPREFIX in $((SECONDS - began)) s"
    # No debugger for a program that crashes: winedbg can hang under QEMU, and
    # a crash is to fail its suite at once.
    local view
    for view in 64 32; do
        "$root/scripts/wine-run.sh" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Debugger /d "" /f /reg:$view >/dev/null 8>&- 9>&- || return 1
    done
    # A server that stays until "stop" (or 10 minutes without a client, should
    # "stop" never come), and the prefix's services up, so no program of the
    # tier waits for them.
    server -k
    (WINEPREFIX=$NORVALIS_WINEPREFIX wineserver -p600 </dev/null >/dev/null 2>&1 8>&- 9>&- &)
    NORVALIS_TIMEOUT=600 "$root/scripts/wine-run.sh" cmd /c exit >/dev/null 8>&- 9>&-
}

run() {
    local program=$1
    shift
    [ "${program#*/}" != "$program" ] || program=$bin/$program
    if [ ! -f "$program" ]; then
        echo "test32.sh: no $program (build the test32 preset)" >&2
        return 1
    fi
    # One program of the tier at a time in the prefix: they share its registry.
    exec 9>"$NORVALIS_WINEPREFIX.run.lock"
    flock 9
    cd "$(dirname "$program")" || return 1
    local output status loader=/usr/lib/wine/wine
    # A 32-bit test program is started by the 32-bit loader itself: a process
    # that QEMU ends by a signal then fails the run; through the 64-bit loader
    # (start.exe) such an end reads as exit code 0. The 64-bit harness of the
    # whole runs (which starts the shipped 32-bit Setup.exe) has its own.
    [ "$(dirname "$program")" = "$bin" ] || loader=/usr/lib/wine/wine64
    # A suite takes seconds; one that hangs is ended with its output shown
    # well before ctest would end it without.
    output=$(NORVALIS_WINE_LOADER=$loader NORVALIS_TIMEOUT=${NORVALIS_TIMEOUT:-300} \
             "$root/scripts/wine-run.sh" "$(basename "$program")" "$@" 8>&- 9>&-)
    status=$?
    printf '%s\n' "$output"
    if [ $status -eq 0 ] && ! grep -Eq '^\[==========\] [0-9]+ tests? from .* ran\.' <<<"$output"; then
        echo "test32.sh: the program ended before its tests did" >&2
        status=1
    fi
    # A filter that matches nothing would pass without testing anything.
    if [ $status -eq 0 ] && grep -q '^\[==========\] Running 0 tests' <<<"$output"; then
        echo "test32.sh: no test matched: $*" >&2
        status=1
    fi
    return $status
}

stop() {
    exec 9>"$NORVALIS_WINEPREFIX.run.lock"
    flock 9
    server -k
    release_global_entry
    return 0
}

# A copy of the warm prefix, for a program that may end its session.
isolated() {
    local base=$NORVALIS_WINEPREFIX
    export NORVALIS_WINEPREFIX=$base-isolated
    rm -rf "$NORVALIS_WINEPREFIX"
    cp -a "$base" "$NORVALIS_WINEPREFIX" || return 1
    NORVALIS_RESTART_ALLOWED=1 run "$@"
    local status=$?
    server -k
    rm -rf "$NORVALIS_WINEPREFIX" "$NORVALIS_WINEPREFIX.run.lock" "$NORVALIS_WINEPREFIX.lock"
    return $status
}

case "${1:-}" in
    start) enable_32bit "$@"; start ;;
    isolated) shift; enable_32bit isolated "$@"; isolated "$@" ;;
    run) shift; enable_32bit run "$@"; run "$@" ;;
    stop) enter_namespace "$@"; stop ;;
    ""|-h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    *)
        enable_32bit "$@"
        start || exit 1
        run "$@"
        status=$?
        stop
        exit $status
        ;;
esac
