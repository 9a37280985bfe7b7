#!/usr/bin/env bash
# Builds a sample distribution and runs Setup.exe on it, start to end, with no
# one at the keyboard: the dialog driver answers the dialogs.
#
# The sample Packages folder holds stand-in installers that register
# themselves like the real ones: the Visual C++ one creates its uninstall key,
# the .NET one sets its Release value and asks for a restart (exit code 3010).
# So the run shows the missing prerequisites, the progress dialog and the
# restart dialog; the restart ends the Wine session; then the "next logon"
# runs the RunOnce command Setup.exe left, which finds everything installed
# and hands over to the sample launcher.
#
# On a display the windows appear there; without one the run happens under
# Xvfb and a picture of each step is saved.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$root/build/test/bin
demo=$root/build/demo
dist=$demo/Norvalis\ Distribution
shots=$demo/screenshots

if [ -z "${DISPLAY:-}" ] && [ -z "${NORVALIS_DEMO_XVFB:-}" ]; then
    export NORVALIS_DEMO_XVFB=1
    exec xvfb-run -a -s "-screen 0 800x450x24" "$0" "$@"
fi

export NORVALIS_WINEPREFIX=$demo/prefix NORVALIS_GRAPHICS=x11
wine_run() { "$root/scripts/wine-run.sh" "$@"; }
reg_query() { wine_run reg query "$@" 2>/dev/null | tr -d '\r' || true; }
shot() {
    [ -n "${NORVALIS_DEMO_XVFB:-}" ] || return 0
    import -window root "$shots/$1.png"
    echo "    picture: $shots/$1.png"
}
driver() { wine_run "$bin/driver.exe" "$@" | tr -d '\r'; }

echo "== Staging the sample distribution in $dist"
rm -rf "$demo" && mkdir -p "$shots" "$dist/Packages/Visual C++ 2010 Redistributable Package" \
    "$dist/Packages/DotNetFX462"
cp "$bin/Setup.exe" "$dist/Setup.exe"
cp "$bin/StandInLauncher.exe" "$dist/Packages/Launcher.exe"
vc="$dist/Packages/Visual C++ 2010 Redistributable Package/vcredist_x86.exe"
net="$dist/Packages/DotNetFX462/dotnet.exe"
cp "$bin/StandInInstaller.exe" "$vc"
cp "$bin/StandInInstaller.exe" "$net"
printf 'sleep=1500\nkey=HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{F0C3E5D1-1ADE-321E-8167-68EF0DE699A5}\nexit=0\n' > "$vc.behaviour"
printf 'sleep=1500\nrelease=394802\nexit=3010\n' > "$net.behaviour"

echo "== A fresh Wine prefix for the demo (the restart ends its session)"
wine_run
# One virtual desktop for every program of the prefix: Wine draws the window
# frames, and the dialog driver sees the windows of Setup.exe.
wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x450 /f >/dev/null 2>&1

echo "== First run: both prerequisites are missing"
(cd "$demo" && wine_run "$dist/Setup.exe" >/dev/null 2>&1) &
first=$!
driver wait prerequisites 60 | sed 's/^/    /'
shot 1-prerequisites
driver key enter
driver wait progress 30 | sed 's/^/    /'
sleep 0.5; shot 2-progress
driver wait reboot 60 | sed 's/^/    /'
shot 3-restart
echo "    continuation value: $(reg_query 'HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v 'Norvalis setup' | grep -i 'Norvalis setup' | sed 's/^ *//')"
echo "    server marker:      $(reg_query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Norvalis Server' /v InstallerPath | grep -i InstallerPath | sed 's/^ *//')"
driver press 2
wait "$first" || true
timeout 30 env WINEPREFIX="$NORVALIS_WINEPREFIX" wineserver -w || true
echo "    the restart request ended the Wine session"

echo "== Next logon: Windows runs and removes the RunOnce entry"
command=$(reg_query 'HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v 'Norvalis setup' \
          | sed -n 's/.*REG_SZ *//p')
echo "    RunOnce command: $command"
wine_run reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v 'Norvalis setup' /f >/dev/null 2>&1
setup_path=$(echo "$command" | sed 's/^"\(.*\)"$/\1/')
(cd "$demo" && wine_run "$setup_path" >/dev/null 2>&1) &
second=$!
for _ in $(seq 1 100); do
    [ -s "$dist/Packages/Launcher.exe.log" ] && break
    sleep 0.2
done
shot 4-after-resume
wait "$second" || true
if [ -s "$dist/Packages/Launcher.exe.log" ]; then
    echo "    the launcher started: $(cut -f1 "$dist/Packages/Launcher.exe.log" | head -n 1)"
else
    echo "    the launcher did not start" >&2
    exit 1
fi
echo "== Installers that ran:"
for log in "$vc.log" "$net.log"; do
    [ -f "$log" ] && echo "    $(cut -f1 "$log")"
done
echo "== The logs Setup.exe wrote to %TEMP%, one per run:"
find "$NORVALIS_WINEPREFIX/drive_c/users" -name 'Norvalis Setup *.log' -print0 | sort -z |
    while IFS= read -r -d '' log; do
        echo "-- ${log##*/}"
        tr -d '\r' < "$log" | sed 's/^/    /'
    done
timeout 30 env WINEPREFIX="$NORVALIS_WINEPREFIX" wineserver -k || true
if [ -n "${NORVALIS_DEMO_XVFB:-}" ]; then
    echo "== Done. Pictures of each step: $shots"
else
    echo "== Done."
fi
