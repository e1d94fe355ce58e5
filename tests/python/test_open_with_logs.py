"""Hive.open_with_logs: arguments, ignored logs, replay and its failures."""

import hashlib
import inspect
import os
import pathlib
import struct
import subprocess
import sys
import textwrap

import pytest

import orvane
from hive_builder import BASE, HiveBuilder, checksum
from log_builder import LogBuilder

open_with_logs = orvane.Hive.open_with_logs


def primary_sequence(hive):
    return hive.base_block().primary_sequence


def sequence_page(value):
    """A page that writes the base block's primary sequence number."""
    return 4, struct.pack("<I", value)


def log_file(tmp_path, name, sequence=1, pages=()):
    builder = LogBuilder(sequence)
    if pages:
        builder.block()
        for offset, data in pages:
            builder.page(offset, data)
    return builder.write(tmp_path / name)


@pytest.fixture
def hive_path(write_hive):
    builder = HiveBuilder().sequences(7, 7)
    builder.add_hbin()
    return write_hive(builder, "hive")


class TestArguments:
    def test_signature_and_doc(self):
        assert open_with_logs.__text_signature__ == "(hive_path, log1_path=None, log2_path=None)"
        assert str(inspect.signature(open_with_logs)) == "(hive_path, log1_path=None, log2_path=None)"
        assert open_with_logs.__doc__ == "Open a registry hive with transaction logs applied"

    @pytest.mark.parametrize("call", [
        lambda h: open_with_logs(h),
        lambda h: open_with_logs(h, None),
        lambda h: open_with_logs(h, None, None),
        lambda h: open_with_logs(hive_path=h, log2_path=None),
        lambda h: open_with_logs(h, log1_path=None, log2_path=None),
    ], ids=["omitted", "log1_none", "both_none", "keyword_hive", "keyword_logs"])
    def test_none_and_omitted_are_the_same(self, hive_path, call):
        hive = call(hive_path)
        plain = orvane.Hive.open(hive_path)
        assert repr(hive) == repr(plain)
        assert primary_sequence(hive) == 7
        assert [repr(h) for h in hive.hbins()] == [repr(h) for h in plain.hbins()]

    @pytest.mark.parametrize("parameter", ["hive_path", "log1_path", "log2_path"])
    @pytest.mark.parametrize("value, type_name", [
        (b"hive", "bytes"), (pathlib.Path("hive"), "PosixPath"), (1, "int"),
    ], ids=["bytes", "path", "int"])
    def test_wrong_type_names_the_parameter(self, hive_path, parameter, value, type_name):
        arguments = {"hive_path": hive_path, parameter: value}
        with pytest.raises(TypeError) as raised:
            open_with_logs(**arguments)
        assert str(raised.value) == f"Hive.open_with_logs() argument '{parameter}' must be str, not {type_name}"

    def test_hive_path_may_not_be_none(self):
        with pytest.raises(TypeError, match=r"^Hive.open_with_logs\(\) argument 'hive_path' must be str, not NoneType$"):
            open_with_logs(None)

    @pytest.mark.parametrize("args, kwargs, message", [
        ((), {}, "Hive.open_with_logs() missing 1 required positional argument: 'hive_path'"),
        (("a", None, None, None), {}, "Hive.open_with_logs() takes 3 positional arguments but 4 were given"),
        (("a",), {"log3_path": None}, "Hive.open_with_logs() got an unexpected keyword argument 'log3_path'"),
        (("a", None), {"log1_path": None}, "Hive.open_with_logs() got multiple values for argument 'log1_path'"),
    ], ids=["missing", "surplus", "unknown", "duplicate"])
    def test_argument_count(self, args, kwargs, message):
        with pytest.raises(TypeError) as raised:
            open_with_logs(*args, **kwargs)
        assert str(raised.value) == message


