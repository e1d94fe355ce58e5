"""orvane find and Hive.find: key names, value names and value data searched
in one pass, run as a user runs the command line."""

from __future__ import annotations

import json
import re
import struct

import pytest
from cli_runner import run
from hive_builder import (
    BASE, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_SZ, HiveBuilder, Key, Value, multi_sz, sz, utf16,
)
from test_free_threading import run_threads

import orvane

ROOT_FLAGS = 0x002C

# Each holds "needle" once, in its own way, at a known offset.
NEEDLES = Key("ROOT", [], [
    Key("Software", [
        Value("Path", REG_SZ, sz("C:\\Tools\\Needle.exe")),
        Value("List", REG_MULTI_SZ, multi_sz("alpha", "needle in list")),
        Value("Wide", REG_BINARY, b"\x07\0" + utf16("hidden NEEDLE") + b"\0\x07"),
        Value("Narrow", REG_BINARY, b"\xff\0needle ascii\0"),
        Value("Odd", REG_BINARY, b"\x01" + utf16("needle") + b"\0\0"),
        Value("NeedleName", REG_DWORD, struct.pack("<I", 7)),
        Value("", REG_SZ, sz("unnamed")),
    ], [Key("NeedleKey"), Key("Größe")]),
], flags=ROOT_FLAGS)
DATA = {("Software", "Path", "data", "utf-16le", 18), ("Software", "List", "data", "utf-16le", 12),
        ("Software", "Wide", "data", "utf-16le", 16), ("Software", "Narrow", "data", "latin-1", 2),
        ("Software", "Odd", "data", "utf-16le", 1)}
VALUE = ("Software", "NeedleName", "value", "name", 0)
KEY = ("Software\\NeedleKey", None, "key", "name", 0)


@pytest.fixture
def needles(write_hive):
    b = HiveBuilder()
    b.tree(NEEDLES)
    return write_hive(b)


def records(result) -> list[dict]:
    assert result.returncode == 0, result.stderr
    return [json.loads(line) for line in result.stdout.splitlines()]


def places(result) -> set[tuple]:
    return {(r["path"], r["value"], r["where"], r["encoding"], r["offset"]) for r in records(result)}


@pytest.mark.parametrize(("args", "expected"), [
    ([], DATA | {VALUE, KEY}),
    (["--keys"], {KEY}),
    (["--values"], {VALUE}),
    (["--data"], DATA),
    (["--keys", "--values"], {KEY, VALUE}),
    (["--case-sensitive"], {("Software", "List", "data", "utf-16le", 12), ("Software", "Narrow", "data", "latin-1", 2),
                            ("Software", "Odd", "data", "utf-16le", 1)}),
])
def test_where_and_case(needles, args, expected):
    assert places(run("find", "needle", needles, "--format", "jsonl", *args)) == expected


@pytest.mark.parametrize(("pattern", "args", "expected"), [
    # Names fold beyond ASCII (simple folding: ß stays ß).
    ("GRÖßE", [], {("Software\\Größe", None, "key", "name", 0)}),
    ("GRÖSSE", [], set()),
    # An unnamed value is listed as "(default)", but that is no name of its own.
    ("default", [], set()),
    ("unnamed", [], {("Software", "(default)", "data", "utf-16le", 0)}),
    (r"need?le\s+(in|ascii)", ["--regex"], {("Software", "List", "data", "utf-16le", 12),
                                           ("Software", "Narrow", "data", "latin-1", 2)}),
    (r"^needle", ["--regex", "--keys", "--values"], {VALUE, KEY}),
    (r"NEEDLE", ["--regex", "--case-sensitive", "--data"], {("Software", "Wide", "data", "utf-16le", 16)}),
    (r"\\Tools\\(N)", ["--regex"], {("Software", "Path", "data", "utf-16le", 4)}),
])
def test_patterns(needles, pattern, args, expected):
    assert places(run("find", pattern, needles, "--format", "jsonl", *args)) == expected


