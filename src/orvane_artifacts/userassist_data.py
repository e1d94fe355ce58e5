"""UserAssist value names and counter records.

Names are ROT13 over the ASCII letters (digits, punctuation and other
characters stay), so the whole name is decoded before its known-folder GUIDs
are looked up. Records are 16 bytes on Windows 2000 to Vista (run count
stored plus 5, session id, last run) and 72 bytes from Windows 7 on (run
count, focus count, focus time, last run); other sizes are decoded as far as
their layout goes and said to be odd.
"""

from __future__ import annotations

import re
import struct
from typing import NamedTuple

from orvane_artifacts.known_folders import folder_name

_ROT13 = str.maketrans(
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz",
    "NOPQRSTUVWXYZABCDEFGHIJKLMnopqrstuvwxyzabcdefghijklm")
_GUID_IN_TEXT = re.compile(r"\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\}")
_U32 = struct.Struct("<I")
_U64 = struct.Struct("<Q")

OLD_SIZE, NEW_SIZE = 16, 72
OLD_FORMAT, NEW_FORMAT = 3, 5
# Bookkeeping entries: the session record and the counter's constructor.
COUNTER_PREFIX = "UEME_CTL"

GUID_MEANINGS = {
    "{CEBFF5CD-ACE2-4F4F-9178-9926F41749EA}": "executables",
    "{F4E57C4B-2036-45F0-A9AB-443BCFE33D9F}": "shortcuts",
    "{75048700-EF1F-11D0-9888-006097DEACF9}": "programs",
    "{5E6AB780-7743-11CF-A12B-00AA004AE837}": "toolbar and favorites",
}


def rot13(text: str) -> str:
    return text.translate(_ROT13)


def expand_known_folders(name: str) -> str:
    """The name with each known-folder GUID replaced by the folder's name;
    GUIDs the table does not know stay as they are."""
    if "{" not in name:
        return name
    return _GUID_IN_TEXT.sub(lambda m: folder_name(m.group(0)) or m.group(0), name)


class Counts(NamedTuple):
    format: int | None  # 3 (16-byte) or 5 (72-byte); None when too short for either
    session_id: int | None
    run_count: int | None
    focus_count: int | None
    focus_time_ms: int | None
    last_run_filetime: int | None


def _field(data: bytes, at: int, packer: struct.Struct) -> int | None:
    return packer.unpack_from(data, at)[0] if at + packer.size <= len(data) else None


def decode_counts(data: bytes, version: int | None = None) -> tuple[Counts, str | None]:
    """(counts, problem or None) of one record. A record of neither size is
    read in the layout its key's Version names (or the one it is nearer to)
    as far as it reaches."""
    size = len(data)
    if size == OLD_SIZE:
        layout = OLD_FORMAT
    elif size == NEW_SIZE:
        layout = NEW_FORMAT
    else:
        layout = version if version in (OLD_FORMAT, NEW_FORMAT) else (NEW_FORMAT if size > OLD_SIZE else OLD_FORMAT)
    problem = None
    if size not in (OLD_SIZE, NEW_SIZE):
        problem = f"record of {size} bytes (expected {OLD_SIZE} or {NEW_SIZE}), read as far as it goes"
    if layout == OLD_FORMAT:
        stored = _field(data, 4, _U32)
        # Windows counts from 5 in this layout: 6 is one run.
        runs = None if stored is None else max(stored - 5, 0)
        counts = Counts(layout, _field(data, 0, _U32), runs, None, None, _field(data, 8, _U64))
    else:
        counts = Counts(layout, None, _field(data, 4, _U32), _field(data, 8, _U32), _field(data, 12, _U32),
                        _field(data, 60, _U64))
    if size < 8:
        counts = counts._replace(format=None)
    return counts, problem
