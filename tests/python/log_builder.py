"""Test-side writer of "HvLE" transaction logs.

A LogBuilder starts as a 4096-byte header ("HvLE" and a sequence number).
block() starts a "DIRT" block at the next 4096-byte position; page() and
record() append records to it, packed back to back (they may run past the
block's 4096 bytes). A block's record count is the number of records added
unless given. build() pads the file to whole blocks. Nothing written here has
to be valid.
"""

from __future__ import annotations

import struct

BLOCK = 4096


class LogBuilder:
    def __init__(self, sequence: int = 1) -> None:
        self.data = bytearray(BLOCK)
        self.data[0:4] = b"HvLE"
        self.data[4:8] = struct.pack("<I", sequence & 0xFFFFFFFF)
        self._block: int | None = None
        self._count: int | None = None
        self._records = 0

    def block(self, count: int | None = None) -> LogBuilder:
        """Starts a "DIRT" block at the next block position."""
        self._finish_block()
        self.pad()
        self._block = len(self.data)
        self.data += b"DIRT" + bytes(12)
        self._count, self._records = count, 0
        return self

    def page(self, offset: int, data: bytes) -> LogBuilder:
        """A record whose size field matches its bytes."""
        return self.record(offset, len(data), data)

    def record(self, offset: int, size: int, data: bytes = b"") -> LogBuilder:
        """A record with any size field, followed by `data`."""
        self.data += struct.pack("<II", offset & 0xFFFFFFFF, size & 0xFFFFFFFF) + data
        self._records += 1
        return self

    def pad(self) -> LogBuilder:
        self.data += bytes(-len(self.data) % BLOCK)
        return self

    def build(self, *, pad: bool = True) -> bytes:
        self._finish_block()
        if pad:
            self.pad()
        return bytes(self.data)

    def write(self, path, **kwargs) -> str:
        with open(path, "wb") as f:
            f.write(self.build(**kwargs))
        return str(path)

    def _finish_block(self) -> None:
        if self._block is not None:
            count = self._records if self._count is None else self._count
            self.data[self._block + 8:self._block + 12] = struct.pack("<I", count & 0xFFFFFFFF)
