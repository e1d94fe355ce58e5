#!/usr/bin/env python3
"""Time of the scan for deleted records against a full walk of the same hive.

    bench/deleted_scan.py HIVE... [--rounds N]

For each hive: the records found, Hive.deleted_keys() plus deleted_values()
from Python, the same scan (with the data of every value) in C++ alone
(bench/cpp_deleted_scan.cpp), and the C++ full walk (bench/cpp_walk.cpp).
"""

from __future__ import annotations

import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import orvane  # noqa: E402
import walk as walk_bench  # noqa: E402


def time_python(path: str, rounds: int) -> tuple[int, int, float]:
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        hive = orvane.Hive.open(path)
        keys, values = hive.deleted_keys(), hive.deleted_values()
        best = min(best, time.perf_counter() - start)
    return len(keys), len(values), best


def find_cpp_scan(cpp_walk: Path) -> Path:
    program = cpp_walk.parent / "cpp_deleted_scan"
    if not program.exists():
        subprocess.run(["cmake", "--build", str(cpp_walk.parent.parent), "--target", "cpp_deleted_scan"], check=True,
                       stdout=subprocess.DEVNULL)
    return program


def rows(hives: list[tuple[str, str]], cpp_walk: Path, rounds: int) -> list[list[str]]:
    scan = find_cpp_scan(cpp_walk)
    out = []
    for name, path in hives:
        keys, values, py = time_python(path, rounds)
        cpp_keys, cpp_values, cpp = walk_bench.time_cpp(scan, path, rounds)
        assert (keys, values) == (cpp_keys, cpp_values), (name, keys, values, cpp_keys, cpp_values)
        _, _, walked = walk_bench.time_cpp(cpp_walk, path, rounds)
        out.append([name, f"{keys:,}", f"{values:,}", f"{py * 1e3:.1f}", f"{cpp * 1e3:.1f}", f"{walked * 1e3:.1f}",
                    f"{cpp / walked:.2f}"])
    return out


HEADER = ["hive", "deleted keys", "deleted values", "scan py ms", "scan c++ ms", "walk c++ ms", "scan/walk"]


def main() -> int:
    args, program = walk_bench.hive_arguments(__doc__, corpus_by_default=False)
    print("| " + " | ".join(HEADER) + " |")
    print("|" + "|".join("---" for _ in HEADER) + "|")
    for row in rows([(Path(p).name, p) for p in args.hives], program, args.rounds):
        print("| " + " | ".join(row) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
