#!/usr/bin/env bash
# Writes a copy of a Windows program that is <MiB> MiB larger: one more
# section of random bytes after its last one, so the image still loads and a
# signature made afterwards covers every byte, as in a real installer.
#   pad-program.sh <objdump> <objcopy> <program> <output> <MiB>
set -euo pipefail
objdump=$1 objcopy=$2 program=$3 output=$4 mebibytes=$5

end=0
while read -r size address; do
    section_end=$((16#$address + 16#$size))
    [ "$section_end" -le "$end" ] || end=$section_end
done < <("$objdump" -h "$program" | awk '/^ +[0-9]+ /{print $3, $4}')
# Past the last section, on a boundary any section alignment accepts.
end=$(( (end + 0xffff) / 0x10000 * 0x10000 ))

payload=$(mktemp)
trap 'rm -f "$payload"' EXIT
head -c $((mebibytes * 1024 * 1024)) /dev/urandom > "$payload"
rm -f "$output"
"$objcopy" --add-section .payload="$payload" --set-section-flags .payload=contents,readonly,data \
    --change-section-address .payload="$(printf '0x%x' "$end")" "$program" "$output"
