#!/usr/bin/env python3
"""Writes large synthetic hives for the benchmarks, with the test-side builder
(tests/python/hive_builder.py).

The tree: the root names group keys through an "lh" list; each group holds up
to 1000 leaf keys through an "lf", "lh" or "ri" list (a root index over "li"
and "lh" leaves of 256), in turn. Keys carry 0 to 10 values (5 on average), of
mixed types: inline DWORDs and short binaries, strings, multi-strings, QWORDs
and binaries in their own cells, and now and then a big-data value of 20 to
40 KB. Names are ASCII with some UTF-16 ones. Everything is decided by the key
index, so the same arguments always give the same bytes.

    python bench/make_hive.py OUT [--keys 200000]
"""

from __future__ import annotations

import argparse
import struct
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))

from hive_builder import (  # noqa: E402
    REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_QWORD, REG_SZ, BASE, HiveBuilder, multi_sz, sz,
)

SIZE_WORD = struct.Struct("<i")
GROUP_SIZE = 1000
LEAF_SIZE = 256  # entries per leaf list under a root index
BIG_EVERY = 20011  # one value in this many is big data


def value_of(n: int) -> tuple[str, int, bytes]:
    """The name, type and data of the n-th value of the hive."""
    kind = n % 20
    name = f"Value{n}" if n % 13 else f"Wert{n}\u00e9"
    if n % BIG_EVERY == BIG_EVERY - 1:
        return name, REG_BINARY, bytes((n + i) & 0xFF for i in range(20000 + n % 20000))
    if kind < 7:
        return name, REG_SZ, sz(f"C:\\Program Files\\App{n % 977}\\bin")
    if kind < 12:
        return name, REG_DWORD, struct.pack("<I", n)
    if kind < 14:
        return name, REG_BINARY, struct.pack("<I", n)[: 1 + n % 4]
    if kind < 16:
        return name, REG_BINARY, bytes(range(16 + n % 184))
    if kind < 18:
        return name, REG_QWORD, struct.pack("<Q", n * 0x10001)
    if kind < 19:
        return name, REG_MULTI_SZ, multi_sz("alpha", f"beta{n}", "gamma")
    return name, REG_EXPAND_SZ, sz("%SystemRoot%\\system32")


class BulkBuilder(HiveBuilder):
    """The test builder with a leaner cell placement: the bin is already there,
    so the size word and payload go in with one slice assignment."""

    def add_cell(self, payload: bytes, *, size_word: int | None = None) -> int:
        total = (len(payload) + 11) & ~7
        if self._next_cell + total > self._bin_end:
            self.add_hbin(((total + 32 + 4095) // 4096) * 4096)
        offset = self._next_cell
        at = BASE + offset
        self.image[at:at + 4 + len(payload)] = SIZE_WORD.pack(-total if size_word is None else size_word) + payload
        self._next_cell = offset + total
        return offset


class Counter:
    def __init__(self) -> None:
        self.keys = 0
        self.values = 0


def write_key(b: HiveBuilder, name: str, index: int, counts: Counter, **fields) -> int:
    offsets = []
    for _ in range(index % 11):
        value_name, value_type, data = value_of(counts.values)
        offsets.append(b.value(value_name, value_type, data))
        counts.values += 1
    if offsets:
        fields.update(value_list=b.value_list(offsets), value_count=len(offsets))
    counts.keys += 1
    return b.key(name, last_written=132_000_000_000_000_000 + index * 10_000_000, **fields)


def write_list(b: HiveBuilder, kind: str, children: list[int]) -> int:
    if kind != "ri":
        return b.subkey_list(kind, children)
    leaves = [b.subkey_list("li" if i % 2 else "lh", children[i * LEAF_SIZE:(i + 1) * LEAF_SIZE])
              for i in range((len(children) + LEAF_SIZE - 1) // LEAF_SIZE)]
    return b.subkey_list("ri", leaves)


def build(keys: int) -> tuple[bytes, Counter]:
    """A hive of exactly `keys` keys (the root and the groups included)."""
    b = BulkBuilder()
    counts = Counter()
    group_count = (keys - 1 + GROUP_SIZE) // (GROUP_SIZE + 1)  # at most GROUP_SIZE leaves each
    leaves_left = keys - 1 - group_count
    groups = []
    index = 1
    for group in range(group_count):
        children = []
        for _ in range(min(GROUP_SIZE, leaves_left)):
            name = f"Key{index:07d}" if index % 17 else f"Schl\u00fcssel{index:07d}"
            children.append(write_key(b, name, index, counts))
            index += 1
        leaves_left -= len(children)
        fields = {}
        if children:
            fields = dict(subkey_list=write_list(b, ("lf", "lh", "ri")[group % 3], children),
                          subkey_count=len(children))
        groups.append(write_key(b, f"Group{group:04d}", index, counts, **fields))
        index += 1
    root = write_key(b, "ROOT", 0, counts, subkey_list=b.subkey_list("lh", groups), subkey_count=len(groups))
    b.root(root)
    return b.build(), counts


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--keys", type=int, default=200_000)
    args = parser.parse_args()
    start = time.perf_counter()
    image, counts = build(args.keys)
    Path(args.out).write_bytes(image)
    print(f"{args.out}: {counts.keys} keys, {counts.values} values, {len(image):,} bytes "
          f"in {time.perf_counter() - start:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
