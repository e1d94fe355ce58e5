#!/usr/bin/env python3
"""Time of the orphan-key scan, on each hive as it is and on a copy whose
root lists nothing (its subkey list pointed past the end), so that every key
below the root is an orphan the scan must find and the tolerant walk reach.

    bench/orphan_scan.py HIVE... [--rounds N]

Each round opens the hive afresh, so no figure is a cached answer.
"""

from __future__ import annotations

import struct
import sys
import tempfile
import time
from pathlib import Path

import orvane

HBINS = 0x1000


def cut_root(path: str, folder: str) -> str:
    image = bytearray(Path(path).read_bytes())
    root = struct.unpack_from("<I", image, 36)[0]
    struct.pack_into("<I", image, HBINS + root + 4 + 28, 0x7FFFFFF0)  # the root's subkey list offset
    out = Path(folder) / (Path(path).name + ".cut")
    out.write_bytes(image)
    return str(out)


def best_of(rounds: int, work) -> tuple[object, float]:
    best, result = float("inf"), None
    for _ in range(rounds):
        start = time.perf_counter()
        result = work()
        best = min(best, time.perf_counter() - start)
    return result, best


def main(argv: list[str]) -> None:
    rounds = int(argv[argv.index("--rounds") + 1]) if "--rounds" in argv else 5
    paths = [a for i, a in enumerate(argv) if a != "--rounds" and (i == 0 or argv[i - 1] != "--rounds")]
    print(f"{'hive':<18}{'orphans':>9}{'scan ms':>10}{'cut: orphans':>14}{'scan ms':>10}{'tolerant walk keys':>20}{'ms':>8}")
    with tempfile.TemporaryDirectory() as folder:
        for path in paths:
            found, scan = best_of(rounds, lambda: len(orvane.Hive.open(path).orphan_keys()))
            cut = cut_root(path, folder)
            cut_found, cut_scan = best_of(rounds, lambda: len(orvane.Hive.open_tolerant(cut).orphan_keys()))
            walked, walk = best_of(rounds, lambda: sum(1 for _ in orvane.Hive.open_tolerant(cut).walk()))
            print(f"{Path(path).name:<18}{found:>9}{scan * 1e3:>10.1f}{cut_found:>14}{cut_scan * 1e3:>10.1f}"
                  f"{walked:>20}{walk * 1e3:>8.1f}")


if __name__ == "__main__":
    main(sys.argv[1:])
