"""A one-line progress indicator on stderr, for long runs at a terminal.

Shown only when stderr is a terminal and the run is long: several hives, or
one hive over 64 MiB. Redrawn at most five times a second.
"""

from __future__ import annotations

import os
import sys
import time

LARGE_HIVE = 64 << 20
INTERVAL = 0.2


def wanted(paths: list[str]) -> bool:
    if not sys.stderr.isatty():
        return False
    if len(paths) > 1:
        return True
    try:
        return os.path.getsize(paths[0]) > LARGE_HIVE
    except OSError:
        return False


class Progress:
    def __init__(self, total: int, enabled: bool) -> None:
        self.total = total
        self.enabled = enabled
        self.done = 0
        self.keys = 0
        self.start = time.monotonic()
        self.next_draw = self.start

    def add_keys(self, count: int) -> None:
        self.keys += count
        if self.enabled and time.monotonic() >= self.next_draw:
            self.draw()

    def hive_done(self) -> None:
        self.done += 1
        if self.enabled:
            self.draw()

    def draw(self) -> None:
        now = time.monotonic()
        self.next_draw = now + INTERVAL
        rate = self.keys / max(now - self.start, 1e-9)
        sys.stderr.write(f"\r\x1b[Korvane: {self.done}/{self.total} hives, {self.keys:,} keys, {rate:,.0f} keys/s")
        sys.stderr.flush()

    def close(self) -> None:
        if self.enabled:
            sys.stderr.write("\r\x1b[K")
            sys.stderr.flush()
