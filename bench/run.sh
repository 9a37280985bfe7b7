#!/usr/bin/env bash
# Size and timing figures of Setup.exe, each against its goal. Exits non-zero
# when a figure misses its goal. Not part of the tests: timings are no test.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
release=$root/build/release
exe=$release/bin/Setup.exe
status=0

echo "== Size of the shipped 32-bit Setup.exe"
size=$(stat -c %s "$exe")
rsrc=0; code=0
while read -r name hex; do
    bytes=$((16#$hex))
    if [ "$name" = .rsrc ]; then rsrc=$((rsrc + bytes)); else code=$((code + bytes)); fi
done < <(i686-w64-mingw32-objdump -h "$exe" | awk '/^ +[0-9]+ /{print $2, $3}')
goal=$((192 * 1024))
printf '%-34s %10d bytes  (goal: <= %d) %s\n' "Setup.exe" "$size" "$goal" \
    "$([ "$size" -le "$goal" ] && echo ok || echo MISSED)"
printf '%-34s %10d bytes  (%.2f of the file)\n' "  code and data sections" "$code" \
    "$(echo "$code / $size" | bc -l)"
printf '%-34s %10d bytes  (%.2f of the file; 24 icon images)\n' "  resources" "$rsrc" \
    "$(echo "$rsrc / $size" | bc -l)"
[ "$size" -le "$goal" ] || status=1

echo "== Largest contributions to code and data (from a link map)"
map=$release/Setup.map
(cd "$release" && i686-w64-mingw32-g++-win32 -Os -static -Wl,--gc-sections -municode -mwindows \
    -Wl,-e,_HardenedStartup -Wl,-Map,"$map" -o "$release/Setup-map.exe" \
    CMakeFiles/Setup.dir/src/framework/AppMain.cpp.obj \
    CMakeFiles/Setup.dir/src/framework/LeanRuntime.cpp.obj \
    CMakeFiles/Setup.dir/src/app/TheApp.cpp.obj \
    CMakeFiles/setup_resources.dir/src/res/Setup.rc.res libsetup_core.a -lcomctl32)
python3 "$root/bench/mapsize.py" "$map" 12

echo "== Under Wine (64-bit build of the same sources; this host runs no 32-bit code)"
# Where the timings come from: they are only comparable on the same kind of machine.
echo "   $(date -u '+%F %H:%M UTC'), $(nproc) processors ($(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1))," \
     "$(/usr/lib/wine/wine64 --version 2>/dev/null), graphics driver ${NORVALIS_GRAPHICS:-null}, load $(cut -d' ' -f1-3 /proc/loadavg)"
cd "$root/build/test/bin"
"$root/scripts/wine-run.sh"
NORVALIS_TIMEOUT=900 "$root/scripts/wine-run.sh" bench.exe "${BENCH_RUNS:-15}" "${BENCH_WAITING_ROUNDS:-3}" | tr -d '\r'
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
rm -rf "$root/build/test/bin/bench handoff"

echo "== Signature check of a 40 MiB signed installer (64-bit build, under Wine)"
cmake --build "$root/build/test" --target large_signed_installer >/dev/null || status=1
NORVALIS_TIMEOUT=600 "$root/scripts/wine-run.sh" signature_bench.exe LargeInstaller.exe | tr -d '\r'
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
rm -f LargeInstaller.exe LargeInstallerUnsigned.exe   # 85 MB, made again by the next run
exit $status
