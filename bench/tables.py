#!/usr/bin/env python3
"""Benchmark: both tables of each hive handed to pyarrow.table, against the
full C++ walk of the same data (bench/cpp_walk.cpp).

Each round opens the hive afresh and builds pyarrow.table(keys_table()) then
pyarrow.table(values_table()) from the one Hive object, as a caller does; the
best of ROUNDS is reported, and the ratio to the C++ walk.

    PYTHONPATH=build/dev python bench/tables.py [--rounds N] [--cpp-walk PATH] [HIVE ...]
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
    args, program = hive_arguments(__doc__)
    with tempfile.TemporaryDirectory() as scratch:
        paths = args.hives or corpus_paths(scratch)
        print(f"{'hive':<14}{'keys':>7}{'values':>8}{'c++ walk ms':>13}{'keys ms':>9}{'values ms':>11}"
              f"{'both ms':>9}{'both / walk':>13}")
        for path in paths:
            keys, values, walk = time_cpp(program, path, args.rounds)
            times = {which: best_of(args.rounds, tables, path, which) for which in ("keys", "values", "both")}
            print(f"{Path(path).name:<14}{keys:>7}{values:>8}{walk * 1e3:>13.1f}{times['keys'] * 1e3:>9.1f}"
                  f"{times['values'] * 1e3:>11.1f}{times['both'] * 1e3:>9.1f}{times['both'] / walk:>13.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
