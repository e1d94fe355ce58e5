"""Hive.open_with_logs with the transaction logs Windows writes (.LOG1/.LOG2,
starting with "regf"): a dirty hive comes back recovered."""

import hashlib
import pathlib
import struct

import pytest

import orvane
from hive_builder import BASE, HiveBuilder, checksum, utf16
from log_builder import LogBuilder
from windows_log_builder import WindowsLogBuilder, fix_log_checksum, marvin32

open_with_logs = orvane.Hive.open_with_logs

USRCLASS_BINS_SHA256 = "626a7efd1aa13e972f3cdfbec128a3a0730c3945fb05ab96e2b84ce3cce63256"


def sequences(hive):
    block = hive.base_block()
    return block.primary_sequence, block.secondary_sequence


def saved(hive, path):
    hive.save(str(path))
    return path.read_bytes()


def count_tree(hive):
    keys = values = 0
    stack = [hive.root_key()]
    while stack:
        key = stack.pop()
        keys += 1
        values += len(key.values())
        stack.extend(key.subkeys())
    return keys, values


@pytest.mark.parametrize(
    "data, expected",
    [(b"", 0xB39EFCA403966E08), (b"h", 0x32A1242FC6BB44A1), (b"abc", 0xB9CF3DFCA41914F7)],
    ids=["empty", "one_byte", "three_bytes"],
)
def test_builder_hashes_are_real(data, expected):
    assert marvin32(data) == expected


class TestUsrClass:
    """The corpus hive (sequence 256/255) and the two logs Windows left."""

    @pytest.fixture
    def files(self, corpus_dir):
        return {name: str(corpus_dir / f"UsrClass.dat{suffix}")
                for name, suffix in (("hive", ""), ("log1", ".LOG1"), ("log2", ".LOG2"))}

    @pytest.mark.parametrize("order", [("log1", "log2"), ("log2", "log1")], ids=["log1_first", "log2_first"])
    def test_recovers_to_the_reference_figures(self, files, order, tmp_path):
        hive = open_with_logs(files["hive"], files[order[0]], files[order[1]])
        assert sequences(hive) == (300, 300)
        assert hive.base_block().hive_bins_data_size == 0x2B3000
        image = saved(hive, tmp_path / "recovered")
        assert len(image) == 0x2C0000
        assert hashlib.sha256(image[BASE:]).hexdigest() == USRCLASS_BINS_SHA256
        assert count_tree(hive) == (6238, 12531)

    def test_saved_recovery_opens_as_a_clean_hive(self, files, tmp_path):
        path = tmp_path / "recovered"
        open_with_logs(files["hive"], files["log1"], files["log2"]).save(str(path))
        reopened = orvane.Hive.open(str(path))
        assert sequences(reopened) == (300, 300)
        assert count_tree(reopened) == (6238, 12531)

    @pytest.mark.parametrize("log, expected", [("log1", (290, 290)), ("log2", (300, 300))], ids=["log1", "log2"])
    def test_one_log_recovers_as_far_as_it_goes(self, files, log, expected):
        hive = open_with_logs(files["hive"], files[log])
        assert sequences(hive) == expected
        count_tree(hive)  # whatever it reaches, the walk ends

    def test_without_logs_the_hive_is_as_read(self, files):
        assert sequences(open_with_logs(files["hive"])) == (256, 255)

    def test_log_path_given_twice_is_harmless(self, files):
        assert sequences(open_with_logs(files["hive"], files["log1"], files["log1"])) == (290, 290)

    @pytest.mark.parametrize("order", [("log1", "log2"), ("log2", "log1")], ids=["log1_first", "log2_first"])
    def test_applied_logs_names_both_in_the_order_applied(self, files, order):
        hive = open_with_logs(files["hive"], files[order[0]], files[order[1]])
        assert hive.applied_logs() == [files["log1"], files["log2"]]

    def test_clean_hive_applies_nothing(self, files, tmp_path):
        clean = open_with_logs(files["hive"], files["log1"], files["log2"])
        clean.save(str(tmp_path / "clean"))
        assert open_with_logs(str(tmp_path / "clean"), files["log1"], files["log2"]).applied_logs() == []

    @pytest.mark.parametrize("field", [utf16("\\SystemRoot\\System32\\Config\\SYSTEM"), bytes(64)],
                             ids=["another-name", "no-name"])
    def test_logs_of_another_hive_are_left_out(self, files, tmp_path, field):
        # Another hive's logs: the same bytes, but a file name field that is not
        # UsrClass.dat's. Applied, they would corrupt it; left out, the hive stays
        # dirty and whole.
        others = []
        for name in ("log1", "log2"):
            log = bytearray(pathlib.Path(files[name]).read_bytes())
            log[48:112] = field.ljust(64, b"\0")
            fix_log_checksum(log)
            others.append(str(tmp_path / f"other.{name}"))
            pathlib.Path(others[-1]).write_bytes(log)
        hive = open_with_logs(files["hive"], *others)
        assert sequences(hive) == (256, 255)
        assert len(saved(hive, tmp_path / "kept")) == pathlib.Path(files["hive"]).stat().st_size
        assert hive.applied_logs() == []
        assert count_tree(hive) == (6205, 12369)


def dirty_hive(primary=5, secondary=4):
    """Two bins of 0x11 bytes, sequence 5/4."""
    builder = HiveBuilder().sequences(primary, secondary)
    for _ in range(2):
        offset = builder.add_hbin()
        builder.raw(BASE + offset + 32, b"\x11" * (4096 - 32))
    return builder


