#!/usr/bin/env bash
# Stages a sample distribution and runs Setup.exe on it under Wine.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dist=$root/build/demo/dist
rm -rf "$dist" && mkdir -p "$dist/Packages"
cp "$root/build/test/bin/Setup.exe" "$dist/"
"$root/scripts/wine-run.sh" "$dist/Setup.exe"
echo "Setup.exe ran on $dist"
