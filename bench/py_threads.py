#!/usr/bin/env python3
"""What a second Python thread brings to a full walk (bench/bench.py's walk):
one hive walked by one thread and by two (each taking every other subtree of
the root), and two hives (the file opened twice) walked one after the other
and by two threads side by side. The key caches are filled by a first walk,
so the figures are those of the binding and the hive reads, not of decoding.
Run it under the free-threaded interpreter (3.13t) and under one with the GIL
to compare; bench/bench.py runs it on both.

    PYTHONPATH=build/dev python bench/py_threads.py HIVE [ROUNDS]

Prints one line: gil=B one_thread=S two_threads=S two_hives_sequential=S
two_hives_parallel=S keys=K (best seconds of ROUNDS).
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import orvane  # noqa: E402
from bench import best_of, in_threads  # noqa: E402
from walk import walk_keys  # noqa: E402


def measure(path: str, rounds: int) -> dict[str, float]:
    first, second = orvane.Hive.open(path), orvane.Hive.open(path)
    groups = first.root_key().subkeys()
    other_groups = second.root_key().subkeys()
    keys, _ = walk_keys(groups)  # fills the key caches and the page cache
    walk_keys(other_groups)
    halves = [groups[0::2], groups[1::2]]
    return {
        "gil": float(getattr(sys, "_is_gil_enabled", lambda: True)()),
        "one_thread": best_of(rounds, walk_keys, groups),
        "two_threads": min(in_threads([lambda h=h: walk_keys(h) for h in halves]) for _ in range(rounds)),
        "two_hives_sequential": best_of(rounds, lambda: (walk_keys(groups), walk_keys(other_groups))),
        "two_hives_parallel": min(in_threads([lambda: walk_keys(groups), lambda: walk_keys(other_groups)])
                                  for _ in range(rounds)),
        "keys": float(keys),
    }


def main() -> int:
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    figures = measure(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 5)
    print(f"gil={int(figures['gil'])} one_thread={figures['one_thread']:.6f} "
          f"two_threads={figures['two_threads']:.6f} two_hives_sequential={figures['two_hives_sequential']:.6f} "
          f"two_hives_parallel={figures['two_hives_parallel']:.6f} keys={int(figures['keys'])}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
