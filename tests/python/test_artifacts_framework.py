"""The artifact framework: hive detection, control sets, the guarded run
and the binary decoders every extractor shares."""

from __future__ import annotations

import struct
import sys
from datetime import datetime, timezone

import pytest
from artifact_hives import dword, hive_of, path_tree, system, text
from cli_runner import SRC
from hive_builder import Key

sys.path.insert(0, str(SRC))

import orvane_artifacts  # noqa: E402
from orvane_artifacts import binary  # noqa: E402
from orvane_artifacts.framework import TYPES, Extractor, Field  # noqa: E402

UTC = timezone.utc


@pytest.mark.parametrize("tree, kind", [
    (system(), "SYSTEM"),
    (hive_of(Key("Objects"), Key("Description")), "BCD"),
    (hive_of(Key("Policy"), Key("RXACT"), Key("SAM")), "SECURITY"),
    (hive_of(path_tree("SAM\\Domains\\Account")), "SAM"),
    (hive_of(path_tree("Root\\InventoryApplicationFile")), "AMCACHE"),
    (hive_of(path_tree("Root\\File\\{x}")), "AMCACHE"),
    (hive_of(path_tree("Root\\InventoryApplication")), "AMCACHE"),
    (hive_of(path_tree("Root\\Programs")), "AMCACHE"),
    (hive_of(Key("Classes"), Key("Microsoft"), Key("Policies")), "SOFTWARE"),  # CurrentVersion lost
    (hive_of(Key("Microsoft"), Key("Policies")), None),
    (hive_of(Key("Software"), Key("Control Panel"), Key("Environment")), "NTUSER"),
    (hive_of(Key("Local Settings"), Key("CLSID")), "USRCLASS"),
    (hive_of(path_tree("Microsoft\\Windows NT\\CurrentVersion"), Key("Classes")), "SOFTWARE"),
    (hive_of(Key("Root")), None),  # a Root key alone is not an Amcache
    (hive_of(Key("Whatever")), None),
])
def test_hive_kind_from_contents(open_tree, tree, kind):
    from hive_builder import HiveBuilder

    builder = HiveBuilder()
    builder.tree(tree)
    builder.raw(48, bytes(64))  # no file name to hint with: the contents alone decide
    assert orvane_artifacts.hive_kind(open_tree(builder)) == kind


def test_hive_kind_falls_back_to_the_file_name(open_tree):
    from hive_builder import HiveBuilder, utf16

    builder = HiveBuilder()
    builder.tree(hive_of(Key("Whatever")))
    builder.raw(48, utf16("\\Programs\\Amcache.hve").ljust(64, b"\0"))
    assert orvane_artifacts.hive_kind(open_tree(builder)) == "AMCACHE"


@pytest.mark.parametrize("select, sets, read, rule", [
    ((2, 1), (1, 2), ["ControlSet002"], "Current"),
    ((3, 1), (1, 2), ["ControlSet001"], "Default"),    # Current names a missing set
    ((7, 8), (2, 5), ["ControlSet002"], "lowest present"),
    ((1, 1), (), [], "none"),
])
def test_current_control_set(open_tree, select, sets, read, rule):
    select_key = path_tree("Select", [dword("Current", select[0]), dword("Default", select[1])])
    hive = open_tree(hive_of(select_key, *[Key(f"ControlSet{n:03d}") for n in sets]))
    result = orvane_artifacts.extract(hive, ["control_sets"])
    records = result.records["control_sets"]
    assert [r["control_set"] for r in records if r["is_current"]] == read
    assert {r["current_rule"] for r in records} <= {rule}
    assert [r["control_set"] for r in records] == [f"ControlSet{n:03d}" for n in sets]
    assert result.problems == []


def test_all_control_sets_reads_every_set(open_tree):
    name = "ComputerName"
    paths = [path_tree(f"ControlSet00{n}\\Control\\ComputerName\\ComputerName", [text(name, f"HOST{n}")])
             for n in (1, 2)]
    hive = open_tree(system(*paths, current=2, sets=(1, 2)))
    current = orvane_artifacts.extract(hive, ["computer_name"]).records["computer_name"]
    every = orvane_artifacts.extract(hive, ["computer_name"], all_control_sets=True).records["computer_name"]
    assert [(r["control_set"], r["computer_name"]) for r in current] == [("ControlSet002", "HOST2")]
    assert [(r["control_set"], r["computer_name"]) for r in every] == [("ControlSet001", "HOST1"),
                                                                         ("ControlSet002", "HOST2")]


def _failing(hive, context):
    yield {"n": 1}
    context.problem("entry 1 at 0x10: path runs past the data")
    raise ValueError("Invalid cell size 0 at offset 0x20")


def _buggy(hive, context):
    yield {"n": 1}
    raise IndexError("boom")


@pytest.mark.parametrize("run, last", [
    (_failing, "broken: reading stopped: Invalid cell size 0 at offset 0x20"),
    (_buggy, "broken: stopped by an internal error: IndexError: boom"),
])
def test_a_failing_extractor_keeps_its_records_and_says_why(run, last):
    extractor = Extractor("broken", ("SYSTEM",), "fails", (Field("n", "int", "a number"),), run)
    problems: list[str] = []
    assert list(extractor.extract(None, problems)) == [{"n": 1}]
    assert problems[-1] == last


