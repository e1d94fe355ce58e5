#!/usr/bin/env python3
"""Benchmark: the cost of Hive.open does not grow with the file.

Opening maps the file and reads only the first 512 bytes, so a 64 GiB sparse
hive opens as fast as a 4 KiB one. Run: ./dev.sh bench-open
"""

from __future__ import annotations

import os
import statistics
import struct
import sys
import tempfile
import time
from pathlib import Path

import orvane

SIZES = [4096, 1 << 20, 1 << 30, 64 << 30]
ROUNDS = 2000


def base_block() -> bytes:
    block = bytearray(4096)
    block[0:4] = b"regf"
    struct.pack_into("<IIQIIIIIII", block, 4, 1, 1, 0, 1, 5, 0, 1, 0x20, 0, 1)
    checksum = 0
    for (word,) in struct.iter_unpack("<I", bytes(block[:508])):
        checksum ^= word
    struct.pack_into("<I", block, 508, checksum)
    return bytes(block)


def time_open(path: str, rounds: int = ROUNDS) -> float:
    """Median seconds per Hive.open of `path`, over five batches."""
    orvane.Hive.open(path)  # warm the page cache for the first page
    samples = []
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(rounds):
            orvane.Hive.open(path)
        samples.append((time.perf_counter() - start) / rounds)
    return statistics.median(samples)


def main() -> int:
    with tempfile.TemporaryDirectory() as folder:
        results = []
        for size in SIZES:
            path = Path(folder) / f"hive-{size}"
            with open(path, "wb") as f:
                f.write(base_block())
                f.truncate(size)  # sparse: no blocks are written past the base block
            results.append((size, time_open(str(path))))
            os.remove(path)
    smallest = results[0][1]
    print(f"{'file size':>14}  {'Hive.open':>12}  {'vs 4 KiB':>8}")
    for size, seconds in results:
        print(f"{size:>14,}  {seconds * 1e6:>9.2f} µs  {seconds / smallest:>7.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
