"""Carving throughput: orvane.carve() over a large image in the page cache
against a plain memchr pass (mmap.find of one byte) over the same mapping, in
the same run; and the cost of an image full of candidates.

    python bench/carve_scan.py [GiB]   (default 2; the image is written to /tmp and removed)
"""

from __future__ import annotations

import mmap
import os
import sys
import tempfile
import time

import orvane


def timed(work) -> float:
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def memchr_pass(path: str) -> None:
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
        m.find(b"\x01")


def main() -> None:
    gib = float(sys.argv[1]) if len(sys.argv) > 1 else 2
    size = int(gib * (1 << 30))
    with tempfile.TemporaryDirectory() as folder:
        plain = os.path.join(folder, "zeros.raw")
        with open(plain, "wb") as f:
            f.write(bytes(1 << 20) * (size >> 20))  # real pages, so both passes read the page cache
        memchr_pass(plain)  # warm the cache
        for label, memory in (("sector steps", False), ("every byte (memory=True)", True)):
            base = timed(lambda: memchr_pass(plain))
            scan = timed(lambda: orvane.carve(plain, memory=memory))
            print(f"{label}: carve {size / scan / 1e9:.2f} GB/s, memchr {size / base / 1e9:.2f} GB/s "
                  f"({base / scan:.2f} of memchr)")
        flood = os.path.join(folder, "flood.raw")
        block = bytearray(1 << 20)
        for at in range(0, len(block), 512):
            block[at:at + 4] = b"regf" if at % 1024 == 0 else b"hbin"
            block[at + 8:at + 12] = (4096).to_bytes(4, "little")
        with open(flood, "wb") as f:
            for _ in range(256):
                f.write(block)
        for memory in (False, True):
            found = []
            seconds = timed(lambda: found.extend(orvane.carve(flood, memory=memory, records=True)))
            print(f"256 MiB of candidates (memory={memory}): {seconds:.2f} s, {len(found)} items")


if __name__ == "__main__":
    main()