class TestIgnoredLogs:
    @pytest.fixture
    def unusable(self, tmp_path):
        """Log paths that give the same hive as no log at all."""
        (tmp_path / "short").write_bytes(b"HvLE" + bytes(4091))
        (tmp_path / "foreign").write_bytes(b"XXXX" + bytes(8188))
        (tmp_path / "lowercase").write_bytes(LogBuilder().block().page(4, b"\xff\xff").build().replace(b"HvLE", b"hvle"))
        (tmp_path / "empty").write_bytes(b"")
        return {
            "missing": str(tmp_path / "missing"),
            "empty_string": "",
            "directory": str(tmp_path),
            "empty_file": str(tmp_path / "empty"),
            "short": str(tmp_path / "short"),
            "foreign": str(tmp_path / "foreign"),
            "lowercase_signature": str(tmp_path / "lowercase"),
            "nul_in_path": str(tmp_path / "missing") + "\0x",
        }

    @pytest.mark.parametrize("name", ["missing", "empty_string", "directory", "empty_file", "short", "foreign",
                                      "lowercase_signature", "nul_in_path"])
    @pytest.mark.parametrize("slot", ["log1_path", "log2_path"])
    def test_unusable_log_is_ignored(self, hive_path, unusable, name, slot):
        hive = open_with_logs(hive_path, **{slot: unusable[name]})
        assert primary_sequence(hive) == 7

    def test_unusable_log_beside_a_good_one(self, hive_path, tmp_path, unusable):
        good = log_file(tmp_path, "good", pages=[sequence_page(42)])
        assert primary_sequence(open_with_logs(hive_path, unusable["foreign"], good)) == 42
        assert primary_sequence(open_with_logs(hive_path, good, unusable["missing"])) == 42

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")
    def test_unreadable_log_is_ignored(self, hive_path, tmp_path):
        path = log_file(tmp_path, "log", pages=[sequence_page(42)])
        os.chmod(path, 0)
        assert primary_sequence(open_with_logs(hive_path, path)) == 7

    def test_ignored_logs_leave_a_wrong_checksum_wrong(self, write_hive, tmp_path, unusable):
        data = bytearray(HiveBuilder().build())
        struct.pack_into("<I", data, 508, 0x1234)
        path = write_hive(bytes(data))
        expected = f"^Checksum mismatch: expected 0x1234, calculated {checksum(data):#x}$"
        empty_log = log_file(tmp_path, "empty_log", pages=())  # valid, but without pages
        for logs in [(None, None), (unusable["missing"], unusable["short"]), (empty_log, None), (empty_log, empty_log)]:
            with pytest.raises(ValueError, match=expected):
                open_with_logs(path, *logs)


class TestReplay:
    def test_pages_are_applied_and_the_checksum_recomputed(self, hive_path, tmp_path):
        log = log_file(tmp_path, "log", pages=[sequence_page(0x1234), (8, struct.pack("<I", 0x5678))])
        hive = open_with_logs(hive_path, log)
        block = hive.base_block()
        assert (block.primary_sequence, block.secondary_sequence) == (0x1234, 0x5678)

    @pytest.mark.parametrize("sequence1, sequence2, survivor", [
        (5, 5, 2), (6, 5, 1), (5, 6, 2), (0xFFFFFFFF, 0, 1),
    ], ids=["equal", "log2_smaller", "log1_smaller", "extremes"])
    def test_logs_go_by_sequence(self, hive_path, tmp_path, sequence1, sequence2, survivor):
        log1 = log_file(tmp_path, "log1", sequence1, [sequence_page(1)])
        log2 = log_file(tmp_path, "log2", sequence2, [sequence_page(2)])
        assert primary_sequence(open_with_logs(hive_path, log1, log2)) == survivor

    def test_same_log_twice(self, hive_path, tmp_path):
        log = log_file(tmp_path, "log", pages=[sequence_page(9)])
        assert primary_sequence(open_with_logs(hive_path, log, log)) == 9

    def test_pages_grow_the_image(self, write_hive, tmp_path):
        # A base block alone, and a log that adds a bin beyond a zero gap.
        path = write_hive(HiveBuilder().u32(40, 0x2000))
        hbin = b"hbin" + struct.pack("<II", 0x1000, 0x1000) + bytes(20)
        log = log_file(tmp_path, "log", pages=[(BASE + 0x1000, hbin)])
        hive = open_with_logs(path, log)
        # The gap is zeros, so the walk meets no "hbin" at offset 0 and stops.
        assert hive.hbins() == []
        saved = tmp_path / "saved"
        hive.save(str(saved))
        image = saved.read_bytes()
        assert len(image) == BASE + 0x1000 + 32
        assert image[BASE:BASE + 0x1000] == bytes(0x1000)
        assert image[BASE + 0x1000:] == hbin

    def test_hive_and_logs_are_not_written(self, hive_path, tmp_path):
        log = log_file(tmp_path, "log", pages=[sequence_page(3)])
        digests = [hashlib.sha256(pathlib.Path(p).read_bytes()).hexdigest() for p in (hive_path, log)]
        open_with_logs(hive_path, log)
        assert [hashlib.sha256(pathlib.Path(p).read_bytes()).hexdigest() for p in (hive_path, log)] == digests

    def test_replayed_image_is_validated(self, hive_path, tmp_path):
        log = log_file(tmp_path, "log", pages=[(0, b"abcd")])
        with pytest.raises(ValueError, match=r'^Invalid signature: expected "regf", found "abcd"$'):
            open_with_logs(hive_path, log)
        log = log_file(tmp_path, "log", pages=[(20, struct.pack("<II", 1, 2))])
        with pytest.raises(ValueError, match=r"^Unsupported hive version: 1\.2$"):
            open_with_logs(hive_path, log)

    @pytest.mark.parametrize("pages, message", [
        ([(0x20000000 - 1, b"\0\0")],
         "Invalid format: Dirty page 0 would extend hive beyond maximum size: 0x20000001 > 0x20000000"),
        ([sequence_page(1), (BASE + 0x1000 + 16777216, b"\0")],
         "Invalid format: Dirty page 1 would extend hive by too much: 16777217 bytes (max: 16777216)"),
    ], ids=["beyond_maximum", "too_much_growth"])
    def test_failed_replay_raises(self, hive_path, tmp_path, pages, message):
        log = log_file(tmp_path, "log", pages=pages)
        with pytest.raises(ValueError) as raised:
            open_with_logs(hive_path, log)
        assert str(raised.value) == message

    def test_short_hive(self, write_hive, tmp_path):
        path = write_hive(bytes(1000))
        log = log_file(tmp_path, "short", pages=[(0, b"regf")])
        with pytest.raises(ValueError, match=r"^Hive too small: 1000 bytes \(minimum: 4096 bytes\)$"):
            open_with_logs(path, log)
        # Pages that bring the image to 4096 bytes give a hive.
        log = log_file(tmp_path, "full", pages=[(0, HiveBuilder().sequences(5, 5).build())])
        assert primary_sequence(open_with_logs(path, log)) == 5

    def test_missing_hive(self, tmp_path):
        log = log_file(tmp_path, "log", pages=[sequence_page(1)])
        with pytest.raises(OSError) as raised:
            open_with_logs(str(tmp_path / "missing"), log)
        assert type(raised.value) is OSError
        assert str(raised.value) == "No such file or directory (os error 2)"


