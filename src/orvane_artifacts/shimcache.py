"""The application-compatibility cache (AppCompatCache value of SYSTEM's
Session Manager): the files the compatibility engine looked at, with their
last-modified times, in stored order (position 0 = most recent).

The first u32 of the data says which layout follows:
  0xDEADBEEF  XP 32-bit: 400-byte header with an LRU array, 552-byte entries
  0xBADC0FFE  Server 2003, XP 64-bit, Vista, 2008: 8-byte header, 24/32-byte entries
  0xBADC0FEE  7, 2008 R2: 128-byte header, 32/48-byte entries
  0x80        8.0 / 8.1: "00ts" / "10ts" entries from offset 0x80
  0x30, 0x34  10 / 11 (any header size whose target starts with "10ts")
Where 32- and 64-bit layouts differ the machine's PROCESSOR_ARCHITECTURE
decides, and failing that the shape of the first entry. The time is the
file's own last-modified time: never an execution time.

Every offset and length is checked; a bad entry ends the walk with one
problem line and the entries read so far are kept.
"""

from __future__ import annotations

import struct
from collections.abc import Iterator
from typing import NamedTuple

from orvane_artifacts.binary import Overrun, Reader, filetime, utf16z
from orvane_artifacts.control_sets import control_sets
from orvane_artifacts.framework import (
    BOOL, CONTROL_SET, INT, KEY_LAST_WRITTEN, KEY_PATH, STR, SYSTEM, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, join, last_written

XP_MAGIC = 0xDEADBEEF
SERVER_2003_MAGIC = 0xBADC0FFE
WIN7_MAGIC = 0xBADC0FEE
WIN8_HEADER = 0x80
SIGNATURE_80 = b"00ts"
SIGNATURE_81 = b"10ts"

XP_HEADER = 0x190
XP_ENTRY = 0x228
XP_PATH_BYTES = 0x210
XP_MAX_ENTRIES = 96
XP_LRU_SLOTS = 96
# Bounds on the counts a header may claim: the largest caches Windows keeps
# are 1024 entries; a count past what the data could hold is a lie.
MAX_ENTRIES = 1024

CACHE_PATHS = ("Control\\Session Manager\\AppCompatCache", "Control\\Session Manager\\AppCompatibility")
ENVIRONMENT = "Control\\Session Manager\\Environment"


class Entry(NamedTuple):
    position: int
    offset: int
    path: str
    filetime: int | None
    insert_flags: int | None = None
    shim_flags: int | None = None
    data_size: int | None = None
    file_size: int | None = None
    package: str | None = None
    executed_hint: bool | None = None


class Cache(NamedTuple):
    format: str
    header_count: int | None
    entries: list[Entry]
    problems: list[str]


def normalized(path: str) -> str:
    """\\??\\C:\\x.exe -> C:\\x.exe; \\??\\UNC\\server\\share -> \\\\server\\share."""
    for prefix in ("\\??\\", "\\\\?\\"):
        if path.startswith(prefix):
            rest = path[len(prefix):]
            return "\\\\" + rest[4:] if rest[:4].upper() == "UNC\\" else rest
    return path


def parse(data: bytes, architecture: str | None = None) -> Cache:
    """The cache's entries, in stored order. architecture is the machine's
    PROCESSOR_ARCHITECTURE (x86, AMD64, IA64) where known. Never raises."""
    if len(data) < 4:
        return Cache("unknown", None, [], [f"{len(data)} bytes: too short for a cache header"])
    magic = struct.unpack_from("<I", data)[0]
    if magic == XP_MAGIC:
        return _xp(data)
    if magic == SERVER_2003_MAGIC:
        return _server_2003(data, architecture)
    if magic == WIN7_MAGIC:
        return _win7(data, architecture)
    if magic == WIN8_HEADER and data[WIN8_HEADER:WIN8_HEADER + 4] in (SIGNATURE_80, SIGNATURE_81):
        return _ts_entries(data, "8.1" if data[WIN8_HEADER:WIN8_HEADER + 4] == SIGNATURE_81 else "8.0",
                           WIN8_HEADER, None)
    if 0x20 <= magic < 0x100 and data[magic:magic + 4] == SIGNATURE_81:
        count = struct.unpack_from("<I", data, 0x24)[0] if magic >= 0x28 else None
        return _ts_entries(data, "10", magic, count)
    return Cache("unknown", None, [], [f"unknown header {magic:#010x}"])


def _problem_at(index: int, offset: int, text: str) -> str:
    return f"entry {index} at {offset:#x}: {text}"


def _claimed_count(count: int, room: int, entry_size: int, limit: int, problems: list[str]) -> int:
    """The entries to read: the header's count, cut to what fits in the data."""
    fits = max(room, 0) // entry_size
    if count > min(fits, limit):
        problems.append(f"header says {count} entries, the data holds at most {min(fits, limit)}")
        return min(fits, limit)
    return count


def _xp(data: bytes) -> Cache:
    problems: list[str] = []
    reader = Reader(data)
    try:
        count = reader.u32(4, "entry count")
        lru_count = reader.u32(8, "LRU count")
    except Overrun as overrun:
        return Cache("xp", None, [], [str(overrun)])
    readable = _claimed_count(count, len(data) - XP_HEADER, XP_ENTRY, XP_MAX_ENTRIES, problems)
    entries: list[Entry] = []
    for index in range(readable):
        at = XP_HEADER + index * XP_ENTRY
        path = utf16z(data[at:at + XP_PATH_BYTES])
        ticks = struct.unpack_from("<Q", data, at + 0x210)[0]
        size = struct.unpack_from("<Q", data, at + 0x218)[0]
        entries.append(Entry(index, at, path, ticks, file_size=size))
    order = _lru_order(data, lru_count, len(entries))
    if order is not None:
        entries = [entries[slot]._replace(position=position) for position, slot in enumerate(order)]
    return Cache("xp", count, entries, problems)


def _lru_order(data: bytes, lru_count: int, entry_count: int) -> list[int] | None:
    """The LRU array's entry indexes, most recent first, when it is
    consistent (each index once, all below the entry count); else None and
    stored order stands."""
    if not 0 < lru_count <= min(XP_LRU_SLOTS, entry_count) or len(data) < 0x10 + 4 * lru_count:
        return None
    slots = list(struct.unpack_from(f"<{lru_count}I", data, 0x10))
    if len(set(slots)) != len(slots) or any(slot >= entry_count for slot in slots):
        return None
    rest = [index for index in range(entry_count) if index not in set(slots)]
    return slots + rest


def _is_64bit(data: bytes, table: int, count: int, entry_32: int, entry_64: int,
              architecture: str | None) -> bool:
    if architecture:
        return architecture.upper() in ("AMD64", "IA64", "ARM64")
    # A 64-bit entry has zero padding at +4 and a path offset at +8 that
    # points past the whole table; a 32-bit entry has its offset at +4.
    if len(data) < table + 16 or count == 0:
        return False
    padding, offset = struct.unpack_from("<IQ", data, table + 4)
    return padding == 0 and table + entry_64 * count <= offset < len(data)


def _path(reader: Reader, offset: int, length: int) -> str:
    if length % 2:
        raise Overrun("path length is odd")  # reported like an overrun: the entry cannot be trusted
    return reader.utf16(offset, length, "path")


def _server_2003(data: bytes, architecture: str | None) -> Cache:
    problems: list[str] = []
    reader = Reader(data)
    try:
        count = reader.u32(4, "entry count")
    except Overrun as overrun:
        return Cache("2003/vista", None, [], [str(overrun)])
    wide = _is_64bit(data, 8, count, 24, 32, architecture)
    size = 32 if wide else 24
    readable = _claimed_count(count, len(data) - 8, size, MAX_ENTRIES, problems)
    raw: list[tuple[int, int, int, int, int]] = []
    for index in range(readable):
        at = 8 + index * size
        length = reader.u16(at)
        if wide:
            offset, ticks, low, high = struct.unpack_from("<QQII", data, at + 8)
        else:
            offset, ticks, low, high = struct.unpack_from("<IQII", data, at + 4)
        raw.append((at, length, offset, ticks, low | high << 32))
    # 2003 stores a file size where Vista stores insert and shim flags. No
    # byte tells them apart; flags are small numbers and a high half is a
    # shim flag, while executables are larger than a kilobyte and smaller
    # than 4 GiB: so all-small low halves or any high half mean Vista.
    vista = any(tail >> 32 for *_, tail in raw) or all(tail < 0x400 for *_, tail in raw)
    name = f"vista{' 64-bit' if wide else ''}" if vista else f"2003{' 64-bit' if wide else ''}"
    entries: list[Entry] = []
    for index, (at, length, offset, ticks, tail) in enumerate(raw):
        try:
            path = _path(reader, offset, length)
        except Overrun as overrun:
            problems.append(_problem_at(index, at, str(overrun)))
            break
        if vista:
            entries.append(Entry(index, at, path, ticks, insert_flags=tail & 0xFFFFFFFF, shim_flags=tail >> 32))
        else:
            entries.append(Entry(index, at, path, ticks, file_size=tail))
    return Cache(name, count, entries, problems)


def _win7(data: bytes, architecture: str | None) -> Cache:
    problems: list[str] = []
    reader = Reader(data)
    try:
        count = reader.u32(4, "entry count")
    except Overrun as overrun:
        return Cache("7", None, [], [str(overrun)])
    wide = _is_64bit(data, 0x80, count, 32, 48, architecture)
    size = 48 if wide else 32
    readable = _claimed_count(count, len(data) - 0x80, size, MAX_ENTRIES, problems)
    entries: list[Entry] = []
    for index in range(readable):
        at = 0x80 + index * size
        length = reader.u16(at)
        if wide:
            path_offset, ticks, insert, shim, data_size, _ = struct.unpack_from("<QQIIQQ", data, at + 8)
        else:
            path_offset, ticks, insert, shim, data_size, _ = struct.unpack_from("<IQIIII", data, at + 4)
        try:
            path = _path(reader, path_offset, length)
        except Overrun as overrun:
            problems.append(_problem_at(index, at, str(overrun)))
            break
        entries.append(Entry(index, at, path, ticks, insert_flags=insert, shim_flags=shim, data_size=data_size))
    return Cache(f"7{' 64-bit' if wide else ''}", count, entries, problems)


def _ts_entries(data: bytes, name: str, start: int, count: int | None) -> Cache:
    """8.0, 8.1, 10 and 11: a chain of signed entries, each advancing by its
    own stored size."""
    problems: list[str] = []
    reader = Reader(data)
    entries: list[Entry] = []
    signature = SIGNATURE_80 if name == "8.0" else SIGNATURE_81
    at = start
    index = 0
    while at < len(data):
        try:
            if reader.bytes(at, 4, "signature") != signature:
                problems.append(_problem_at(index, at, f"bad signature {data[at:at + 4].hex()}"))
                break
            entry_size = reader.u32(at + 8, "entry size")
            end = at + 12 + entry_size
            if end > len(data):
                raise Overrun("entry runs past the data")
            entry = Reader(data, end)
            path_size = entry.u16(at + 12, "path size")
            path = _path(entry, at + 14, path_size)
            cursor = at + 14 + path_size
            package = insert = shim = None
            if name == "8.1":
                package_size = entry.u16(cursor, "package size")
                package = entry.utf16(cursor + 2, package_size, "package name")
                cursor += 2 + package_size
            if name != "10":
                insert = entry.u32(cursor, "insert flags")
                shim = entry.u32(cursor + 4, "shim flags")
                cursor += 8
            ticks = entry.u64(cursor, "last-modified time")
            data_size = entry.u32(cursor + 8, "data size")
            entry.bytes(cursor + 12, data_size, "data")
            hint = None
            if name == "10" and data_size >= 4:
                # Late 10 and 11 builds are reported to end the data with 1
                # once the file ran; a hint, not proof of execution.
                hint = entry.u32(cursor + 12 + data_size - 4) == 1
        except Overrun as overrun:
            problems.append(_problem_at(index, at, str(overrun)))
            break
        entries.append(Entry(index, at, path, ticks, insert, shim, data_size, None, package, hint))
        at = end
        index += 1
        if index > 4 * MAX_ENTRIES:
            problems.append(f"more than {4 * MAX_ENTRIES} entries: the rest left out")
            break
    if count is not None and count != len(entries) and not problems:
        problems.append(f"header says {count} entries, {len(entries)} read")
    return Cache(name, count, entries, problems)


def _architecture(control_set) -> str | None:
    return Values(child(control_set, ENVIRONMENT)).text("PROCESSOR_ARCHITECTURE")


def _extract(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        for cache_path in CACHE_PATHS:
            key = child(control_set, cache_path)
            data = Values(key).raw("AppCompatCache")
            if data is None:
                continue
            cache = parse(data, _architecture(control_set))
            where = f"{set_name}: " if context.all_control_sets else ""
            for line in cache.problems:
                context.problem(where + line)
            key_path = join(set_name, cache_path)
            written = last_written(key)
            for entry in cache.entries:
                executed = None
                if entry.insert_flags is not None and cache.format.startswith(("vista", "7", "8")):
                    executed = bool(entry.insert_flags & 2)
                yield {
                    "control_set": set_name,
                    "position": entry.position,
                    "path": entry.path,
                    "normalized_path": normalized(entry.path),
                    "last_modified": filetime(entry.filetime),
                    "last_modified_filetime": entry.filetime,
                    "executed": executed,
                    "executed_hint": entry.executed_hint,
                    "insert_flags": entry.insert_flags,
                    "shim_flags": entry.shim_flags,
                    "data_size": entry.data_size,
                    "file_size": entry.file_size,
                    "package": entry.package,
                    "format": cache.format,
                    "entry_offset": entry.offset,
                    "key_path": key_path,
                    "key_last_written": written,
                }


EXTRACTORS = (
    Extractor("shimcache", (SYSTEM,), "the application-compatibility cache: files seen, in stored order", (
        CONTROL_SET,
        Field("position", INT, "place in the cache, 0 = most recently inserted or updated"),
        Field("path", STR, "the path as stored (\\??\\C:\\...)"),
        Field("normalized_path", STR, "the path without its \\??\\ prefix"),
        Field("last_modified", TIME, "the file's last-modified time when seen (not an execution time)"),
        Field("last_modified_filetime", INT, "that time as stored (100 ns since 1601)"),
        Field("executed", BOOL, "insert flag 0x2 (Vista, 7, 8): the process ran"),
        Field("executed_hint", BOOL, "10/11: the entry's data ends in 1, reported to mean it ran (a hint)"),
        Field("insert_flags", INT, "insert flags as stored (Vista to 8.1)"),
        Field("shim_flags", INT, "shim flags as stored (Vista to 8.1)"),
        Field("data_size", INT, "size of the entry's data"),
        Field("file_size", INT, "the file's size (XP, 2003)"),
        Field("package", STR, "the package name (8.1)"),
        Field("format", STR, "the cache layout: xp, 2003, vista, 7, 8.0, 8.1 or 10 (64-bit where it differs)"),
        Field("entry_offset", INT, "the entry's offset in the value data"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _extract),
)
