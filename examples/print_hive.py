#!/usr/bin/env python3
"""Prints a registry hive: its base block, its hive bins and its key tree.

    python examples/print_hive.py [HIVE]      (a hive file, or an .xz-compressed one)

Without an argument it prints the small sample hive bundled with orvane.
"""

from __future__ import annotations

import lzma
import sys
import tempfile
from datetime import datetime, timezone
from pathlib import Path

import orvane

SAMPLE = Path(__file__).resolve().parent.parent / "tests" / "data" / "corpus" / "BCD.xz"
INDENT = "    "
WIDTH = 100  # longer data is cut, with its full size shown


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


def written(key: orvane.RegistryKey) -> str:
    seconds = key.last_written_timestamp()
    if seconds is None:
        return "never written"
    try:
        return datetime.fromtimestamp(seconds, timezone.utc).strftime("%Y-%m-%d %H:%M:%S UTC")
    except (OverflowError, OSError, ValueError):  # outside what datetime can show
        return f"{seconds} s since 1970"


def shown(value: orvane.RegistryValue) -> str:
    try:
        text = str(value.data())
    except ValueError as error:  # e.g. a REG_DWORD of 2 bytes: show why, and the bytes
        text = f"<{error}> {value.raw_data().hex(' ')}"
    text = text.encode("unicode_escape").decode("ascii") if not text.isprintable() else text
    if len(text) > WIDTH:
        text = f"{text[:WIDTH]}... ({value.data_size()} bytes)"
    return text


def print_key_tree(hive: orvane.Hive) -> None:
    keys = values = 0
    # Depth-first with an explicit stack: deep trees cannot exhaust Python's recursion limit.
    stack = [(hive.root_key(), 0)]
    while stack:
        key, depth = stack.pop()
        keys += 1
        pad = INDENT * depth
        print(f"{pad}{key.name() or '(unnamed)'}\\  [{written(key)}]")
        try:
            for value in key.values():
                values += 1
                print(f"{pad}{INDENT}{value.name()} = {value.value_type()}: {shown(value)}")
            subkeys = key.subkeys()
        except ValueError as error:  # a damaged list: say so and go on with the rest
            print(f"{pad}{INDENT}<{error}>")
            continue
        stack.extend((subkey, depth + 1) for subkey in reversed(subkeys))
    print(f"{keys} keys, {values} values")


def main(argv: list[str]) -> int:
    path = Path(argv[1]) if len(argv) > 1 else SAMPLE
    hive = open_hive(path)
    print(f"{path.name}: {hive}")
    print_base_block(hive)
    print_hbins(hive)
    print()
    print_key_tree(hive)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
