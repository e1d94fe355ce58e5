"""Hive.save: arguments, the bytes written, and replacing the target safely."""

import inspect
import os
import pathlib
import stat
import struct
import subprocess
import sys
import textwrap

import pytest

import orvane
from hive_builder import BASE, HiveBuilder, checksum, stored_checksum
from log_builder import LogBuilder


def built(bins=1, sequence=1):
    builder = HiveBuilder().sequences(sequence, sequence)
    for _ in range(bins):
        builder.add_hbin()
    return builder.build()


@pytest.fixture
def hive(write_hive):
    return orvane.Hive.open(write_hive(built(bins=2), "source"))


def leftovers(directory, *expected):
    """Entries of `directory` other than `expected`: temporary files left behind."""
    return sorted(set(os.listdir(directory)) - set(expected))


class TestArguments:
    def test_signature_and_doc(self):
        assert orvane.Hive.save.__text_signature__ == "($self, path)"
        assert str(inspect.signature(orvane.Hive.save)) == "(self, /, path)"
        assert orvane.Hive.save.__doc__ == "Save the hive to a file"

    @pytest.mark.parametrize("value, type_name", [
        (b"out", "bytes"), (pathlib.Path("out"), "PosixPath"), (None, "NoneType"), (3, "int"),
    ], ids=["bytes", "path", "none", "int"])
    def test_wrong_type_names_the_parameter(self, hive, tmp_path, value, type_name):
        with pytest.raises(TypeError) as raised:
            hive.save(value)
        assert str(raised.value) == f"Hive.save() argument 'path' must be str, not {type_name}"

    @pytest.mark.parametrize("args, kwargs, message", [
        ((), {}, "Hive.save() missing 1 required positional argument: 'path'"),
        (("a", "b"), {}, "Hive.save() takes 1 positional argument but 2 were given"),
        ((), {"target": "a"}, "Hive.save() got an unexpected keyword argument 'target'"),
    ], ids=["missing", "surplus", "unknown"])
    def test_argument_count(self, hive, args, kwargs, message):
        with pytest.raises(TypeError) as raised:
            hive.save(*args, **kwargs)
        assert str(raised.value) == message

    def test_keyword(self, hive, tmp_path):
        assert hive.save(path=str(tmp_path / "out")) is None
        assert (tmp_path / "out").exists()


class TestWritten:
    def test_mapped_hive_is_written_byte_for_byte(self, hive, tmp_path):
        hive.save(str(tmp_path / "out"))
        assert (tmp_path / "out").read_bytes() == (tmp_path / "source").read_bytes()

    def test_replayed_hive_is_written_with_its_new_checksum(self, write_hive, tmp_path):
        path = write_hive(built(), "hive")
        log = LogBuilder().block().page(4, struct.pack("<I", 99)).page(BASE + 100, b"xyz").write(tmp_path / "log")
        replayed = orvane.Hive.open_with_logs(path, log)
        replayed.save(str(tmp_path / "out"))
        image = bytearray(built())
        image[4:8] = struct.pack("<I", 99)
        image[BASE + 100:BASE + 103] = b"xyz"
        image[508:512] = struct.pack("<I", stored_checksum(image))
        assert (tmp_path / "out").read_bytes() == bytes(image)
        assert orvane.Hive.open(str(tmp_path / "out")).base_block().primary_sequence == 99

    def test_saving_twice_writes_identical_files(self, hive, tmp_path):
        hive.save(str(tmp_path / "a"))
        hive.save(str(tmp_path / "b"))
        assert (tmp_path / "a").read_bytes() == (tmp_path / "b").read_bytes()

    def test_save_over_a_longer_file(self, hive, tmp_path):
        target = tmp_path / "out"
        target.write_bytes(b"\xee" * 100_000)
        hive.save(str(target))
        assert target.read_bytes() == (tmp_path / "source").read_bytes()
        assert leftovers(tmp_path, "source", "out") == []

    def test_hive_stays_usable(self, hive, tmp_path):
        hive.save(str(tmp_path / "out"))
        assert len(hive.hbins()) == 2
        assert repr(orvane.Hive.open(str(tmp_path / "out"))) == repr(hive)

    @pytest.mark.parametrize("mask", [0o022, 0o077, 0o000], ids=["022", "077", "000"])
    def test_new_file_gets_0666_less_the_umask(self, hive, tmp_path, mask):
        previous = os.umask(mask)
        try:
            hive.save(str(tmp_path / "fresh"))
        finally:
            os.umask(previous)
        assert stat.S_IMODE(os.stat(tmp_path / "fresh").st_mode) == 0o666 & ~mask

    @pytest.mark.parametrize("mode", [0o600, 0o640, 0o400, 0o664], ids=["600", "640", "400", "664"])
    def test_replaced_file_keeps_its_mode_and_owner(self, hive, tmp_path, mode):
        existing = tmp_path / "existing"
        existing.write_bytes(b"old")
        existing.chmod(mode)
        before = os.stat(existing)
        previous = os.umask(0o022)
        try:
            hive.save(str(existing))
        finally:
            os.umask(previous)
        after = os.stat(existing)
        assert after.st_ino != before.st_ino  # replaced, not rewritten
        assert stat.S_IMODE(after.st_mode) == mode
        assert (after.st_uid, after.st_gid) == (before.st_uid, before.st_gid)
        assert existing.read_bytes()[:4] == b"regf"

    def test_link_target_keeps_its_mode(self, hive, tmp_path):
        (tmp_path / "real").write_bytes(b"old")
        (tmp_path / "real").chmod(0o600)
        (tmp_path / "link").symlink_to("real")
        hive.save(str(tmp_path / "link"))
        assert stat.S_IMODE(os.stat(tmp_path / "real").st_mode) == 0o600

    def test_symbolic_link_target(self, hive, tmp_path):
        real = tmp_path / "real"
        real.mkdir()
        (real / "hive").write_bytes(b"old")
        (tmp_path / "link").symlink_to("real/hive")
        (tmp_path / "dangling").symlink_to("real/new")
        hive.save(str(tmp_path / "link"))
        hive.save(str(tmp_path / "dangling"))
        source = (tmp_path / "source").read_bytes()
        assert (tmp_path / "link").is_symlink() and (tmp_path / "dangling").is_symlink()
        assert (real / "hive").read_bytes() == source
        assert (real / "new").read_bytes() == source
        assert leftovers(real, "hive", "new") == []


