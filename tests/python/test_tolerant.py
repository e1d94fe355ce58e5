"""Hive.open_tolerant and Hive.problems(): damaged hives read as far as they can be."""

import inspect
import struct

import pytest

import orvane
from hive_builder import BASE, REG_BINARY, REG_DWORD, HiveBuilder, nk_payload
from test_corpus_walk import CORPUS_COUNTS

FFFD = "\ufffd"


def tree(hive):
    """Every key path with its values' names and data lengths, depth first."""
    lines = []
    stack = [("", hive.root_key())]
    while stack:
        parent, key = stack.pop()
        path = parent + "\\" + key.name()
        lines.append(path)
        lines.extend(f"{path}:{value.name()}={len(value.raw_data())}" for value in key.values())
        stack.extend((path, sub) for sub in reversed(key.subkeys()))
    return lines


def three_bins():
    """ROOT and A (with values one, two) in the first bin, B in the second, C in the third."""
    b = HiveBuilder()
    b.add_hbin()
    a = b.key("A")
    values = b.value_list([b.value("one", REG_DWORD, b"\1\0\0\0"), b.value("two", REG_BINARY, b"x" * 8)])
    subkeys = b.subkey_list("lf", [a, 0x1020, 0x2020])
    b.root(b.key("ROOT", subkey_count=3, subkey_list=subkeys, value_count=2, value_list=values))
    b.add_hbin()
    assert b.key("B") == 0x1020
    b.add_hbin()
    assert b.key("C") == 0x2020
    return b


FULL = ["\\ROOT", "\\ROOT:one=4", "\\ROOT:two=8", "\\ROOT\\A", "\\ROOT\\B", "\\ROOT\\C"]


def with_checksum(stored):
    data = bytearray(three_bins().build())
    struct.pack_into("<I", data, 508, stored)
    return bytes(data)


def cut(size):
    return three_bins().build()[:BASE + size]


def damaged_bin_header(at, data):
    b = three_bins()
    b.raw(BASE + at, data)
    return b.build()


def among_siblings(damaged):
    """ROOT lists A, the damaged subkey entry written by `damaged(builder)`, then C."""
    b = HiveBuilder()
    a = b.key("A")
    middle = damaged(b)
    c = b.key("C")
    b.root(b.key("ROOT", subkey_count=3, subkey_list=b.subkey_list("li", [a, middle, c])))
    return b.build(), middle


def zero_sized_cell(b):
    return b.add_cell(bytes(8), size_word=0)


def malformed_name(b):
    return b.add_cell(nk_payload(b"A\0\0\xdcB\0", flags=0))


def value_list_with_out_of_range_entry():
    b = HiveBuilder()
    one = b.value("one", REG_DWORD, b"\1\0\0\0")
    two = b.value("two", REG_DWORD, b"\2\0\0\0")
    b.root(b.key("ROOT", value_count=3, value_list=b.value_list([one, 0x7000, two])))
    return b.build()


def big_data_cut_short():
    """A 20000-byte value whose second segment lies in a bin cut off the file."""
    b = HiveBuilder()
    b.add_hbin(0x5000)
    first = b.add_cell(bytes(range(256)) * 63 + bytes(216))  # 16344 bytes
    record = b.add_cell(b"db" + struct.pack("<HI", 2, b.add_cell(struct.pack("<II", first, 0x5020))))
    values = b.value_list([b.vk("big", REG_BINARY, 20000, record)])
    b.root(b.key("ROOT", value_count=1, value_list=values))
    b.add_hbin()
    assert b.add_cell(bytes(3656)) == 0x5020
    return b.build()[:BASE + 0x5000], record


def strict_failure(path):
    """How Hive.open and a full walk of it fail today: the message, or None."""
    try:
        tree(orvane.Hive.open(path))
    except ValueError as error:
        return str(error)
    return None


