#!/usr/bin/env bash
# Renders every dialog and message box of Setup.exe in English, German and
# Russian under Xvfb and saves them as PNG files (default: docs/screenshots).
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$root/docs/screenshots}
bin=$root/build/test/bin
mkdir -p "$out"
export NORVALIS_WINEPREFIX=$root/build/wine/shots NORVALIS_GRAPHICS=x11

shoot() {  # language, name, showcase arguments...
    local lang=$1 name=$2; shift 2
    (cd "$bin" && LANG=$lang LC_ALL=$lang "$root/scripts/wine-run.sh" explorer \
        /desktop=shots,800x450 showcase.exe "$@" >/dev/null 2>&1) &
    local pid=$!
    sleep "${SHOT_DELAY:-5}"
    # Cut the picture to the dialog: its geometry inside Wine's desktop window.
    local geometry
    geometry=$(xwininfo -root -tree | grep '("showcase.exe"' | grep -v 'Default IME' \
               | grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' | head -n 1)
    import -window root "$out/$name.png"
    [ -z "$geometry" ] || convert "$out/$name.png" -crop "$geometry" +repage "$out/$name.png"
    kill "$pid" 2>/dev/null || true
    WINEPREFIX=$NORVALIS_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
    wait "$pid" 2>/dev/null || true
}

render_all() {
    for entry in en:en_US.UTF-8 de:de_DE.UTF-8 ru:ru_RU.UTF-8; do
        local tag=${entry%%:*} lang=${entry#*:}
        shoot "$lang" "$tag-prerequisites" prerequisites
        shoot "$lang" "$tag-progress" progress
        shoot "$lang" "$tag-reboot-134" reboot134
        shoot "$lang" "$tag-reboot-136" reboot136
        shoot "$lang" "$tag-message-130-failure" failure
        for id in 131 132 133 137; do shoot "$lang" "$tag-message-$id" message "$id"; done
    done
}

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 800x450x24" "$0" "$out"
fi
"$root/scripts/wine-run.sh"   # make the prefix before the first picture
render_all
echo "Pictures in $out"
