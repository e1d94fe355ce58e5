"""The one way the benchmarks time a job: the best of several rounds."""

from __future__ import annotations

import time


def best_of(rounds: int, fn, *args) -> float:
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        fn(*args)
        best = min(best, time.perf_counter() - start)
    return best