def case_table():
    checksum_ok = struct.unpack_from("<I", three_bins().build(), 508)[0]
    siblings_cell, cell_offset = among_siblings(zero_sized_cell)
    siblings_name, name_offset = among_siblings(malformed_name)
    big, record = big_data_cut_short()
    truncated_data = "Hive bins data size 0x3000 runs past the end of the file ({} bytes present)"
    return [
        pytest.param(
            with_checksum(0x1234), f"Checksum mismatch: expected 0x1234, calculated {checksum_ok:#x}", FULL,
            [f"Checksum mismatch: expected 0x1234, calculated {checksum_ok:#x}"], id="bad_checksum"),
        pytest.param(
            three_bins().version(1, 7).build(), "Unsupported hive version: 1.7", FULL,
            ["Unsupported hive version: 1.7"], id="minor_version_7"),
        pytest.param(
            cut(0x2040), "Truncated data at offset 0x2020: expected 88 bytes, got 32 bytes", FULL[:-1],
            [truncated_data.format("0x2040"),
             "Hive bins cut short at offset 0x2000: Truncated data at offset 0x2000: expected 4096 bytes, got 64 bytes",
             "Skipped subkey at offset 0x2020: Truncated data at offset 0x2020: expected 88 bytes, got 32 bytes"],
            id="truncated_inside_a_bin"),
        pytest.param(
            cut(0x2000), "Invalid offset 0x2020 (hive size: 0x3000)", FULL[:-1],
            [truncated_data.format("0x2000"),
             "Skipped subkey at offset 0x2020: Invalid offset 0x2020 (hive size: 0x3000)"],
            id="truncated_between_bins"),
        pytest.param(
            damaged_bin_header(0x1000, b"\0\0\0\0"), None, FULL[:-2] + FULL[-1:],
            ['Skipped hive bins from offset 0x1000 to 0x2000: Invalid signature: expected "hbin", '
             'found "\\0\\0\\0\\0"',
             "Skipped subkey at offset 0x1020: Invalid offset 0x1020 (hive size: 0x4000)"],
            id="bad_hbin_signature_in_the_middle_is_skipped"),
        pytest.param(
            siblings_cell, f"Invalid cell size 0 at offset {cell_offset:#x}", ["\\ROOT", "\\ROOT\\A", "\\ROOT\\C"],
            [f"Skipped subkey at offset {cell_offset:#x}: Invalid cell size 0 at offset {cell_offset:#x}"],
            id="subkey_list_with_one_unreadable_entry"),
        pytest.param(
            siblings_name, f"Invalid UTF-16 string at offset {name_offset:#x}",
            ["\\ROOT", "\\ROOT\\A", f"\\ROOT\\A{FFFD}B", "\\ROOT\\C"],
            [f"Invalid UTF-16 string at offset {name_offset:#x}, read with U+FFFD in place of each bad unit"],
            id="malformed_utf16_name_among_siblings"),
        pytest.param(
            value_list_with_out_of_range_entry(), "Invalid offset 0x7000 (hive size: 0x2000)",
            ["\\ROOT", "\\ROOT:one=4", "\\ROOT:two=4"],
            ["Skipped value at offset 0x7000: Invalid offset 0x7000 (hive size: 0x2000)"],
            id="value_list_with_an_out_of_range_entry"),
        pytest.param(
            big, None, ["\\ROOT", "\\ROOT:big=16344"],
            ["Hive bins data size 0x6000 runs past the end of the file (0x5000 bytes present)",
             f"Big data at offset {record:#x} cut short: Invalid offset 0x5020 (hive size: 0x6000)"],
            id="big_data_cut_short"),
    ]