class TestFailures:
    @pytest.mark.parametrize("target, message", [
        ("missing/out", "No such file or directory (os error 2)"),
        ("old/out", "Not a directory (os error 20)"),
        ("directory", "Is a directory (os error 21)"),
    ], ids=["missing_directory", "parent_is_a_file", "target_is_a_directory"])
    def test_old_file_kept_and_nothing_left(self, hive, tmp_path, target, message):
        (tmp_path / "old").write_bytes(b"old")
        (tmp_path / "directory").mkdir()
        with pytest.raises(OSError) as raised:
            hive.save(str(tmp_path / target))
        assert type(raised.value) is OSError
        assert str(raised.value) == message
        assert (tmp_path / "old").read_bytes() == b"old"
        assert leftovers(tmp_path, "source", "old", "directory") == []
        assert os.listdir(tmp_path / "directory") == []

    @pytest.mark.skipif(os.geteuid() == 0, reason="root writes into read-only directories")
    def test_read_only_directory(self, hive, tmp_path):
        directory = tmp_path / "ro"
        directory.mkdir()
        (directory / "old").write_bytes(b"old")
        directory.chmod(0o500)
        try:
            with pytest.raises(OSError, match=r"^Permission denied \(os error 13\)$"):
                hive.save(str(directory / "old"))
        finally:
            directory.chmod(0o700)
        assert (directory / "old").read_bytes() == b"old"
        assert os.listdir(directory) == ["old"]

    def test_write_failing_midway(self, write_hive, tmp_path):
        # The file size limit stops the write after the base block; the old
        # file stays whole. In a subprocess: the limit is process-wide.
        source = write_hive(built(bins=4), "source")
        target = tmp_path / "old"
        target.write_bytes(b"old")
        code = textwrap.dedent(f"""
            import resource, signal, orvane
            hive = orvane.Hive.open({source!r})
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (6000, 6000))
            try:
                hive.save({str(target)!r})
            except OSError as e:
                print(e)
        """)
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
        assert out.stdout.strip() == "File too large (os error 27)", out.stderr
        assert target.read_bytes() == b"old"
        assert leftovers(tmp_path, "source", "old") == []

    def test_device_is_written_in_place(self, hive):
        with pytest.raises(OSError, match=r"^No space left on device \(os error 28\)$"):
            hive.save("/dev/full")
        hive.save("/dev/null")
        assert stat.S_ISCHR(os.stat("/dev/null").st_mode)


def run(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60)


def test_save_over_an_open_hive(write_hive, tmp_path):
    # The open hive maps its file. Saving a smaller hive to that path replaces
    # the file rather than truncating it, so the open hive keeps reading its
    # own pages. A subprocess, so that a SIGBUS fails this test only.
    path = write_hive(built(bins=8, sequence=3), "hive")
    small = write_hive(built(bins=0, sequence=4), "small")
    out = run(f"""
        import orvane
        old = orvane.Hive.open({path!r})
        orvane.Hive.open({small!r}).save({path!r})
        old.save({path!r} + ".again")
        print(len(old.hbins()), orvane.Hive.open({path!r}).base_block().primary_sequence)
    """)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["8", "4"]
    assert pathlib.Path(path + ".again").read_bytes() == built(bins=8, sequence=3)
    assert leftovers(tmp_path, "hive", "small", "hive.again") == []


def test_save_over_its_own_file(write_hive, tmp_path):
    path = write_hive(built(bins=3), "hive")
    out = run(f"""
        import orvane
        hive = orvane.Hive.open({path!r})
        hive.save({path!r})
        print(len(hive.hbins()), len(orvane.Hive.open({path!r}).hbins()))
    """)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["3", "3"]
    assert pathlib.Path(path).read_bytes() == built(bins=3)


def test_lock_released_while_saving(hive, tmp_path):
    # Saving to a pipe blocks in open until the main thread opens the pipe for
    # reading, which it can only do while save has the lock released.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    out = run(f"""
        import threading, orvane
        hive = orvane.Hive.open({str(tmp_path / "source")!r})
        t = threading.Thread(target=hive.save, args=({str(fifo)!r},))
        t.start()
        with open({str(fifo)!r}, "rb") as f:
            data = f.read()
        t.join()
        print(len(data))
    """)
    assert out.stdout.strip() == str(BASE + 2 * 4096), out.stderr
