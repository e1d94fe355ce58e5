"""Decoders for the binary pieces artifacts are made of: times, UTF-16 text,
GUIDs, SIDs, and a checked reader for fixed-layout structs.

Nothing here raises on bad bytes except `Reader`, whose `Overrun` an
extractor catches per record to report "... runs past the data" and go on
with the next one.
"""

from __future__ import annotations

import struct
from datetime import datetime, timedelta, timezone

UTC = timezone.utc
_FILETIME_EPOCH = datetime(1601, 1, 1, tzinfo=UTC)
_UNIX_EPOCH = datetime(1970, 1, 1, tzinfo=UTC)
# The last tick a datetime can hold: 9999-12-31T23:59:59.999999.
_MAX_FILETIME = (datetime(9999, 12, 31, 23, 59, 59, 999999, tzinfo=UTC) - _FILETIME_EPOCH) // timedelta(
    microseconds=1) * 10 + 9
_NEVER = (0, 0x7FFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF)

_U16 = struct.Struct("<H")
_U32 = struct.Struct("<I")
_I32 = struct.Struct("<i")
_U64 = struct.Struct("<Q")
_SYSTEMTIME = struct.Struct("<8H")


def filetime(ticks: int | None) -> datetime | None:
    """100 ns ticks since 1601-01-01 UTC as an aware datetime (microseconds);
    None for 0, the "never" markers and anything a datetime cannot hold."""
    if ticks is None or ticks in _NEVER or ticks < 0 or ticks > _MAX_FILETIME:
        return None
    return _FILETIME_EPOCH + timedelta(microseconds=ticks // 10)


def filetime_at(data: bytes, offset: int = 0) -> tuple[int | None, datetime | None]:
    """(raw ticks, datetime) of a FILETIME at offset; (None, None) when the
    data is too short."""
    if offset < 0 or offset + 8 > len(data):
        return None, None
    ticks = _U64.unpack_from(data, offset)[0]
    return ticks, filetime(ticks)


def unix_time(seconds: int | None) -> datetime | None:
    """Seconds since 1970 UTC; None for 0 and for what a datetime cannot hold."""
    if not seconds or seconds < 0:
        return None
    try:
        return _UNIX_EPOCH + timedelta(seconds=seconds)
    except OverflowError:
        return None


def systemtime_fields(data: bytes, offset: int = 0) -> tuple[int, ...] | None:
    """The eight u16 of a SYSTEMTIME: year, month, day of week, day, hour,
    minute, second, milliseconds; None when fewer than 16 bytes are there."""
    if offset < 0 or offset + 16 > len(data):
        return None
    return _SYSTEMTIME.unpack_from(data, offset)


def systemtime(data: bytes, offset: int = 0, *, local: bool = False) -> datetime | None:
    """A SYSTEMTIME as a datetime: aware UTC, or naive when the artifact
    stores local time (`local=True`). None for short data, month 0 and any
    field out of range."""
    fields = systemtime_fields(data, offset)
    if fields is None:
        return None
    year, month, _, day, hour, minute, second, millis = fields
    if year < 1601 or millis > 999:
        return None
    try:
        return datetime(year, month, day, hour, minute, second, millis * 1000, None if local else UTC)
    except ValueError:
        return None


def utf16z(data: bytes) -> str:
    """UTF-16LE text up to its first NUL unit (or all of it without one):
    bytes after the NUL are leftovers and never shown; an odd last byte is
    dropped; malformed units become U+FFFD (a NUL unit always decodes to
    U+0000 on its own, so cutting the decoded text cuts at the unit)."""
    text = data[:len(data) & ~1].decode("utf-16-le", "replace")
    cut = text.find("\0")
    return text if cut < 0 else text[:cut]


def utf16_list(data: bytes) -> list[str]:
    """REG_MULTI_SZ: NUL-separated UTF-16LE strings; an empty string ends the
    list (as Windows reads it), and so does the end of the data."""
    text = data[:len(data) & ~1].decode("utf-16-le", "replace")
    out: list[str] = []
    for part in text.split("\0"):
        if not part:
            break
        out.append(part)
    return out


def ascii_z(data: bytes) -> str:
    """Single-byte text up to its first NUL (Latin-1, so every byte decodes)."""
    cut = data.find(b"\0")
    return (data if cut < 0 else data[:cut]).decode("latin-1")


def guid(data: bytes, offset: int = 0) -> str | None:
    """A binary GUID as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; None when short."""
    if offset < 0 or offset + 16 > len(data):
        return None
    a, b, c = struct.unpack_from("<IHH", data, offset)
    tail = data[offset + 8:offset + 16].hex().upper()
    return f"{{{a:08X}-{b:04X}-{c:04X}-{tail[:4]}-{tail[4:]}}}"


def sid(data: bytes, offset: int = 0) -> str | None:
    """A binary SID as S-1-<authority>-<sub>...; None when short or not revision 1."""
    if offset < 0 or offset + 8 > len(data) or data[offset] != 1:
        return None
    count = data[offset + 1]
    if offset + 8 + 4 * count > len(data):
        return None
    authority = int.from_bytes(data[offset + 2:offset + 8], "big")
    subs = struct.unpack_from(f"<{count}I", data, offset + 8)
    return "-".join(["S-1", str(authority), *map(str, subs)])


def u32_at(data: bytes, offset: int = 0) -> int | None:
    return _U32.unpack_from(data, offset)[0] if 0 <= offset and offset + 4 <= len(data) else None


def u64_at(data: bytes, offset: int = 0) -> int | None:
    return _U64.unpack_from(data, offset)[0] if 0 <= offset and offset + 8 <= len(data) else None


def signed32(number: int | None) -> int | None:
    """A DWORD read as the signed 32-bit number it stores (time-zone biases)."""
    if number is None:
        return None
    number &= 0xFFFFFFFF
    return number - (1 << 32) if number & 0x80000000 else number


def flag_names(flags: int, names: dict[int, str]) -> list[str]:
    """The names of the bits set in flags, low bit first; unknown bits as hex."""
    out = [name for bit, name in names.items() if flags & bit]
    rest = flags & ~sum(names)
    if rest:
        out.append(f"{rest:#x}")
    return out


class Overrun(Exception):
    """A field of a struct lies (partly) past the end of its data."""


class Reader:
    """Checked little-endian reads at offsets into one blob of bytes. A read
    past the end raises Overrun("<what> runs past the data"), which the
    extractor turns into one problem line for the record at hand."""

    __slots__ = ("data", "size")

    def __init__(self, data: bytes, end: int | None = None) -> None:
        """Reads stop at `end` (default: the end of the data), so a record's
        fields are checked against the record, not the whole blob."""
        self.data = data
        self.size = len(data) if end is None else min(end, len(data))

    def _check(self, offset: int, length: int, what: str) -> None:
        if offset < 0 or length < 0 or offset + length > self.size:
            raise Overrun(f"{what} runs past the data")

    def u16(self, offset: int, what: str = "field") -> int:
        self._check(offset, 2, what)
        return _U16.unpack_from(self.data, offset)[0]

    def u32(self, offset: int, what: str = "field") -> int:
        self._check(offset, 4, what)
        return _U32.unpack_from(self.data, offset)[0]

    def i32(self, offset: int, what: str = "field") -> int:
        self._check(offset, 4, what)
        return _I32.unpack_from(self.data, offset)[0]

    def u64(self, offset: int, what: str = "field") -> int:
        self._check(offset, 8, what)
        return _U64.unpack_from(self.data, offset)[0]

    def bytes(self, offset: int, length: int, what: str = "field") -> bytes:
        self._check(offset, length, what)
        return self.data[offset:offset + length]

    def utf16(self, offset: int, length: int, what: str = "text") -> str:
        """length bytes of UTF-16LE text, cut at a NUL unit."""
        return utf16z(self.bytes(offset, length, what))
