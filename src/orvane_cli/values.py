"""Value data as the commands show it.

`data_of` gives the data for machine-readable output: str, int or list of str
for the types that decode to those (a string as Windows reads it, up to its
U+0000 when stale bytes follow), and for everything else (binary types, and
data that does not decode: odd-length or malformed UTF-16, integers of too few
bytes) the bytes as lowercase hex, flagged as such so that nothing is lost.
`short_text` gives one line for people.
"""

from __future__ import annotations

import orvane

# Type codes whose data decodes to a plain Python value (as_py): REG_SZ,
# REG_EXPAND_SZ, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_MULTI_SZ, REG_QWORD.
DECODED_TYPES = frozenset({1, 2, 4, 5, 7, 11})
_type_names: dict[int, str] = {}
SHORT_WIDTH = 60


def data_of(value: orvane.RegistryValue, type_id: int) -> tuple[object, bool]:
    """(data, is_hex): the decoded data, or the raw bytes as hex."""
    if type_id in DECODED_TYPES:
        try:
            return value.as_py(), False
        except ValueError:  # does not decode: keep the bytes
            pass
    return value.raw_data().hex(), True


def type_of(value: orvane.RegistryValue) -> tuple[str, int]:
    """(type name, type code); each name is built once per run."""
    value_type = value.value_type()
    type_id = value_type.type_id()
    name = _type_names.get(type_id)
    if name is None:
        name = _type_names[type_id] = value_type.type_name()
    return name, type_id


def describe(value: orvane.RegistryValue) -> tuple[str, int, object, bool]:
    """(type name, type code, data, is_hex) of one value, decoded once."""
    name, type_id = type_of(value)
    data, is_hex = data_of(value, type_id)
    return name, type_id, data, is_hex


def one_line(text: str) -> str:
    """Control characters and other unprintable ones escaped, so one value is one line."""
    return text if text.isprintable() else text.encode("unicode_escape").decode("ascii")


def shorten(text: str, size: int, width: int = SHORT_WIDTH) -> str:
    return text if len(text) <= width else f"{text[:width]}... ({size} bytes)"


def value_line(value: orvane.RegistryValue) -> str:
    """"NAME  (TYPE)  DATA" on one line."""
    return f"{value.name()}  ({value.value_type().type_name()})  {short_text(value)}"


def short_text(value: orvane.RegistryValue, width: int = SHORT_WIDTH) -> str:
    """The value's data on one line, cut at `width` characters."""
    _, type_id, data, is_hex = describe(value)
    size = value.data_size()
    if is_hex:
        text = " ".join(data[i:i + 2] for i in range(0, min(len(data), 2 * width), 2))
        if type_id in DECODED_TYPES:
            text = f"<undecodable> {text}"
    elif data is None:
        text = ""
    elif isinstance(data, int):
        text = f"{data} ({data:#x})"
    elif isinstance(data, list):
        text = ", ".join(one_line(item) for item in data)
    else:
        text = one_line(data)
    return shorten(text, size, width)
