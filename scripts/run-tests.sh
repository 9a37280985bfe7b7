#!/usr/bin/env bash
# Runs every test of the test build under Wine, with a warm Wine server that is
# ended afterwards whatever the result.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/wine-run.sh   # make the prefix once, before ctest runs tests side by side
trap 'WINEPREFIX=$root/build/wine/win64 wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --preset test "$@"