def test_lock_released_while_reading_logs(hive_path, tmp_path):
    # The log is a pipe: reading it blocks until this process's main thread
    # writes to it, which it can only do while open_with_logs has the lock
    # released. A subprocess, so that a hang fails the test by timeout.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    log = LogBuilder(1).block().page(4, struct.pack("<I", 77)).build()
    code = textwrap.dedent(f"""
        import threading, orvane
        result = []
        def reader():
            result.append(orvane.Hive.open_with_logs({hive_path!r}, {str(fifo)!r}))
        t = threading.Thread(target=reader)
        t.start()
        with open({str(fifo)!r}, "wb") as f:
            f.write({log!r})
        t.join()
        print(result[0].base_block().primary_sequence)
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.stdout.strip() == "77", out.stderr


class TestAppliedLogs:
    """Hive.applied_logs(): the logs from which something was applied, as the
    caller named them, in the order applied."""

    def test_signature_and_doc(self):
        assert str(inspect.signature(orvane.Hive.applied_logs)) == "(self, /)"
        assert orvane.Hive.applied_logs.__doc__ == (
            "Get the paths of the transaction logs that changed the hive when it was opened, in the order applied")

    @pytest.mark.parametrize("sequences, pages, expected", [
        ((1, 2), (True, True), ["a", "b"]),
        ((2, 1), (True, True), ["b", "a"]),  # the smaller sequence is applied first
        ((1, 1), (True, True), ["a", "b"]),
        ((1, 2), (False, True), ["b"]),  # a log without pages changed nothing
        ((1, 2), (False, False), []),
    ], ids=["in-order", "swapped", "equal", "one-empty", "both-empty"])
    def test_names_the_logs_applied(self, hive_path, tmp_path, sequences, pages, expected):
        paths = {name: log_file(tmp_path, name, sequence, [sequence_page(40 + sequence)] if has_pages else ())
                 for name, sequence, has_pages in zip("ab", sequences, pages)}
        hive = open_with_logs(hive_path, paths["a"], paths["b"])
        assert hive.applied_logs() == [paths[name] for name in expected]

    def test_unreadable_and_absent_logs_are_not_named(self, hive_path, tmp_path):
        good = log_file(tmp_path, "good", 1, [sequence_page(9)])
        (tmp_path / "junk").write_bytes(b"junk" * 2000)
        assert open_with_logs(hive_path, str(tmp_path / "misspelt"), good).applied_logs() == [good]
        assert open_with_logs(hive_path, str(tmp_path / "junk")).applied_logs() == []
        assert open_with_logs(hive_path).applied_logs() == []
        assert orvane.Hive.open(hive_path).applied_logs() == []

    def test_paths_come_back_as_given(self, hive_path, tmp_path):
        name = os.fsdecode(b"log-\xff")  # not UTF-8: a surrogate escape
        log_file(tmp_path, "plain", 1, [sequence_page(9)])
        os.rename(tmp_path / "plain", os.path.join(os.fsencode(tmp_path), b"log-\xff"))
        relative = os.path.relpath(os.path.join(str(tmp_path), name))
        assert open_with_logs(hive_path, relative).applied_logs() == [relative]
