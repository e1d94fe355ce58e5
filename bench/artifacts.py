#!/usr/bin/env python3
"""Every extractor that applies, on one hive, in a fresh process: prints
the records per extractor and the process time (user + system) of the run.

    python bench/artifacts.py HIVE
"""

from __future__ import annotations

import os
import sys
import time

import orvane
import orvane_artifacts


def main() -> None:
    start = time.perf_counter()
    result = orvane_artifacts.extract(orvane.Hive.open(sys.argv[1]))
    wall = time.perf_counter() - start
    counts = {name: len(records) for name, records in result.records.items()}
    cpu = os.times()
    print(f"{sys.argv[1]}: {sum(counts.values())} records, {len(result.problems)} problems; "
          f"extract {wall:.3f} s; process {cpu.user + cpu.system:.3f} s")
    print(counts)


if __name__ == "__main__":
    main()
