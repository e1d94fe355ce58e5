"""Test-side writer of shell items and ID lists, field by field.

Each function returns one item's bytes, its u16 size first; `id_list` joins
items and adds the terminator. Keyword arguments override what a test wants
to break (a size, an offset, a signature).
"""

from __future__ import annotations

import struct
import uuid
from datetime import datetime

MY_COMPUTER = "{20D04FE0-3AEA-1069-A2D8-08002B30309D}"
NETWORK = "{F02C1A0D-BE21-4350-88B0-7367FC96EF3C}"
DELEGATE = "{5E591A74-DF96-48D3-8D67-1733BCEE28BA}"


def guid_bytes(guid: str) -> bytes:
    return uuid.UUID(guid).bytes_le


def fat(moment: datetime | None) -> bytes:
    """A FAT date then time (4 bytes); None gives zeros."""
    if moment is None:
        return bytes(4)
    date = (moment.year - 1980) << 9 | moment.month << 5 | moment.day
    time = moment.hour << 11 | moment.minute << 5 | moment.second // 2
    return struct.pack("<HH", date, time)


def item(type_: int, body: bytes, *, size: int | None = None) -> bytes:
    """An item: u16 size, the type byte, then `body`."""
    total = 3 + len(body) if size is None else size
    return struct.pack("<HB", total & 0xFFFF, type_) + body


def id_list(*items: bytes, terminator: bool = True) -> bytes:
    return b"".join(items) + (b"\0\0" if terminator else b"")


def root_folder(guid: str, sort_index: int = 0x50) -> bytes:
    return item(0x1F, bytes([sort_index]) + guid_bytes(guid))


def volume(letters: str = "C:\\", *, type_: int = 0x2F) -> bytes:
    return item(type_, letters.encode("ascii").ljust(20, b"\0") + bytes(2))


def volume_guid(guid: str, *, type_: int = 0x2E) -> bytes:
    return item(type_, b"\0" + guid_bytes(guid))


def beef0004(long_name: str, *, version: int = 9, created: datetime | None = None,
             accessed: datetime | None = None, mft: tuple[int, int] | None = None,
             localized: str = "", name_offset: int | None = None, item_offset: int = 0,
             size: int | None = None) -> bytes:
    """A 0xBEEF0004 extension block; `item_offset` is where it starts in its
    item (stored in its last two bytes)."""
    name = long_name.encode("utf-16-le") + b"\0\0"
    if localized:
        loc = localized.encode("utf-16-le") + b"\0\0" if version >= 7 else localized.encode("ascii") + b"\0"
    else:
        loc = b""
    reference = 0 if mft is None else mft[0] | mft[1] << 48
    if version >= 7:
        head = struct.pack("<HQQH", 0, reference, 0, len(loc))
        head += {7: b"", 8: bytes(4)}.get(version, bytes(8))
    else:
        head = struct.pack("<H", len(loc))
    at = 16 + 2 + len(head)
    body = fat(created) + fat(accessed) + struct.pack("<H", at if name_offset is None else name_offset)
    block = b"\x04\x00\xef\xbe" + body + head + name + loc
    total = 4 + len(block) + 2 if size is None else size
    return struct.pack("<HH", total, version) + block + struct.pack("<H", item_offset)


def file_entry(short_name: str, long_name: str | None = None, *, directory: bool = True,
               unicode_name: bool = False, file_size: int = 0, modified: datetime | None = None,
               attributes: int = 0x10, block_offset: int | None = None, **block) -> bytes:
    """A file entry (0x31 folder, 0x32 file; +0x04 for a UTF-16 name) with a
    0xBEEF0004 block when `long_name` is given."""
    type_ = (0x31 if directory else 0x32) | (0x04 if unicode_name else 0)
    if unicode_name:
        name = short_name.encode("utf-16-le") + b"\0\0"
    else:
        name = short_name.encode("cp1252") + b"\0"
        if len(name) % 2:
            name += b"\0"
    fixed = b"\0" + struct.pack("<I", file_size) + fat(modified) + struct.pack("<H", attributes) + name
    if long_name is None:
        return item(type_, fixed)
    at = 3 + len(fixed)
    ext = beef0004(long_name, item_offset=at if block_offset is None else block_offset, **block)
    return item(type_, fixed + ext)


def network(location: str, *, type_: int = 0x43, description: str | None = None,
            comments: str | None = None) -> bytes:
    flags = (0x80 if description is not None else 0) | (0x40 if comments is not None else 0)
    body = b"\0" + bytes([flags]) + location.encode("cp1252") + b"\0"
    for text in (description, comments):
        if text is not None:
            body += text.encode("cp1252") + b"\0"
    return item(type_, body + bytes(2))


def uri(text: str, *, unicode_text: bool = True, data_block: bytes = b"") -> bytes:
    """A URI item; a non-empty `data_block` goes before the URI, its u16 size
    counting itself."""
    flags = 0x80 if unicode_text else 0
    encoded = text.encode("utf-16-le") + b"\0\0" if unicode_text else text.encode("ascii") + b"\0"
    size_field = struct.pack("<H", len(data_block) + 2 if data_block else 0)
    return item(0x61, bytes([flags]) + size_field + data_block + encoded)


def control_panel(guid: str) -> bytes:
    return item(0x71, bytes(11) + guid_bytes(guid) + bytes(1))


def control_panel_category(category: int) -> bytes:
    return item(0x01, b"\0" + struct.pack("<II", 0x39DE2184, category))


def compressed_folder(*names: str) -> bytes:
    body = bytes(1 + 0x1D)  # opaque header
    for name in names:
        body += struct.pack("<I", len(name) + 1) + name.encode("utf-16-le") + b"\0\0"
    return item(0x52, body)


def delegate(short_name: str, long_name: str, class_guid: str = MY_COMPUTER, **block) -> bytes:
    """A 0x74 delegate item wrapping a folder's file entry."""
    name = short_name.encode("cp1252") + b"\0"
    if len(name) % 2:
        name += b"\0"
    inner = bytes([0x31, 0]) + struct.pack("<I", 0) + fat(None) + struct.pack("<H", 0x10) + name
    head = b"\0" + struct.pack("<H", 0) + b"CFSF" + struct.pack("<H", len(inner) + 2) + inner
    guids = guid_bytes(DELEGATE) + guid_bytes(class_guid)
    at = 3 + len(head) + len(guids)
    return item(0x74, head + guids + beef0004(long_name, item_offset=at, **block))
