#!/usr/bin/env python3
"""Prints a registry hive: its base block, its hive bins and its key tree.

    python examples/print_hive.py [HIVE]      (a hive file, or an .xz-compressed one)

Without an argument it prints the small sample hive bundled with orvane.
"""

from __future__ import annotations

import lzma
import sys
import tempfile
from pathlib import Path

import orvane

SAMPLE = Path(__file__).resolve().parent.parent / "tests" / "data" / "corpus" / "BCD.xz"


def open_hive(path: Path) -> orvane.Hive:
    if path.suffix != ".xz":
        return orvane.Hive.open(str(path))
    with tempfile.NamedTemporaryFile(suffix=".hive") as plain:
        plain.write(lzma.decompress(path.read_bytes()))
        plain.flush()
        return orvane.Hive.open(plain.name)  # the mapping outlives the file


def print_base_block(hive: orvane.Hive) -> None:
    block = hive.base_block()
    print(block)
    print(f"  file name:          {block.file_name!r}")
    print(f"  sequence numbers:   {block.primary_sequence} / {block.secondary_sequence}")
    print(f"  root cell offset:   {block.root_cell_offset:#x}")
    print(f"  hive bins data:     {block.hive_bins_data_size:#x} bytes")


def print_hbins(hive: orvane.Hive) -> None:
    bins = hive.hbins()
    print(f"{len(bins)} hive bins, {sum(b.size for b in bins):#x} bytes")
    for hbin in bins:
        print(f"  {hbin}")


def main(argv: list[str]) -> int:
    path = Path(argv[1]) if len(argv) > 1 else SAMPLE
    hive = open_hive(path)
    print(f"{path.name}: {hive}")
    print_base_block(hive)
    print_hbins(hive)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