def bin_page(offset, fill):
    return (b"hbin" + struct.pack("<II", offset, 4096)).ljust(4096, bytes([fill]))


def fill_at(image, relative):
    return image[BASE + relative + 100]


@pytest.fixture
def built(write_hive, tmp_path):
    """A dirty hive and its two logs: LOG1 holds entry 5 (bin 0), LOG2 entries
    6 (a third bin: the hive grows) and 7 (bin 1)."""
    hive = dirty_hive().build()
    log1 = WindowsLogBuilder(hive, 5)
    log1.entry(5, 0x2000, [(0, bin_page(0, 0x50))])
    log2 = WindowsLogBuilder(hive, 6)
    log2.entry(6, 0x3000, [(0x2000, bin_page(0x2000, 0x60))])
    log2.entry(7, 0x3000, [(0x1000, bin_page(0x1000, 0x70))], flags=1)
    return {
        "hive": write_hive(hive, "hive"),
        "log1": log1.write(tmp_path / "hive.LOG1"),
        "log2": log2.write(tmp_path / "hive.LOG2"),
        "log2_bytes": log2.build(),
    }


class TestBuiltLogs:
    def test_replays_both_logs(self, built, tmp_path):
        hive = open_with_logs(built["hive"], built["log2"], built["log1"])
        assert sequences(hive) == (7, 7)
        assert hive.base_block().hive_bins_data_size == 0x3000
        assert [h.offset for h in hive.hbins()] == [0, 0x1000, 0x2000]
        image = saved(hive, tmp_path / "out")
        assert [fill_at(image, at) for at in (0, 0x1000, 0x2000)] == [0x50, 0x70, 0x60]
        assert struct.unpack_from("<I", image, 144)[0] & 1 == 1
        assert sequences(orvane.Hive.open(str(tmp_path / "out"))) == (7, 7)

    def test_clean_hive_ignores_newer_logs(self, built, write_hive):
        path = write_hive(dirty_hive(4, 4), "clean")
        hive = open_with_logs(path, built["log1"], built["log2"])
        assert sequences(hive) == (4, 4)
        assert hive.base_block().hive_bins_data_size == 0x2000

    def test_broken_base_block_is_rebuilt_from_the_latest_log(self, built, write_hive):
        path = write_hive(dirty_hive().build(fix_checksum=False), "broken")
        hive = open_with_logs(path, built["log1"], built["log2"])
        # Only LOG2 (the latest) is used: entries 6 and 7.
        assert sequences(hive) == (7, 7)
        assert hive.base_block().hive_bins_data_size == 0x3000

    def test_broken_base_block_without_usable_log_fails_as_without_logs(self, built, write_hive, tmp_path):
        image = dirty_hive().build(fix_checksum=False)
        path = write_hive(image, "broken")
        damaged = bytearray(built["log2_bytes"])
        damaged[100] ^= 0xFF
        log = tmp_path / "damaged.LOG2"
        log.write_bytes(damaged)
        with pytest.raises(ValueError) as raised:
            open_with_logs(path, str(log))
        assert str(raised.value) == f"Checksum mismatch: expected 0x0, calculated {checksum(image):#x}"

    def test_hvle_logs_are_replayed_after_windows_recovery(self, built, tmp_path):
        hvle = LogBuilder(1).block().page(BASE + 0x1000 + 64, b"\x99" * 16).page(4, struct.pack("<I", 42))
        hive = open_with_logs(built["hive"], built["log1"], hvle.write(tmp_path / "hvle"))
        # Windows recovery ran first (entry 5: sequence 5/5); the HvLE pages then
        # overwrote the primary sequence number and part of bin 1.
        assert sequences(hive) == (42, 5)
        image = saved(hive, tmp_path / "out")
        assert image[BASE + 0x1000 + 64:BASE + 0x1000 + 80] == b"\x99" * 16
        assert fill_at(image, 0) == 0x50


def damaged_logs(log):
    """Windows logs that cannot be used, each the mutation of a good one."""
    flipped_entry = bytearray(log)
    flipped_entry[512 + 8] ^= 1  # Hash-2 no longer matches
    bad_checksum = bytearray(log)
    bad_checksum[100] ^= 1
    unequal = bytearray(log)
    unequal[8] ^= 1
    fix_log_checksum(unequal)
    return {
        "signature_only": b"regf",
        "base_block_only": log[:512],
        "truncated_entry": log[:512 + 600],
        "entry_hash": bytes(flipped_entry),
        "log_checksum": bytes(bad_checksum),
        "unequal_sequences": bytes(unequal),
        "regf_then_zeros": b"regf" + bytes(8188),
    }


DAMAGED = ["signature_only", "base_block_only", "truncated_entry", "entry_hash", "log_checksum",
           "unequal_sequences", "regf_then_zeros"]


class TestUnusableWindowsLogs:
    @pytest.mark.parametrize("case", DAMAGED, ids=DAMAGED)
    def test_never_raises_and_leaves_the_hive_dirty(self, built, tmp_path, case):
        log = tmp_path / case
        log.write_bytes(damaged_logs(built["log2_bytes"])[case])
        hive = open_with_logs(built["hive"], str(log))
        assert sequences(hive) == (5, 4)
        assert hive.base_block().hive_bins_data_size == 0x2000

    @pytest.mark.parametrize("case", DAMAGED, ids=DAMAGED)
    def test_does_not_spoil_a_good_log(self, built, tmp_path, case):
        log = tmp_path / case
        log.write_bytes(damaged_logs(built["log2_bytes"])[case])
        assert sequences(open_with_logs(built["hive"], str(log), built["log1"])) == (5, 5)
