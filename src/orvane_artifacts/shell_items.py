"""Shell items and item ID lists: how Explorer names a place in its namespace.

An ID list is a run of items, each a u16 size (counting itself), a type byte
and a layout chosen by that type, ended by an item of size 0. ShellBags keep
one item per value, ComDlg32 and RecentDocs keep whole lists. The decoders
here never raise on bad bytes: what does not fit becomes a problem line
("item 2 at 0x1c: ...") and an item list that runs past its data ends there.

Times inside items are FAT date/time pairs the file system gave when the item
was built (UTC, 2-second resolution); they are not refreshed on later visits.
"""

from __future__ import annotations

import re
import struct
from datetime import datetime, timezone

from orvane_artifacts.known_folders import folder_name, guid_text

_U16 = struct.Struct("<H")
_U32 = struct.Struct("<I")
_U64 = struct.Struct("<Q")
_FAT = struct.Struct("<HH")  # date, then time

BEEF0004 = b"\x04\x00\xef\xbe"
DELEGATE_GUID = "{5E591A74-DF96-48D3-8D67-1733BCEE28BA}"
_CFSF = b"CFSF"
_CATEGORY_SIGNATURE = 0x39DE2184
_KNOWN_FOLDER_SIGNATURE = 0x23FEBBEE
_PROPERTY_VIEW_SIGNATURES = {
    0x23FEBBEE: "known folder",
    0x10141981: "property store",
    0x10312005: "portable device storage",
    0x07192006: "portable device folder",
    0xF5A6B710: "drive",
}
_DRIVE_SIGNATURE = 0xF5A6B710
_DRIVE_TEXT = re.compile(rb"[A-Za-z]:\\")
# Where the long name starts in a 0xBEEF0004 block, by block version, for
# blocks whose own offset field is unusable.
_LONG_NAME_AT = {3: 0x14, 7: 0x26, 8: 0x2A, 9: 0x2E}
_CONTROL_PANEL_CATEGORIES = {
    0: "All Control Panel Items", 1: "Appearance and Personalization", 2: "Hardware and Sound",
    3: "Network and Internet", 4: "Sounds, Speech, and Audio Devices", 5: "System and Security",
    6: "Clock, Language, and Region", 7: "Ease of Access", 8: "Programs", 9: "User Accounts",
    10: "Security Center", 11: "Mobile PC",
}
_SCHEME = re.compile(r"[A-Za-z][A-Za-z0-9+.-]{1,15}:")
_SCHEME_BYTES = (b"http", b"ftp", b"file")
_LONGEST_COMPRESSED_NAME = 520  # characters; a longer count is not a name

# Item kinds, as records name them.
ROOT_FOLDER = "root_folder"
VOLUME = "volume"
FILE_ENTRY = "file_entry"
NETWORK = "network"
URI = "uri"
CONTROL_PANEL = "control_panel"
CONTROL_PANEL_CATEGORY = "control_panel_category"
COMPRESSED_FOLDER = "compressed_folder"
DELEGATE = "delegate"
PROPERTY_VIEW = "property_view"
UNKNOWN = "unknown"

_EPOCH_1601 = datetime(1601, 1, 1, tzinfo=timezone.utc)


class ShellItem:
    """One decoded item. `name` is what a path shows for it; the other fields
    are None where the item's kind does not carry them."""

    __slots__ = ("offset", "size", "type", "kind", "name", "raw", "guid", "short_name", "long_name",
                 "localized_name", "file_size", "attributes", "is_directory", "modified", "created",
                 "accessed", "modified_fat", "created_fat", "accessed_fat", "mft_entry", "mft_sequence",
                 "extension_version", "description", "comments", "strings", "replaces_path")

    def __init__(self, offset: int, size: int, type_: int, raw: bytes) -> None:
        self.offset, self.size, self.type, self.raw = offset, size, type_, raw
        self.kind = UNKNOWN
        self.name = f"<unknown 0x{type_:02x}>"
        self.guid: str | None = None
        self.short_name: str | None = None
        self.long_name: str | None = None
        self.localized_name: str | None = None
        self.file_size: int | None = None
        self.attributes: int | None = None
        self.is_directory: bool | None = None
        self.modified: datetime | None = None
        self.created: datetime | None = None
        self.accessed: datetime | None = None
        self.modified_fat: int | None = None
        self.created_fat: int | None = None
        self.accessed_fat: int | None = None
        self.mft_entry: int | None = None
        self.mft_sequence: int | None = None
        self.extension_version: int | None = None
        self.description: str | None = None
        self.comments: str | None = None
        self.strings: list[str] | None = None
        # Network locations and URIs are absolute: they start a path afresh.
        self.replaces_path = False

    @property
    def type_name(self) -> str:
        """"file_entry (0x31)": kind and type byte, for a record's item type."""
        return f"{self.kind} (0x{self.type:02x})"

    def __repr__(self) -> str:
        return f"ShellItem({self.kind}, 0x{self.type:02x}, {self.name!r})"


