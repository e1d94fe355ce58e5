#!/usr/bin/env python3
"""What a second Python thread brings to a full walk (bench/walk.py's work):
one hive walked by one thread and by two (each taking every other subtree of
the root), and two hives walked one after the other and by two threads side by
side. Run it under a free-threaded interpreter (3.13t) and under one with the
GIL to compare. The key caches are filled by a first walk, as in bench/bench.py.

    PYTHONPATH=build/dev python bench/py_threads.py HIVE [ROUNDS]

Prints one line: gil=B one_thread=S two_threads=S two_hives_sequential=S
two_hives_parallel=S keys=K (best seconds of ROUNDS).
"""

from __future__ import annotations

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import orvane  # noqa: E402
from bench import best_of, in_threads, walk_keys  # noqa: E402


def main() -> int:
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    path = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    first, second = orvane.Hive.open(path), orvane.Hive.open(path)
    groups = first.root_key().subkeys()
    other_groups = second.root_key().subkeys()
    keys, _ = walk_keys(groups)  # fills the key caches and the page cache
    walk_keys(other_groups)
    halves = [groups[0::2], groups[1::2]]
    one = best_of(rounds, walk_keys, groups)
    two = min(in_threads([lambda h=h: walk_keys(h) for h in halves]) for _ in range(rounds))
    sequential = min(_both(groups, other_groups) for _ in range(rounds))
    parallel = min(in_threads([lambda: walk_keys(groups), lambda: walk_keys(other_groups)]) for _ in range(rounds))
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    print(f"gil={int(gil)} one_thread={one:.6f} two_threads={two:.6f} two_hives_sequential={sequential:.6f} "
          f"two_hives_parallel={parallel:.6f} keys={keys}")
    return 0


def _both(a: list, b: list) -> float:
    start = time.perf_counter()
    walk_keys(a)
    walk_keys(b)
    return time.perf_counter() - start


if __name__ == "__main__":
    sys.exit(main())
