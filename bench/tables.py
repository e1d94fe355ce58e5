#!/usr/bin/env python3
"""Benchmark: both tables of each hive handed to pyarrow.table, against the
full C++ walk of the same data (bench/cpp_walk.cpp).

Each round opens the hive afresh and builds pyarrow.table(keys_table()) then
pyarrow.table(values_table()) from the one Hive object, as a caller does; the
best of ROUNDS is reported, and the ratio to the C++ walk.

The machine's speed drifts from second to second, by as much as a tenth, so
the C++ walk and the tables are timed by turns, PASSES times each: the best
of all passes goes into the ratio, and the range of the passes' own ratios
shows what the drift left.

    PYTHONPATH=build/dev python bench/tables.py [--rounds N] [--passes P] [--cpp-walk PATH] [HIVE ...]
"""

from __future__ import annotations

import sys
import tempfile
from pathlib import Path

import orvane
import pyarrow

from timing import best_of
from walk import corpus_paths, hive_arguments, time_cpp


def tables(path: str, which: str) -> None:
    hive = orvane.Hive.open(path)
    if which != "values":
        pyarrow.table(hive.keys_table())
    if which != "keys":
        pyarrow.table(hive.values_table())


def main() -> int:
    args, program = hive_arguments(__doc__, passes=True)
    passes = max(1, args.passes)
    with tempfile.TemporaryDirectory() as scratch:
        paths = args.hives or corpus_paths(scratch)
        print(f"{'hive':<14}{'keys':>7}{'values':>8}{'c++ walk ms':>13}{'keys ms':>9}{'values ms':>11}"
              f"{'both ms':>9}{'both / walk':>13}{'passes':>13}")
        for path in paths:
            walks, times, ratios = [], {"keys": [], "values": [], "both": []}, []
            for _ in range(passes):
                keys, values, walk = time_cpp(program, path, args.rounds)
                walks.append(walk)
                for which in times:
                    times[which].append(best_of(args.rounds, tables, path, which))
                ratios.append(times["both"][-1] / walk)
            walk, best = min(walks), {which: min(found) for which, found in times.items()}
            print(f"{Path(path).name:<14}{keys:>7}{values:>8}{walk * 1e3:>13.1f}{best['keys'] * 1e3:>9.1f}"
                  f"{best['values'] * 1e3:>11.1f}{best['both'] * 1e3:>9.1f}{best['both'] / walk:>13.2f}"
                  f"{f'{min(ratios):.2f}-{max(ratios):.2f}':>13}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
