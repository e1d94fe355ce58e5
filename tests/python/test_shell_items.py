"""The shell-item decoder: one built item per kind and layout variant, ID
lists rebuilt into paths, and the damaged cases (sizes that lie, lists cut
short, blocks that point elsewhere), which give problems, never exceptions."""

from __future__ import annotations

import struct
from datetime import datetime, timezone

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import shell_item_builder as sib
from orvane_artifacts import shell_items

UTC = timezone.utc
T1 = datetime(2021, 3, 4, 5, 6, 8, tzinfo=UTC)
T2 = datetime(2022, 7, 8, 9, 10, 12, tzinfo=UTC)
T3 = datetime(2023, 11, 12, 13, 14, 16, tzinfo=UTC)


@pytest.mark.parametrize("data, kind, name, fields", [
    (sib.root_folder(sib.MY_COMPUTER), "root_folder", "My Computer", {"guid": sib.MY_COMPUTER}),
    (sib.root_folder("{01234567-89AB-CDEF-0123-456789ABCDEF}"), "root_folder",
     "{01234567-89AB-CDEF-0123-456789ABCDEF}", {}),
    (sib.volume("C:\\"), "volume", "C:\\", {}),
    (sib.volume("E:\\", type_=0x29), "volume", "E:\\", {}),
    (sib.volume_guid("{374DE290-123F-4565-9164-39C4925E467B}"), "volume", "Downloads", {}),
    (sib.file_entry("PROGRA~1", "Program Files", modified=T1, created=T2, accessed=T3, mft=(0x1234, 7)),
     "file_entry", "Program Files",
     {"short_name": "PROGRA~1", "modified": T1, "created": T2, "accessed": T3, "mft_entry": 0x1234,
      "mft_sequence": 7, "extension_version": 9, "is_directory": True}),
    (sib.file_entry("REPORT~1.PDF", "report 2021.pdf", directory=False, file_size=4096, version=8,
                    mft=(5, 1)),
     "file_entry", "report 2021.pdf", {"file_size": 4096, "is_directory": False, "extension_version": 8}),
    (sib.file_entry("DOCUME~1", "Documents", version=7, mft=(99, 2), localized="@shell32.dll,-21770"),
     "file_entry", "Documents", {"mft_entry": 99, "localized_name": "@shell32.dll,-21770"}),
    # Windows XP blocks carry no file reference.
    (sib.file_entry("MYDOCU~1", "My Documents", version=3, created=T2, localized="My Docs"),
     "file_entry", "My Documents", {"mft_entry": None, "created": T2, "localized_name": "My Docs"}),
    (sib.file_entry("Résumé", unicode_name=True, modified=T1), "file_entry", "Résumé",
     {"long_name": None, "modified": T1}),
    # A block offset in the last two bytes that points elsewhere: found by its signature.
    (sib.file_entry("TEMP", "Temp files", block_offset=3), "file_entry", "Temp files", {}),
    # A stored long-name offset outside its block: the version's place is used.
    (sib.file_entry("X", "Xylophone", name_offset=0x7FFF), "file_entry", "Xylophone", {}),
    (sib.file_entry("NOREF", "No reference", mft=None), "file_entry", "No reference", {"mft_entry": None}),
    (sib.network("\\\\server\\share", description="Team files"), "network", "\\\\server\\share",
     {"description": "Team files", "replaces_path": True}),
    (sib.network("WORKGROUP", type_=0x41), "network", "WORKGROUP", {"replaces_path": False}),
    (sib.uri("https://example.org/a"), "uri", "https://example.org/a", {"replaces_path": True}),
    (sib.uri("ftp://files.example.org", unicode_text=False), "uri", "ftp://files.example.org", {}),
    (sib.uri("http://host/x", data_block=bytes(4) + bytes(4) + bytes(8)), "uri", "http://host/x", {}),
    (sib.control_panel("{BB06C0E4-D293-4F75-8A90-CB05B6477EEE}"), "control_panel",
     "{BB06C0E4-D293-4F75-8A90-CB05B6477EEE}", {}),
    (sib.control_panel_category(5), "control_panel_category", "System and Security", {}),
    (sib.compressed_folder("inner folder", "2021"), "compressed_folder", "inner folder",
     {"strings": ["inner folder", "2021"]}),
    (sib.delegate("PICS", "Holiday pictures", mft=(77, 3)), "delegate", "Holiday pictures",
     {"mft_entry": 77, "short_name": "PICS", "guid": sib.MY_COMPUTER}),
    (sib.item(0x99, b"\x01\x02\x03\x04"), "unknown", "<unknown 0x99>", {}),
    # A 0x74 item without its file-entry signature is another kind of delegate.
    (sib.item(0x74, bytes(20)), "unknown", "<unknown 0x74>", {}),
])
def test_item_kinds(data, kind, name, fields):
    problems: list[str] = []
    item = shell_items.decode_item(data, problems=problems)
    assert (item.kind, item.name) == (kind, name)
    assert item.raw == data and item.size == len(data)
    for field, expected in fields.items():
        assert getattr(item, field) == expected, field
    assert problems == []


