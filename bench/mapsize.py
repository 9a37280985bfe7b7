#!/usr/bin/env python3
"""Sums the code and data that each object file brings into a GNU ld link map.

Usage: mapsize.py MAP [N]  -- prints the totals per section kind and the N
largest contributors."""
import collections
import re
import sys

KINDS = ('.text', '.rdata', '.eh_frame', '.data', '.pdata', '.xdata')


def main():
    sizes = collections.Counter()
    kinds = collections.Counter()
    pending = None
    with open(sys.argv[1], encoding='utf-8', errors='replace') as lines:
        for line in lines:
            alone = re.match(r'^ (\.\S+)\s*$', line)
            if alone:
                pending = alone.group(1)  # long names put the numbers on the next line
                continue
            entry = re.match(r'^ (\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$', line)
            section = entry and (entry.group(1) or pending)
            pending = None
            if not section:
                continue
            kind = section.split('$')[0]
            if kind in KINDS:
                size = int(entry.group(2), 16)
                sizes[re.sub(r'.*/', '', entry.group(3))] += size
                kinds[kind] += size
    print('  ' + ', '.join(f'{k} {v}' for k, v in kinds.most_common()))
    for name, size in sizes.most_common(int(sys.argv[2]) if len(sys.argv) > 2 else 20):
        print(f'  {size:8d}  {name}')


if __name__ == '__main__':
    main()