class IdList:
    """The items of one ID list, its problems, and where it ended."""

    __slots__ = ("items", "problems", "end", "terminated")

    def __init__(self) -> None:
        self.items: list[ShellItem] = []
        self.problems: list[str] = []
        self.end = 0
        self.terminated = False

    @property
    def path(self) -> str:
        return display_path(self.items)


# Small readers: None when the field is not inside [.., end).

def _u16(data: bytes, at: int, end: int) -> int | None:
    return _U16.unpack_from(data, at)[0] if at >= 0 and at + 2 <= end else None


def _u32(data: bytes, at: int, end: int) -> int | None:
    return _U32.unpack_from(data, at)[0] if at >= 0 and at + 4 <= end else None


def _guid(data: bytes, at: int, end: int) -> str | None:
    return guid_text(data, at) if at >= 0 and at + 16 <= end else None


def _ascii_z(data: bytes, at: int, end: int) -> tuple[str, int]:
    """A NUL-terminated code-page string and the offset after its NUL (or
    `end` when it has none). Bytes above 0x7F keep a stand-in character."""
    stop = data.find(b"\0", at, end)
    text_end = end if stop < 0 else stop
    text = data[at:text_end].decode("cp1252", "replace")
    return text, end if stop < 0 else stop + 1


def _utf16_z(data: bytes, at: int, end: int) -> tuple[str, int]:
    """A NUL-terminated UTF-16LE string (NUL at an even distance from `at`)
    and the offset after the NUL, or `end` when there is none."""
    stop = data.find(b"\0\0", at, end)
    while stop >= 0 and (stop - at) & 1:
        stop = data.find(b"\0\0", stop + 1, end)
    if stop < 0:
        return data[at:at + ((end - at) & ~1)].decode("utf-16-le", "replace"), end
    return data[at:stop].decode("utf-16-le", "replace"), stop + 2


def fat_time(date: int, time: int) -> datetime | None:
    """A FAT date and time (UTC in shell items); None when unset or not a
    real moment."""
    if date == 0 and time == 0:
        return None
    try:
        return datetime(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F,
                        time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2, tzinfo=timezone.utc)
    except ValueError:
        return None


def _read_fat(data: bytes, at: int, end: int) -> tuple[int | None, datetime | None]:
    """(raw u32 as stored, time) of the date/time pair at `at`."""
    if at + 4 > end:
        return None, None
    date, time = _FAT.unpack_from(data, at)
    return date | time << 16, fat_time(date, time)


# Kind decoders. Each fills `item` from data[start:end] (the item's bytes,
# its size field at `start`) and reports trouble through `problem`.