def test_context_and_text_lines(needles):
    result = run("find", "--case-sensitive", "Needle", needles)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "Software  Path  data utf-16le at 0x12  C:\\Tools\\[Needle].exe",
        "Software  NeedleName  value name  [Needle]Name",
        "Software\\NeedleKey  key name  [Needle]Key",
    ]
    wide = next(r for r in records(run("find", "needle", needles, "--format", "jsonl", "--data"))
                if r["value"] == "Wide")
    assert (wide["before"], wide["match"], wide["after"], wide["deleted"]) == ("hidden ", "NEEDLE", "", False)


def deleted_scene() -> HiveBuilder:
    """A live ROOT\\Software; a deleted key "OldTool" below it with a value
    holding "needle", and a deleted value "LoneNeedle" no key lists."""
    b = HiveBuilder()
    software = b.key("Software")
    root = b.key("ROOT", flags=ROOT_FLAGS, subkey_count=1, subkey_list=b.subkey_list("lf", [software]))
    b.root(root)
    b.u32(BASE + software + 4 + 16, root)
    data = b.data_cell(sz("the deleted needle"))
    secret = b.vk("Secret", REG_SZ, len(sz("the deleted needle")), data)
    values = b.value_list([secret])
    tool = b.key("OldTool", parent=software, value_count=1, value_list=values)
    lone = b.value("LoneNeedle", REG_DWORD, struct.pack("<I", 1))
    b.free(data, secret, values, tool, lone)
    return b


def test_deleted_records_only_when_asked(write_hive):
    path = write_hive(deleted_scene())
    assert places(run("find", "needle", path, "--format", "jsonl")) == set()
    found = records(run("find", "needle", path, "--format", "jsonl", "--deleted"))
    assert {(r["path"], r["value"], r["where"], r["deleted"]) for r in found} == {
        ("Software\\OldTool", "Secret", "data", True), (None, "LoneNeedle", "value", True)}
    text = run("find", "needle", path, "--deleted").stdout.splitlines()
    assert "(deleted) Software\\OldTool  Secret  data utf-16le at 0x18  the deleted [needle]" in text
    assert "(deleted) (no key)  LoneNeedle  value name  Lone[Needle]" in text


def test_several_hives_one_damaged(needles, write_hive):
    bad = write_hive(b"\0" * 4096, "bad.hive")
    result = run("find", "needlekey", needles, bad, needles, "--format", "jsonl")
    assert result.returncode == 1
    assert result.stderr == f'orvane: {bad}: Invalid signature: expected "regf", found "\\0\\0\\0\\0"\n'
    assert [(r["hive"], r["path"]) for r in map(json.loads, result.stdout.splitlines())] == [
        (needles, "Software\\NeedleKey")] * 2
    text = run("find", "needlekey", needles, bad)
    assert text.returncode == 1
    assert text.stdout == f"==> {needles} <==\nSoftware\\NeedleKey  key name  [NeedleKey]\n"


def unreadable_parts() -> HiveBuilder:
    """A root whose subkey list lies past the end of the file, a value
    "NeedleBad" whose data does too, a value "Needle"; and "LostNeedle", a key
    node no list names (an orphan)."""
    b = HiveBuilder()
    values = [b.value("Needle", REG_DWORD, b"\0\0\0\0"), b.vk("NeedleBad", REG_BINARY, 64, 0x7FFF0)]
    root = b.key("ROOT", flags=ROOT_FLAGS, subkey_count=1, subkey_list=0x7FFF0, value_count=2,
                 value_list=b.value_list(values))
    b.root(root)
    b.key("LostNeedle", parent=root)
    return b