class TestDamagedHives:
    @pytest.mark.parametrize("image, strict, expected_tree, problems", case_table())
    def test_strict_as_before_tolerant_reads_every_good_key(self, write_hive, image, strict, expected_tree, problems):
        path = write_hive(image)
        assert strict_failure(path) == strict
        hive = orvane.Hive.open_tolerant(path)
        assert tree(hive) == expected_tree
        assert hive.problems() == problems
        # Reading everything again notes nothing new.
        assert tree(hive) == expected_tree
        hive.hbins()
        assert hive.problems() == problems

    @pytest.mark.parametrize("image, strict, expected_tree, problems", case_table())
    def test_walk_skips_and_notes_like_subkeys(self, write_hive, image, strict, expected_tree, problems):
        hive = orvane.Hive.open_tolerant(write_hive(image))
        root = "\\" + hive.root_key().name()
        walked = [root + ("\\" + path if path else "") for path, _ in hive.walk()]
        assert walked == [line for line in expected_tree if ":" not in line]
        tree(hive)
        assert sorted(hive.problems()) == sorted(problems)

    def test_big_data_cut_short_strictly_gives_no_bytes_or_raises(self, write_hive):
        path = write_hive(big_data_cut_short()[0])
        root = orvane.Hive.open(path).root_key()
        assert root.values()[0].raw_data() == b""
        with pytest.raises(ValueError, match=r"^Invalid offset 0x5020 \(hive size: 0x6000\)$"):
            root.value("big")
        assert orvane.Hive.open_tolerant(path).root_key().value("big").raw_data()[:3] == b"\0\1\2"

    @pytest.mark.parametrize("image, message", [
        (bytes(4095), "Hive too small: 4095 bytes (minimum: 4096 bytes)"),
        (b"rexf" + bytes(4092), 'Invalid signature: expected "regf", found "rexf"'),
        (HiveBuilder().version(2, 0).build(), "Unsupported hive version: 2.0"),
    ], ids=["too_small", "signature", "major_version_2"])
    def test_still_refuses_what_is_no_hive(self, write_hive, image, message):
        with pytest.raises(ValueError) as raised:
            orvane.Hive.open_tolerant(write_hive(image))
        assert str(raised.value) == message

    def test_missing_file_is_oserror(self, tmp_path):
        with pytest.raises(OSError, match=r"^No such file or directory \(os error 2\)$"):
            orvane.Hive.open_tolerant(str(tmp_path / "missing"))

    def test_saved_tolerant_hive_opens_strictly(self, write_hive, tmp_path):
        hive = orvane.Hive.open_tolerant(write_hive(with_checksum(0x1234)))
        hive.save(str(tmp_path / "saved"))
        assert tree(orvane.Hive.open(str(tmp_path / "saved"))) == FULL


class TestSoundHives:
    @pytest.mark.parametrize("name", CORPUS_COUNTS)
    def test_corpus_reads_the_same_and_notes_nothing(self, corpus_dir, name):
        path = str(corpus_dir / name)
        strict, tolerant = orvane.Hive.open(path), orvane.Hive.open_tolerant(path)
        assert tree(tolerant) == tree(strict)
        assert [(h.offset, h.size) for h in tolerant.hbins()] == [(h.offset, h.size) for h in strict.hbins()]
        assert tolerant.problems() == []
        assert strict.problems() == []

    def test_problems_empty_after_open_and_open_with_logs(self, write_hive):
        path = write_hive(three_bins())
        for hive in (orvane.Hive.open(path), orvane.Hive.open_with_logs(path)):
            tree(hive)
            assert hive.problems() == []


class TestSurface:
    def test_docs_and_signatures(self):
        assert orvane.Hive.open_tolerant.__doc__ == (
            "Open a damaged registry hive file, reading whatever can still be read; see problems()")
        assert str(inspect.signature(orvane.Hive.open_tolerant)) == "(path)"
        assert str(inspect.signature(orvane.Hive.problems)) == "(self, /)"
        assert orvane.Hive.problems.__doc__.startswith("Get what a hive opened with open_tolerant")

    def test_arguments(self, write_hive):
        path = write_hive(three_bins())
        assert orvane.Hive.open_tolerant(path=path).problems() == []
        with pytest.raises(TypeError, match=r"Hive\.open_tolerant\(\)"):
            orvane.Hive.open_tolerant(path.encode())
        with pytest.raises(TypeError):
            orvane.Hive.open_tolerant()
        with pytest.raises(TypeError):
            orvane.Hive.open_tolerant(path).problems(1)