def _root_folder(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    signature = _u32(data, start + 6, end)
    if item.size > 20 and signature in _PROPERTY_VIEW_SIGNATURES:
        _property_view(item, data, start, end, problem)
        return
    item.kind = ROOT_FOLDER
    guid = _guid(data, start + 4, end)
    if guid is None:
        problem(f"root folder of {item.size} bytes is too short for its class ID")
        item.name = "<root folder>"
        return
    item.guid = guid
    item.name = folder_name(guid) or guid


def _property_view(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    item.kind = PROPERTY_VIEW
    signature = _u32(data, start + 6, end)
    if signature is None:
        item.name = f"<property view 0x{item.type:02x}>"
        return
    if signature == _KNOWN_FOLDER_SIGNATURE:
        # The known folder's GUID sits among the view's fields; its offset
        # differs between versions, so take the first GUID that names one.
        for at in range(start + 10, end - 15):
            guid = guid_text(data, at)
            name = folder_name(guid)
            if name is not None:
                item.guid, item.name = guid, name
                return
    if signature == _DRIVE_SIGNATURE:
        # A removable or mapped drive seen through a delegate folder: its
        # letter is stored as ASCII text after the view's header.
        found = _DRIVE_TEXT.search(data, start + 10, end)
        if found is not None:
            item.name, _ = _ascii_z(data, found.start(), end)
            return
    label = _PROPERTY_VIEW_SIGNATURES.get(signature, "signature")
    item.name = f"<{label} 0x{signature:08x}>"


def _volume(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    item.kind = VOLUME
    if item.type & 0x01:
        letters = data[start + 3:min(start + 23, end)].split(b"\0", 1)[0]
        item.name = letters.decode("cp1252", "replace") or "<volume>"
        return
    guid = _guid(data, start + 4, end)
    if guid is None:
        problem(f"volume of {item.size} bytes has neither a drive letter nor a class ID")
        item.name = "<volume>"
        return
    item.guid = guid
    item.name = folder_name(guid) or guid


def _file_fields(item: ShellItem, data: bytes, base: int, end: int, problem) -> int:
    """The fixed part and the primary name of a file entry whose size field
    is at `base`; returns where the name ends (even-aligned from `base`)."""
    item.kind = FILE_ENTRY
    item.is_directory = bool(item.type & 0x01)
    if base + 14 > end:
        problem(f"file entry of {end - base} bytes is too short for its fields")
        item.name = "<file entry>"
        return end
    item.file_size = _U32.unpack_from(data, base + 4)[0]
    item.modified_fat, item.modified = _read_fat(data, base + 8, end)
    item.attributes = _U16.unpack_from(data, base + 12)[0]
    if item.type & 0x04:
        name, after = _utf16_z(data, base + 14, end)
    else:
        name, after = _ascii_z(data, base + 14, end)
        after += (after - base) & 1
    item.short_name = name
    item.name = name or "<file entry>"
    return min(after, end)


def _extension_block(data: bytes, start: int, scan_from: int, end: int) -> int | None:
    """Where the 0xBEEF0004 block of the item data[start:end] starts: at the
    offset the item's last u16 names when the signature is there, else at the
    first even offset after `scan_from` that holds it."""
    named = _u16(data, end - 2, end)
    if named is not None and named >= 4:
        at = start + named
        if at + 8 <= end and data[at + 4:at + 8] == BEEF0004:
            return at
    at = data.find(BEEF0004, max(scan_from, start) + 4, end)
    while at >= 0:
        if (at - 4 - start) % 2 == 0:
            return at - 4
        at = data.find(BEEF0004, at + 1, end)
    return None


def _beef0004(item: ShellItem, data: bytes, block: int, end: int, problem) -> None:
    size = _U16.unpack_from(data, block)[0]
    version = _U16.unpack_from(data, block + 2)[0]
    block_end = block + size
    if size < 20 or block_end > end:
        problem(f"0xBEEF0004 block at 0x{block - item.offset:x} of {size} bytes does not fit the item")
        block_end = min(max(block_end, block + 8), end)
    item.extension_version = version
    item.created_fat, item.created = _read_fat(data, block + 8, block_end)
    item.accessed_fat, item.accessed = _read_fat(data, block + 12, block_end)
    if version >= 7:
        reference = _U64.unpack_from(data, block + 20)[0] if block + 28 <= block_end else 0
        if reference:
            item.mft_entry, item.mft_sequence = reference & 0xFFFFFFFFFFFF, reference >> 48
    localized_size_at = 18 if version < 7 else 36
    localized_size = _u16(data, block + localized_size_at, block_end) or 0
    # The block names its own long-name offset; trust it while it points
    # inside the block, else take the version's fixed place.
    name_at = _u16(data, block + 16, block_end)
    if name_at is None or not 0x14 <= name_at < block_end - block - 2:
        name_at = _LONG_NAME_AT.get(version)
        if name_at is None:
            problem(f"0xBEEF0004 block version {version} has no long name offset")
            return
    name_end = block_end - 2
    if block + name_at >= name_end:
        problem(f"0xBEEF0004 block of {size} bytes ends before its long name")
        return
    long_name, after = _utf16_z(data, block + name_at, name_end)
    if long_name:
        item.long_name = long_name
        item.name = long_name
    if localized_size and after < name_end:
        if version >= 7:
            localized, _ = _utf16_z(data, after, name_end)
        else:
            localized, _ = _ascii_z(data, after, name_end)
        item.localized_name = localized or None


def _file_entry(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    after = _file_fields(item, data, start, end, problem)
    block = _extension_block(data, start, after, end)
    if block is not None:
        _beef0004(item, data, block, end, problem)


def _delegate(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    # A file entry wrapped for a delegate folder: its fields from the type
    # byte on follow a u16 size at 10, then the delegate and class GUIDs.
    sub_size = _u16(data, start + 10, end)
    if sub_size is None or start + 12 + 12 > end:
        item.kind = DELEGATE
        problem(f"delegate item of {item.size} bytes is too short for its file entry")
        item.name = "<delegate item>"
        return
    sub_end = min(start + 10 + max(sub_size, 14), end)
    inner = ShellItem(start + 10, sub_end - start - 10, data[start + 12], b"")
    after = _file_fields(inner, data, start + 10, sub_end, problem)
    block = _extension_block(data, start, after, end)
    if block is not None:
        _beef0004(inner, data, block, end, problem)
    for slot in inner.__slots__:
        if slot not in ("offset", "size", "type", "raw"):
            setattr(item, slot, getattr(inner, slot))
    item.kind = DELEGATE
    guids = data.find(bytes.fromhex("741a595e96dfd3488d671733bcee28ba"), sub_end, end)
    if guids >= 0:
        item.guid = _guid(data, guids + 16, end)


def _network(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    item.kind = NETWORK
    flags = data[start + 4] if start + 5 <= end else 0
    if start + 5 >= end:
        problem(f"network item of {item.size} bytes is too short for its location")
        item.name = "<network location>"
        return
    location, after = _ascii_z(data, start + 5, end)
    item.name = location or "<network location>"
    item.replaces_path = location.startswith("\\\\")
    if flags & 0x80 and after < end:
        item.description, after = _ascii_z(data, after, end)
    if flags & 0x40 and after < end:
        item.comments, after = _ascii_z(data, after, end)


def _uri(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    item.kind = URI
    flags = data[start + 3] if start + 4 <= end else 0
    data_size = _u16(data, start + 4, end)
    if data_size is None:
        problem(f"URI item of {item.size} bytes is too short for its fields")
        item.name = "<uri>"
        return
    read = _utf16_z if flags & 0x80 else _ascii_z
    # The URI follows the data block; whether the block's size counts the
    # two bytes before it differs between sources, so try both.
    places = (start + 6,) if data_size == 0 else (start + 4 + data_size, start + 6 + data_size)
    for at in places:
        if at < end:
            text, _ = read(data, at, end)
            if _SCHEME.match(text):
                item.name = text
                item.replaces_path = True
                return
    for scheme in _SCHEME_BYTES:
        pattern = scheme.decode("ascii").encode("utf-16-le") if flags & 0x80 else scheme
        at = data.find(pattern, start + 6, end)
        if at >= 0:
            text, _ = read(data, at, end)
            problem(f"URI item: the URI was found by its scheme at 0x{at - start:x}")
            item.name = text
            item.replaces_path = True
            return
    problem(f"URI item of {item.size} bytes holds no URI")
    item.name = "<uri>"


def _control_panel(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    item.kind = CONTROL_PANEL
    guid = _guid(data, start + 14, end)
    if guid is None:
        problem(f"control panel item of {item.size} bytes is too short for its GUID")
        item.name = "<control panel item>"
        return
    item.guid = guid
    item.name = folder_name(guid) or guid


def _category(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    item.kind = CONTROL_PANEL_CATEGORY
    category = _u32(data, start + 8, end)
    item.name = _CONTROL_PANEL_CATEGORIES.get(category, f"<control panel category {category}>")


def _compressed_folder(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    # Entries inside archives hold UTF-16 strings each behind a u32 count of
    # characters; their places vary, so collect every such string found.
    item.kind = COMPRESSED_FOLDER
    found: list[str] = []
    at = start + 4
    while at + 6 <= end:
        count = _U32.unpack_from(data, at)[0]
        stop = at + 4 + 2 * count
        if 0 < count <= _LONGEST_COMPRESSED_NAME and stop <= end:
            text = data[at + 4:stop].decode("utf-16-le", "replace").rstrip("\0")
            if text and text.isprintable() and "\ufffd" not in text:
                found.append(text)
                at = stop
                continue
        at += 1
    item.strings = found
    if found:
        item.name = found[0]
    else:
        problem(f"compressed folder item of {item.size} bytes holds no name")
        item.name = "<compressed folder>"


def _signature_item(item: ShellItem, data: bytes, start: int, end: int, problem) -> None:
    """Type 0x00/0x01 items, told apart by signatures."""
    if item.type == 0x01 and _u32(data, start + 4, end) == _CATEGORY_SIGNATURE:
        _category(item, data, start, end, problem)
    elif _u32(data, start + 6, end) in _PROPERTY_VIEW_SIGNATURES:
        _property_view(item, data, start, end, problem)


def _decoder(type_: int):
    if type_ in (0x1E, 0x1F):
        return _root_folder
    if type_ & 0x70 == 0x20:
        return _volume
    if type_ & 0x70 == 0x30:
        return _file_entry
    if type_ & 0x70 == 0x40 and type_ != 0x4C:
        return _network
    if type_ == 0x52:
        return _compressed_folder
    if type_ == 0x61:
        return _uri
    if type_ == 0x71:
        return _control_panel
    if type_ == 0x74:
        return _delegate
    if type_ in (0x00, 0x01):
        return _signature_item
    return None


def decode_item(data: bytes, start: int = 0, end: int | None = None, *, index: int = 0,
                problems: list[str] | None = None) -> ShellItem:
    """The item in data[start:end] (its size field at `start`; `end` defaults
    to start + that size, cut at the data's end). Problems are appended to
    `problems` as "item INDEX at 0xOFFSET: ..."."""
    if end is None:
        end = start + (_u16(data, start, len(data)) or 0)
    end = min(end, len(data))
    size = end - start
    type_ = data[start + 2] if size >= 3 else 0
    item = ShellItem(start, size, type_, bytes(data[start:end]))
    sink = problems if problems is not None else []

    def problem(text: str) -> None:
        sink.append(f"item {index} at 0x{start:x}: {text}")

    if size < 3:
        problem(f"size {size} is too small for an item")
        return item
    decoder = _decoder(type_)
    if decoder is None:
        return item
    if type_ == 0x74 and data[start + 6:start + 10] != _CFSF:
        return item  # another kind of delegate: kept as unknown
    try:
        decoder(item, data, start, end, problem)
    except (struct.error, IndexError, ValueError) as error:
        # A decoder bug, not bad data: keep the item, say so, go on.
        problem(f"could not decode the {item.kind} item ({error})")
    return item


def parse_id_list(data: bytes, start: int = 0, end: int | None = None) -> IdList:
    """The items of the ID list at data[start:end], up to its terminator."""
    result = IdList()
    end = len(data) if end is None else min(end, len(data))
    at = start
    index = 0
    while True:
        if at + 2 > end:
            result.problems.append(f"item {index} at 0x{at:x}: the ID list ends without its terminator")
            break
        size = _U16.unpack_from(data, at)[0]
        if size == 0:
            result.terminated = True
            at += 2
            break
        if size < 3:
            result.problems.append(f"item {index} at 0x{at:x}: size {size} is too small for an item")
            break
        if at + size > end:
            result.problems.append(f"item {index} at 0x{at:x}: size {size} runs past the data"
                                   f" ({end - at} bytes left)")
            break
        result.items.append(decode_item(data, at, at + size, index=index, problems=result.problems))
        at += size
        index += 1
    result.end = at
    return result


def join_path(parent: str, item: ShellItem) -> str:
    """`parent` with the item's name appended, joined by one backslash;
    network locations and URIs start afresh."""
    if item.replaces_path or not parent:
        return item.name
    if parent.endswith("\\"):
        return parent + item.name
    return f"{parent}\\{item.name}"


def display_path(items) -> str:
    path = ""
    for item in items:
        path = join_path(path, item)
    return path
