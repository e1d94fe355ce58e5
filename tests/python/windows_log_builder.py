"""Test-side writer of the new-format transaction logs Windows keeps beside a
hive (.LOG1/.LOG2).

WindowsLogBuilder(hive, sequence) starts a log from the hive's first 512 bytes
(file type 6, both sequence numbers set, checksum fixed); entry() appends an
"HvLE" entry with real Marvin32 hashes, zero-padded to a multiple of 512 bytes.
Nothing written here has to be valid.
"""

from __future__ import annotations

import struct

from hive_builder import checksum

REGISTRY_SEED = 0x82EF4D887A4E55C5
_MASK = 0xFFFFFFFF


def _rotl(x: int, r: int) -> int:
    return ((x << r) | (x >> (32 - r))) & _MASK


def _mix(s0: int, s1: int) -> tuple[int, int]:
    s1 ^= s0
    s0 = (_rotl(s0, 20) + s1) & _MASK
    s1 = _rotl(s1, 9) ^ s0
    s0 = (_rotl(s0, 27) + s1) & _MASK
    s1 = _rotl(s1, 19)
    return s0, s1


def marvin32(data: bytes, seed: int = REGISTRY_SEED) -> int:
    """The 64-bit Marvin32 value (s1 << 32 | s0)."""
    s0, s1 = seed & _MASK, seed >> 32
    whole = len(data) // 4 * 4
    for (word,) in struct.iter_unpack("<I", data[:whole]):
        s0, s1 = _mix((s0 + word) & _MASK, s1)
    rest = data[whole:]
    last = 0x80 << (8 * len(rest))
    for i, byte in enumerate(rest):
        last |= byte << (8 * i)
    s0, s1 = _mix((s0 + last) & _MASK, s1)
    s0, s1 = _mix(s0, s1)
    return (s1 << 32) | s0


def fix_log_checksum(log: bytearray) -> None:
    log[508:512] = struct.pack("<I", checksum(log[:512]))


class WindowsLogBuilder:
    def __init__(self, hive: bytes, sequence: int) -> None:
        self.data = bytearray(hive[:512])
        self.data[4:12] = struct.pack("<II", sequence, sequence)
        self.data[28:32] = struct.pack("<I", 6)
        fix_log_checksum(self.data)

    def entry(self, sequence: int, hive_bins_data_size: int, pages, *, flags: int = 0) -> int:
        """Appends an entry holding `pages` ((offset relative to the hive bins
        data, bytes) pairs); returns its offset in the log."""
        at = len(self.data)
        body = b"".join(struct.pack("<II", offset, len(data)) for offset, data in pages)
        body += b"".join(data for _, data in pages)
        size = (40 + len(body) + 511) // 512 * 512
        body = body.ljust(size - 40, b"\0")
        header = b"HvLE" + struct.pack("<IIIII", size, flags, sequence, hive_bins_data_size, len(pages))
        header += struct.pack("<Q", marvin32(body))
        header += struct.pack("<Q", marvin32(header))
        self.data += header + body
        return at

    def build(self) -> bytes:
        return bytes(self.data)

    def write(self, path) -> str:
        with open(path, "wb") as f:
            f.write(self.build())
        return str(path)
