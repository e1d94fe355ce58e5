"""Test-side writer of hive images, byte by byte.

A default HiveBuilder is a valid, empty hive: a base block ("regf", version
1.5, sequence 1/1, root cell offset 0x20) and no bins. Tests add bins and
cells, then break one thing (a field, a size word, the checksum) to get each
damaged case. Nothing written here has to be valid.
"""

from __future__ import annotations

import struct

BASE = 4096


def checksum(image: bytes | bytearray) -> int:
    value = 0
    for (word,) in struct.iter_unpack("<I", bytes(image[:508])):
        value ^= word
    return value


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


class HiveBuilder:
    def __init__(self) -> None:
        self.image = bytearray(BASE)
        self.image[0:4] = b"regf"
        self.u32(4, 1).u32(8, 1).u32(20, 1).u32(24, 5).u32(32, 1).u32(36, 0x20).u32(44, 1)
        self.image[48:48 + 12] = utf16("SYSTEM")
        self._next_cell = 0
        self._bin_end = 0

    # Raw writes at absolute image offsets.
    def u16(self, at: int, value: int) -> HiveBuilder:
        return self.raw(at, struct.pack("<H", value & 0xFFFF))

    def u32(self, at: int, value: int) -> HiveBuilder:
        return self.raw(at, struct.pack("<I", value & 0xFFFFFFFF))

    def u64(self, at: int, value: int) -> HiveBuilder:
        return self.raw(at, struct.pack("<Q", value & 0xFFFFFFFFFFFFFFFF))

    def raw(self, at: int, data: bytes) -> HiveBuilder:
        if len(self.image) < at + len(data):
            self.image.extend(bytes(at + len(data) - len(self.image)))
        self.image[at:at + len(data)] = data
        return self

    # Base block fields.
    def version(self, major: int, minor: int) -> HiveBuilder:
        return self.u32(20, major).u32(24, minor)

    def root(self, offset: int) -> HiveBuilder:
        return self.u32(36, offset)

    def sequences(self, primary: int, secondary: int) -> HiveBuilder:
        return self.u32(4, primary).u32(8, secondary)

    def add_hbin(self, size: int = 4096, *, offset_field: int | None = None) -> int:
        """Appends a bin; returns its offset in the hive bins data."""
        offset = len(self.image) - BASE
        self.image.extend(bytes(size))
        self.raw(BASE + offset, b"hbin").u32(BASE + offset + 4, offset if offset_field is None else offset_field)
        self.u32(BASE + offset + 8, size)
        self.u32(40, len(self.image) - BASE)
        self._next_cell, self._bin_end = offset + 32, offset + size
        return offset

    def add_cell(self, payload: bytes, *, size_word: int | None = None) -> int:
        """Places a cell in the last bin (a new bin when it does not fit);
        returns its cell offset. The size word is the allocated (negative) size
        rounded up to 8 unless given."""
        total = (len(payload) + 4 + 7) & ~7
        if self._bin_end == 0 or self._next_cell + total > self._bin_end:
            self.add_hbin(((total + 32 + 4095) // 4096) * 4096)
        offset = self._next_cell
        self.raw(BASE + offset, struct.pack("<i", -total if size_word is None else size_word))
        self.raw(BASE + offset + 4, payload)
        self._next_cell += total
        return offset

    def build(self, *, fix_checksum: bool = True) -> bytes:
        image = bytearray(self.image)
        if fix_checksum:
            image[508:512] = struct.pack("<I", checksum(image))
        return bytes(image)

    def write(self, path, **kwargs) -> str:
        data = self.build(**kwargs)
        with open(path, "wb") as f:
            f.write(data)
        return str(path)