@pytest.mark.parametrize("data, name, problem", [
    (sib.item(0x1F, b"\x50" + bytes(6)), "<root folder>", "too short for its class ID"),
    (sib.item(0x31, b"\0\0\0"), "<file entry>", "too short for its fields"),
    # The block's own size runs past its item.
    (sib.file_entry("LONG", "Long name", size=0x400), "Long name", "does not fit the item"),
    (sib.item(0x61, b"\x80"), "<uri>", "too short for its fields"),
    (sib.item(0x61, b"\x80\0\0" + "no scheme here".encode("utf-16-le")), "<uri>", "holds no URI"),
    (sib.item(0x61, b"\x00\x06\x00" + b"????" + b"junk http://x.example\0"), "http://x.example",
     "found by its scheme"),
    (sib.item(0x71, bytes(5)), "<control panel item>", "too short for its GUID"),
    (sib.item(0x52, bytes(8)), "<compressed folder>", "holds no name"),
    (sib.item(0x43, b""), "<network location>", "too short for its location"),
    (sib.item(0x2E, b"\0\1\2"), "<volume>", "neither a drive letter nor a class ID"),
])
def test_damaged_items_give_problems(data, name, problem):
    problems: list[str] = []
    item = shell_items.decode_item(data, problems=problems, index=3)
    assert item.name == name
    assert len(problems) == 1 and problems[0].startswith("item 3 at 0x0: ") and problem in problems[0]


@pytest.mark.parametrize("items, path", [
    ([sib.root_folder(sib.MY_COMPUTER), sib.volume("C:\\"), sib.file_entry("Users", "Users"),
      sib.file_entry("alice", "alice")], "My Computer\\C:\\Users\\alice"),
    # Network items replace what came before: the share is the path's root.
    ([sib.root_folder(sib.NETWORK), sib.network("\\\\srv", type_=0x42), sib.network("\\\\srv\\data"),
      sib.file_entry("q1", "q1")], "\\\\srv\\data\\q1"),
    ([sib.uri("https://example.org/"), sib.file_entry("pub", "pub")], "https://example.org/\\pub"),
    ([sib.root_folder(sib.MY_COMPUTER), sib.item(0x99, b"??"), sib.file_entry("x", "x")],
     "My Computer\\<unknown 0x99>\\x"),
])
def test_id_list_paths(items, path):
    result = shell_items.parse_id_list(sib.id_list(*items))
    assert result.path == path
    assert result.terminated and result.problems == []
    assert result.end == sum(map(len, items)) + 2


