#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix, quietly and under a
# time-out. ctest uses it as the emulator for the cross-built test programs.
#
#   NORVALIS_WINEARCH   win64 (default) or win32
#   NORVALIS_WINEPREFIX prefix folder (default: build/wine/<arch> in the tree)
#   NORVALIS_TIMEOUT    seconds before the run is killed (default 180)
#   NORVALIS_PREFIX_TIMEOUT  seconds for making a new prefix (default 600)
#   NORVALIS_WINE_LOADER     the Wine loader for the program (default by arch)
#   NORVALIS_GRAPHICS   Wine graphics driver of a new prefix: null (default,
#                       headless windows) or x11 (needs DISPLAY)
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=${NORVALIS_WINEARCH:-win64}
export WINEARCH=$arch
export WINEPREFIX=${NORVALIS_WINEPREFIX:-$root/build/wine/$arch}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

wine_bin=wine
[ "$arch" = win64 ] && command -v wine64 >/dev/null 2>&1 && wine_bin=wine64
[ -x /usr/lib/wine/wine64 ] && [ "$arch" = win64 ] && wine_bin=/usr/lib/wine/wine64
# NORVALIS_WINE_LOADER: another loader, e.g. the 32-bit one for a 32-bit
# program in a 64-bit prefix, so the program's own end is the run's status.
wine_bin=${NORVALIS_WINE_LOADER:-$wine_bin}

prepare_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.norvalis-ready" ]; then
            rm -rf "$WINEPREFIX"
            timeout "${NORVALIS_PREFIX_TIMEOUT:-600}" "$wine_bin" wineboot -i </dev/null >/dev/null 2>&1
            timeout 120 "$wine_bin" reg add 'HKCU\Software\Wine\Drivers' /v Graphics \
                /d "${NORVALIS_GRAPHICS:-null}" /f </dev/null >/dev/null 2>&1
            timeout 60 wineserver -w </dev/null >/dev/null 2>&1
            touch "$WINEPREFIX/.norvalis-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}

[ -f "$WINEPREFIX/.norvalis-ready" ] || prepare_prefix

# A warm, detached server: without it every run whose stderr is a pipe waits
# seconds for a new one. It ends by itself 60 s after its last client.
wineserver -p60 </dev/null >/dev/null 2>&1 &
disown 2>/dev/null || true

if [ $# -eq 0 ]; then
    exit 0   # only make sure the prefix exists
fi
# The program writes to a file, not to our standard streams: the first window
# of a Wine session starts the desktop process, which would inherit a pipe of
# the caller (ctest, $(...)) and keep it open long after the program ended.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
timeout -k 5 "${NORVALIS_TIMEOUT:-180}" "$wine_bin" "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
exit $status