@pytest.mark.parametrize(("args", "status", "stdout", "stderr"), [
    # Every reading command goes on past what it cannot read, tells it, and ends with status 1.
    ([], 1, ["\\  Needle  value name  [Needle]", "\\  NeedleBad  value name  [Needle]Bad"],
     ["(root): value 'NeedleBad' not read: Invalid offset 0x7fff0 (hive size: 0x2000)",
      "(root): subkeys not read: Invalid offset 0x7fff0 (hive size: 0x2000)"]),
    (["--keys"], 1, [], ["(root): subkeys not read: Invalid offset 0x7fff0 (hive size: 0x2000)"]),
    # Read tolerantly the orphan keys are searched too, below <orphans>.
    (["--tolerant", "--keys"], 0, ["<orphans>\\LostNeedle  key name  Lost[Needle]"],
     ["Skipped subkey list at offset 0x7fff0: Invalid offset 0x7fff0 (hive size: 0x2000)"]),
])
def test_what_cannot_be_read_is_told_and_the_search_goes_on(write_hive, args, status, stdout, stderr):
    path = write_hive(unreadable_parts())
    result = run("find", "needle", path, *args)
    assert (result.returncode, result.stdout.splitlines()) == (status, stdout)
    assert result.stderr.splitlines() == [f"orvane: {path}: {line}" for line in stderr]


@pytest.mark.parametrize("args", [["", "--regex"], [""], ["(", "--regex"]])
def test_usage_errors_exit_2(needles, args):
    result = run("find", *args[:1], needles, *args[1:])
    assert result.returncode == 2
    assert "error:" in result.stderr and result.stdout == ""


class TestHiveFind:
    def test_tuples(self, open_tree):
        hive = open_tree(NEEDLES)
        assert hive.find("needlekey") == [
            ("Software\\NeedleKey", None, "key", "name", 0, "", "NeedleKey", "", False,
             hive.key("Software\\NeedleKey").offset(), 0)]
        (match,) = hive.find(re.compile("ascii"))
        assert match[:8] == ("Software", "Narrow", "data", "latin-1", 9, "needle ", "ascii", "")

    @pytest.mark.parametrize(("pattern", "error"), [(3, TypeError), ("", ValueError), (b"x", TypeError)])
    def test_bad_patterns(self, open_tree, pattern, error):
        with pytest.raises(error):
            open_tree(NEEDLES).find(pattern)

    def test_an_error_from_search_propagates(self, open_tree):
        class Boom:
            def search(self, text):
                raise KeyError(text)

        with pytest.raises(KeyError):
            open_tree(NEEDLES).find(Boom())

    def test_on_error_or_the_first_failure_raised(self, write_hive):
        hive = orvane.Hive.open(write_hive(unreadable_parts()))
        told = []
        found = hive.find("needle", on_error=lambda *args: told.append(args))
        assert [(m[1], m[2]) for m in found] == [("Needle", "value"), ("NeedleBad", "value")]
        assert [(path, type(problem), what) for path, problem, what in told] == [
            ("", ValueError, "value 'NeedleBad'"), ("", ValueError, "subkeys")]
        with pytest.raises(ValueError, match="Invalid offset 0x7fff0"):
            hive.find("needle")
        orphans = hive.find("lostneedle", include_orphans=True, on_error=lambda *args: None)
        assert [m[0] for m in orphans] == ["<orphans>\\LostNeedle"]

    def test_data_in_big_data_cells_and_at_the_end(self, open_tree):
        big = bytes(16340) + utf16("needle") + bytes(8) + b"needl"
        hive = open_tree(Key("ROOT", [Value("Big", REG_BINARY, big)], flags=ROOT_FLAGS))
        assert [(m[3], m[4]) for m in hive.find("needle")] == [("utf-16le", 16340)]

    def test_threads_share_a_hive(self, write_hive):
        # Literal, regular-expression and deleted searches at once; the
        # deleted ones share the hive's one scan.
        hive = orvane.Hive.open(write_hive(deleted_scene()))
        searches = [lambda: hive.find("needle", deleted=True), lambda: hive.find(re.compile("needle"), deleted=True),
                    lambda: hive.find("software")] * 3
        expected = [search() for search in searches[:3]] * 3
        assert run_threads(searches) == expected