@pytest.mark.parametrize("data, kept, problem", [
    # The second item claims more bytes than the list holds.
    (sib.root_folder(sib.MY_COMPUTER) + struct.pack("<H", 200) + b"\x2f" + b"C:\\", 1,
     "item 1 at 0x14: size 200 runs past the data (6 bytes left)"),
    (sib.root_folder(sib.MY_COMPUTER) + b"\x02\x00", 1, "item 1 at 0x14: size 2 is too small"),
    (sib.id_list(sib.root_folder(sib.MY_COMPUTER), sib.volume(), terminator=False), 2,
     "item 2 at 0x2d: the ID list ends without its terminator"),
    (sib.root_folder(sib.MY_COMPUTER) + b"\x00", 1, "ends without its terminator"),
    (b"", 0, "item 0 at 0x0: the ID list ends without its terminator"),
])
def test_id_list_cut_short(data, kept, problem):
    result = shell_items.parse_id_list(data)
    assert len(result.items) == kept
    assert not result.terminated
    assert any(problem in p for p in result.problems), result.problems


def test_id_list_stops_at_its_terminator_and_reads_from_an_offset():
    data = b"name\0\0" + sib.id_list(sib.volume("D:\\")) + b"\xff" * 9
    result = shell_items.parse_id_list(data, 6)
    assert result.path == "D:\\" and result.end == 6 + 25 + 2 and result.problems == []


@pytest.mark.parametrize("date, time, expected", [
    (0, 0, None),
    ((41 << 9) | (3 << 5) | 4, (5 << 11) | (6 << 5) | 4, T1),
    ((41 << 9) | (13 << 5) | 4, 0, None),  # month 13
    ((41 << 9) | (2 << 5) | 30, 0, None),  # 30 February
    ((41 << 9) | (3 << 5) | 4, (24 << 11), None),  # hour 24
    ((41 << 9) | (3 << 5) | 4, (5 << 11) | (6 << 5) | 30, None),  # second 60
])
def test_fat_times(date, time, expected):
    assert shell_items.fat_time(date, time) == expected


_TYPES = st.sampled_from([0x00, 0x01, 0x1F, 0x2E, 0x2F, 0x31, 0x32, 0x35, 0x36, 0x42, 0x43, 0x4C,
                          0x52, 0x61, 0x71, 0x74, 0xB1]) | st.integers(0, 255)


@st.composite
def _item_like(draw) -> bytes:
    """An item whose size may or may not be honest, sometimes with a
    0xBEEF0004 signature and the file-entry delegate mark placed inside."""
    body = bytearray(draw(st.binary(max_size=120)))
    for mark in (b"\x04\x00\xef\xbe", b"CFSF"):
        if body and draw(st.booleans()):
            at = draw(st.integers(0, len(body)))
            body[at:at] = mark
    size = draw(st.one_of(st.just(len(body) + 3), st.integers(0, 0xFFFF)))
    return struct.pack("<HB", size, draw(_TYPES)) + bytes(body)


@settings(max_examples=200, deadline=None)
@given(st.lists(_item_like(), max_size=5), st.binary(max_size=8))
def test_random_items_never_raise(items, tail):
    data = b"".join(items) + tail
    result = shell_items.parse_id_list(data)
    assert result.end <= len(data)
    assert result.terminated or result.problems
    for item in result.items:
        assert 0 <= item.offset and item.offset + item.size <= len(data)
        assert isinstance(item.name, str) and item.name
    assert not any("could not decode" in p for p in result.problems), result.problems
    assert isinstance(result.path, str)


@settings(max_examples=400, deadline=None)
@given(st.binary(max_size=300))
def test_random_bytes_never_raise(data):
    problems: list[str] = []
    item = shell_items.decode_item(data, problems=problems)
    assert not any("could not decode" in p for p in problems), problems
    assert item.size <= len(data)
    shell_items.parse_id_list(data)


def test_drive_letter_root_item():
    # A 0x1F item with the drive view signature, as Windows writes one for a
    # removable drive: the letter as text, then the delegate and class GUIDs.
    body = b"\x00\x2f\x00" + struct.pack("<I", 0xF5A6B710) + b"\x19\x00/D:\\" + bytes(38) + \
        sib.guid_bytes(sib.DELEGATE) + sib.guid_bytes("{F5FB2C77-0E2F-4A16-A381-3E560C68BC83}") + bytes(2)
    item = shell_items.decode_item(sib.item(0x1F, body))
    assert (item.kind, item.name) == ("property_view", "D:\\")
