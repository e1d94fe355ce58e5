"""Key lookups and value reads that answer None for what is not there.

A missing key or value is normal in artifact data and gives no record; any
other failure of the hive read is left to raise, so that it ends the
extractor (see Extractor.extract). `Values` reads a key's values once and
decodes them by what their type says, never raising on their bytes.
"""

from __future__ import annotations

import struct
from collections.abc import Callable, Iterator

from orvane_artifacts.binary import filetime, utf16_list, utf16z

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_LINK, REG_MULTI_SZ = 1, 2, 3, 4, 5, 6, 7
REG_QWORD = 11
TEXT_TYPES = frozenset({REG_SZ, REG_EXPAND_SZ, REG_LINK})


def is_missing(error: BaseException) -> bool:
    return isinstance(error, ValueError) and str(error).startswith("Not found")


def find(hive, path: str):
    """The key at path from the hive root, or None when there is none."""
    try:
        return hive.key(path) if path else hive.root_key()
    except ValueError as error:
        if is_missing(error):
            return None
        raise


def child(key, path: str):
    """The key at path below key, or None."""
    if key is None:
        return None
    try:
        return key.subkey(path)
    except ValueError as error:
        if is_missing(error):
            return None
        raise


def subkeys(key) -> list:
    return [] if key is None else key.subkeys()


def entries(hive, path: str, context) -> Iterator[tuple[object, str, Values, Report]]:
    """(key, its path, its values, a reporter of its problems) for each
    subkey of the key at path; nothing when that key is missing."""
    for key in subkeys(find(hive, path)):
        key_path = join(path, key.name())
        yield key, key_path, Values(key), context.at(key_path)


def last_written(key):
    return None if key is None else filetime(key.last_written_filetime())


def join(*parts: str) -> str:
    return "\\".join(part for part in parts if part)


def type_id(value) -> int:
    return value.value_type().type_id()


def number_of(value) -> int | None:
    """A value as an integer: DWORD, big-endian DWORD and QWORD by their
    size, binary data of 4 or 8 bytes, text holding a decimal number."""
    kind = type_id(value)
    raw = value.raw_data()
    if kind in (REG_DWORD, REG_QWORD, REG_BINARY) or kind > REG_QWORD:
        if len(raw) == 4:
            return struct.unpack("<I", raw)[0]
        if len(raw) == 8:
            return struct.unpack("<Q", raw)[0]
        if kind == REG_DWORD and 0 < len(raw) < 4:
            return int.from_bytes(raw, "little")
        return None
    if kind == REG_DWORD_BIG_ENDIAN and len(raw) == 4:
        return struct.unpack(">I", raw)[0]
    if kind in TEXT_TYPES:
        text = utf16z(raw).strip()
        try:
            return int(text, 0) if text.lower().startswith("0x") else int(text)
        except ValueError:
            return None
    return None


def text_of(value) -> str | None:
    """A value as text: strings cut at their NUL, a list joined by "; ",
    a number in decimal; binary data that is not text gives None."""
    kind = type_id(value)
    raw = value.raw_data()
    if kind in TEXT_TYPES:
        return utf16z(raw)
    if kind == REG_MULTI_SZ:
        return "; ".join(utf16_list(raw))
    if kind in (REG_DWORD, REG_QWORD, REG_DWORD_BIG_ENDIAN):
        number = number_of(value)
        return None if number is None else str(number)
    return None


def strings_of(value) -> list[str] | None:
    kind = type_id(value)
    raw = value.raw_data()
    if kind == REG_MULTI_SZ:
        return utf16_list(raw)
    if kind in TEXT_TYPES:
        text = utf16z(raw)
        return [text] if text else []
    return None


DEFAULT_NAME = "(default)"  # how orvane names a key's default (unnamed) value

Report = Callable[[str], None]  # takes one problem line about the data read


def describe(value) -> str:
    """A value's name, type and size, for a problem line."""
    return f"{value.name() or DEFAULT_NAME} is {value.value_type().type_name()} of {len(value.raw_data())} bytes"


def _lookup(name: str) -> str:
    return (name or DEFAULT_NAME).lower()


class Values:
    """A key's values by name (any letter case; "" is the default value),
    read with one call."""

    __slots__ = ("by_name",)

    def __init__(self, key) -> None:
        self.by_name = {} if key is None else {value.name().lower(): value for value in key.values()}

    def __contains__(self, name: str) -> bool:
        return _lookup(name) in self.by_name

    def get(self, name: str):
        return self.by_name.get(_lookup(name))

    def names(self) -> list[str]:
        return [value.name() for value in self.by_name.values()]

    def raw(self, name: str) -> bytes | None:
        value = self.by_name.get(_lookup(name))
        return None if value is None else value.raw_data()

    # With `report`, a value that is stored but does not read as asked is
    # one problem line (its name, type and size) instead of a silent None.
    def _read(self, name: str, decode, wanted: str, report: Report | None):
        value = self.by_name.get(_lookup(name))
        if value is None:
            return None
        decoded = decode(value)
        if decoded is None and report is not None:
            report(f"{describe(value)}, not {wanted}")
        return decoded

    def text(self, name: str, report: Report | None = None) -> str | None:
        return self._read(name, text_of, "text", report)

    def number(self, name: str, report: Report | None = None) -> int | None:
        return self._read(name, number_of, "a number", report)

    def strings(self, name: str, report: Report | None = None) -> list[str] | None:
        return self._read(name, strings_of, "a list of strings", report)

    def dword(self, name: str, report: Report | None = None) -> int | None:
        """A number stored in exactly 4 bytes (DWORD or binary): halves of a
        FILETIME must not be read from shorter or longer data."""
        return self._read(name, dword_of, "a 4-byte DWORD", report)

    def flag(self, name: str, report: Report | None = None) -> bool | None:
        number = self.number(name, report)
        return None if number is None else number != 0


def dword_of(value) -> int | None:
    raw = value.raw_data()
    if type_id(value) in (REG_DWORD, REG_BINARY) and len(raw) == 4:
        return struct.unpack("<I", raw)[0]
    return None