def test_unknown_names_are_refused(open_tree):
    with pytest.raises(ValueError, match="unknown artifact: 'nope'"):
        orvane_artifacts.extract(open_tree(system()), ["nope"])


def test_every_extractor_is_described_completely():
    names = [extractor.name for extractor in orvane_artifacts.extractors()]
    assert len(names) == len(set(names))
    for extractor in orvane_artifacts.extractors():
        assert extractor.name.isidentifier() and extractor.name == extractor.name.lower()
        assert set(extractor.hive_kinds) <= set(orvane_artifacts.KINDS) and extractor.hive_kinds
        assert extractor.description and "\n" not in extractor.description
        assert "key_path" in extractor.field_names
        assert len(set(extractor.field_names)) == len(extractor.field_names)
        for field in extractor.fields:
            assert field.type in TYPES and field.meaning


MAX_TICKS = 2650467743999999999  # 9999-12-31T23:59:59.9999999


@pytest.mark.parametrize("ticks, expected", [
    (0, None),
    (0x7FFFFFFFFFFFFFFF, None),  # "never" (SAM account expiry)
    (0xFFFFFFFFFFFFFFFF, None),
    (MAX_TICKS + 1, None),       # past what a datetime holds
    (1, datetime(1601, 1, 1, tzinfo=UTC)),
    (132000000001234567, datetime(2019, 4, 17, 18, 40, 0, 123456, tzinfo=UTC)),
    (MAX_TICKS, datetime(9999, 12, 31, 23, 59, 59, 999999, tzinfo=UTC)),
])
def test_filetime(ticks, expected):
    assert binary.filetime(ticks) == expected


def systemtime_bytes(*fields: int) -> bytes:
    return struct.pack("<8H", *fields)


@pytest.mark.parametrize("data, expected", [
    (systemtime_bytes(2021, 3, 4, 11, 5, 6, 7, 123), datetime(2021, 3, 11, 5, 6, 7, 123000, tzinfo=UTC)),
    (systemtime_bytes(2020, 2, 6, 29, 23, 59, 59, 999), datetime(2020, 2, 29, 23, 59, 59, 999000, tzinfo=UTC)),
    (systemtime_bytes(2021, 2, 1, 29, 0, 0, 0, 0), None),     # no 29 February in 2021
    (systemtime_bytes(2021, 0, 0, 1, 0, 0, 0, 0), None),      # month 0
    (systemtime_bytes(2021, 13, 0, 1, 0, 0, 0, 0), None),
    (systemtime_bytes(2021, 1, 0, 1, 24, 0, 0, 0), None),
    (systemtime_bytes(2021, 1, 0, 1, 0, 0, 0, 1000), None),
    (systemtime_bytes(0, 3, 0, 5, 2, 0, 0, 0), None),         # a yearly rule, not a date
    (systemtime_bytes(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF), None),
    (systemtime_bytes(2021, 1, 0, 1, 0, 0, 0, 0)[:15], None),  # cut short
])
def test_systemtime(data, expected):
    assert binary.systemtime(data) == expected


def test_systemtime_local_is_naive():
    moment = binary.systemtime(systemtime_bytes(2021, 3, 4, 11, 5, 6, 7, 0), local=True)
    assert moment == datetime(2021, 3, 11, 5, 6, 7) and moment.tzinfo is None


@pytest.mark.parametrize("data, expected", [
    ("abc\0".encode("utf-16-le"), "abc"),
    ("abc".encode("utf-16-le"), "abc"),                        # no terminator: take everything
    ("ab\0garbage".encode("utf-16-le"), "ab"),                 # leftovers after the NUL never shown
    ("ab".encode("utf-16-le") + b"c", "ab"),                   # odd length: the even prefix
    (b"\x00\xd8a\x00", "\ufffda"),                             # a lone surrogate
    (b"a\x00\x00\x01\x00\x00", "a\u0100"),                     # a zero byte that is not a NUL unit
    (b"", ""),
])
def test_utf16z(data, expected):
    assert binary.utf16z(data) == expected


@pytest.mark.parametrize("data, expected", [
    ("a\0b\0\0".encode("utf-16-le"), ["a", "b"]),
    ("a\0b".encode("utf-16-le"), ["a", "b"]),                  # end terminator missing
    ("a\0\0b\0\0".encode("utf-16-le"), ["a"]),                 # an empty string ends the list
    (b"", []),
])
def test_utf16_list(data, expected):
    assert binary.utf16_list(data) == expected


@pytest.mark.parametrize("data, expected", [
    (bytes.fromhex("010400000000000515000000010000000200000003000000"), "S-1-5-21-1-2-3"),
    (bytes.fromhex("010100000000000512000000"), "S-1-5-18"),
    (bytes.fromhex("0105000000000005150000000100"), None),     # sub-authorities cut short
    (bytes.fromhex("020100000000000512000000"), None),         # not revision 1
    (b"", None),
])
def test_sid(data, expected):
    assert binary.sid(data) == expected


def test_reader_reports_the_field_that_overruns():
    reader = binary.Reader(bytes(6))
    assert reader.u32(2) == 0
    with pytest.raises(binary.Overrun, match="path runs past the data"):
        reader.bytes(4, 4, "path")
    with pytest.raises(binary.Overrun):
        reader.u16(-1)
