"""Hive, BaseBlock and HbinHeader from Python."""

import os
import struct
import subprocess
import sys
import textwrap
import threading

import pytest

import orvane
from hive_builder import BASE, HiveBuilder, checksum, utf16


def open_built(write_hive, builder):
    return orvane.Hive.open(write_hive(builder))


class TestOpenErrors:
    @pytest.mark.parametrize("content, message", [
        (b"", "Hive too small: 0 bytes (minimum: 4096 bytes)"),
        (bytes(100), "Hive too small: 100 bytes (minimum: 4096 bytes)"),
        (bytes(4095), "Hive too small: 4095 bytes (minimum: 4096 bytes)"),
        (b"abcd" + bytes(4092), 'Invalid signature: expected "regf", found "abcd"'),
        (bytes(4096), 'Invalid signature: expected "regf", found "\\0\\0\\0\\0"'),
        (b"\xff" * 4096, 'Invalid signature: expected "regf", found "\ufffd\ufffd\ufffd\ufffd"'),
        (HiveBuilder().version(1, 2).build(), "Unsupported hive version: 1.2"),
        (HiveBuilder().version(1, 7).build(), "Unsupported hive version: 1.7"),
    ], ids=["empty", "100", "4095", "abcd", "zeros", "ff", "v1.2", "v1.7"])
    def test_value_errors(self, write_hive, content, message):
        with pytest.raises(ValueError) as raised:
            orvane.Hive.open(write_hive(content))
        assert str(raised.value) == message
        assert type(raised.value) is ValueError

    def test_checksum_mismatch(self, write_hive):
        data = bytearray(HiveBuilder().build())
        stored = struct.unpack_from("<I", data, 508)[0]
        struct.pack_into("<I", data, 508, 0x1234)
        with pytest.raises(ValueError, match=rf"^Checksum mismatch: expected 0x1234, calculated {stored:#x}$"):
            orvane.Hive.open(write_hive(bytes(data)))

    @pytest.mark.parametrize("xor, stored, loads", [
        (0, 1, True), (0xFFFFFFFF, 0xFFFFFFFE, True),  # as Windows stores them
        (0, 0, True), (0xFFFFFFFF, 0xFFFFFFFF, True),  # the plain XOR
        (0, 2, False), (1, 0, False), (0xFFFFFFFE, 0xFFFFFFFF, False),
    ], ids=["0-as-1", "ffffffff-as-fffffffe", "0", "ffffffff", "0-as-2", "1-as-0", "fffffffe-as-ffffffff"])
    def test_checksum_forms(self, write_hive, xor, stored, loads):
        data = bytearray(HiveBuilder().build())
        struct.pack_into("<I", data, 112, 0)
        struct.pack_into("<I", data, 112, checksum(data) ^ xor)
        struct.pack_into("<I", data, 508, stored)
        if loads:
            assert orvane.Hive.open(write_hive(bytes(data))).base_block().primary_sequence == 1
        else:
            with pytest.raises(ValueError) as raised:
                orvane.Hive.open(write_hive(bytes(data)))
            assert str(raised.value) == f"Checksum mismatch: expected {stored:#x}, calculated {xor:#x}"

    def test_missing_file_is_oserror_without_errno(self, tmp_path):
        with pytest.raises(OSError) as raised:
            orvane.Hive.open(str(tmp_path / "missing"))
        assert type(raised.value) is OSError
        assert str(raised.value) == "No such file or directory (os error 2)"
        assert raised.value.errno is None

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")
    def test_unreadable_file(self, write_hive):
        path = write_hive(HiveBuilder())
        os.chmod(path, 0)
        with pytest.raises(OSError, match=r"Permission denied \(os error 13\)"):
            orvane.Hive.open(path)

    def test_directory(self, tmp_path):
        with pytest.raises(OSError):
            orvane.Hive.open(str(tmp_path))

    def test_embedded_nul(self, write_hive):
        with pytest.raises(OSError, match="^file name contained an unexpected NUL byte$"):
            orvane.Hive.open(write_hive(HiveBuilder()) + "\0x")

    def test_file_named_with_byte_0xff(self, tmp_path):
        # os.listdir gives such a name with a surrogate escape; that str must
        # name the same file again, for every method that takes a path.
        directory = os.fsencode(tmp_path)
        with open(os.path.join(directory, b"hive-\xff"), "wb") as f:
            f.write(HiveBuilder().build())
        (name,) = os.listdir(tmp_path)
        assert name == "hive-\udcff"
        path = os.path.join(str(tmp_path), name)
        assert orvane.Hive.open(path).base_block().file_name == "SYSTEM"
        hive = orvane.Hive.open_with_logs(path, path, path)  # not logs: left out
        hive.save(os.path.join(str(tmp_path), "saved-\udcfe"))
        assert os.path.exists(os.path.join(directory, b"saved-\xfe"))

    def test_lone_surrogate_that_no_file_has_is_not_found(self, tmp_path):
        with pytest.raises(OSError, match=r"^No such file or directory \(os error 2\)$"):
            orvane.Hive.open(str(tmp_path / "\udcff"))

    def test_failing_open_leaves_nothing_open(self, tmp_path):
        before = len(os.listdir("/proc/self/fd"))
        for _ in range(50):
            with pytest.raises(OSError):
                orvane.Hive.open(str(tmp_path / "missing"))
        assert len(os.listdir("/proc/self/fd")) == before


class TestBaseBlock:
    def test_repr_and_properties(self, write_hive):
        hive = open_built(write_hive, HiveBuilder().root(0x20).u32(40, 0x1000).sequences(5, 4))
        block = hive.base_block()
        assert repr(hive) == "Hive(root_offset=0x20, hive_length=0x1000)"
        assert repr(block) == "BaseBlock(signature=regf, root_offset=0x20, hive_length=0x1000)"
        assert (block.signature, block.primary_sequence, block.secondary_sequence) == ("regf", 5, 4)
        assert block.root_cell_offset == 0x20
        assert block.hive_length == block.hive_bins_data_size == 0x1000
        assert block.file_name == "SYSTEM"

    @pytest.mark.parametrize("value", [0, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF])
    def test_unsigned_values_stay_positive(self, write_hive, value):
        b = HiveBuilder().u32(4, value).u32(8, value).root(value).u32(40, value)
        block = open_built(write_hive, b).base_block()
        assert block.primary_sequence == block.secondary_sequence == value
        assert block.root_cell_offset == block.hive_length == block.hive_bins_data_size == value

    @pytest.mark.parametrize("field, expected", [
        (utf16("SYSTEM"), "SYSTEM"),
        (utf16("\\Microsoft\\Windows\\UsrClass.dat"), "\\Microsoft\\Windows\\UsrClass.dat"),
        (utf16("\\??\\C:\\Users\\Zoë\\NTUSER.DAT"), "\\??\\C:\\Users\\Zoë\\NTUSER.DAT"),
        (utf16("€ 😀"), "€ 😀"),
        (utf16("A") + b"\0\0" + utf16("B"), "A"),  # up to the first U+0000
        (utf16("x" * 32), "x" * 32),  # no U+0000: all 64 bytes
        (b"\x00\xd8" + utf16("x"), "\ufffdx"),  # an unpaired surrogate
        (bytes(64), ""),
    ], ids=["ascii", "usrclass", "non-ascii", "astral", "nul-ends", "no-nul", "lone-surrogate", "zeros"])
    def test_file_name_is_utf16(self, write_hive, field, expected):
        b = HiveBuilder().raw(48, bytes(64)).raw(48, field)
        assert open_built(write_hive, b).base_block().file_name == expected

    def test_distinct_snapshots_that_outlive_the_hive(self, write_hive):
        hive = open_built(write_hive, HiveBuilder())
        first, second = hive.base_block(), hive.base_block()
        assert first is not second
        del hive
        assert repr(first) == repr(second)
        assert first.file_name == second.file_name == "SYSTEM"

    @pytest.mark.parametrize("name", ["signature", "primary_sequence", "secondary_sequence", "root_cell_offset",
                                      "hive_length", "file_name", "hive_bins_data_size"])
    def test_properties_are_read_only(self, write_hive, name):
        block = open_built(write_hive, HiveBuilder()).base_block()
        with pytest.raises(AttributeError):
            setattr(block, name, 1)
        assert not hasattr(block, "__dict__")

    @pytest.mark.parametrize("name, doc", [
        ("signature", 'Get the signature (should be "regf")'),
        ("primary_sequence", "Get the primary sequence number"),
        ("secondary_sequence", "Get the secondary sequence number"),
        ("root_cell_offset", "Get the root cell offset"),
        ("hive_length", "Get the hive length (size of hive data in bytes)"),
        ("file_name", "Get the file name"),
        ("hive_bins_data_size", "Get the hive bins data size (same as hive_length)"),
    ])
    def test_property_docs(self, name, doc):
        assert getattr(orvane.BaseBlock, name).__doc__ == doc


class TestHbins:
    def test_headers_in_file_order(self, write_hive):
        b = HiveBuilder()
        b.add_hbin(4096)
        b.add_hbin(8192)
        bins = open_built(write_hive, b).hbins()
        assert [(h.offset, h.size, h.signature) for h in bins] == [(0, 4096, "hbin"), (4096, 8192, "hbin")]
        assert repr(bins[0]) == "HbinHeader(offset=0x0, size=0x1000)"
        assert repr(bins[1]) == "HbinHeader(offset=0x1000, size=0x2000)"

    def test_no_bins_gives_an_empty_list(self, write_hive):
        assert open_built(write_hive, HiveBuilder()).hbins() == []

    @pytest.mark.parametrize("tail, outcome", [
        (20, "Truncated data at offset 0x1000: expected 32 bytes, got 20 bytes"),
        (32, 1),
        (4096, 1),
    ])
    def test_trailing_bytes(self, write_hive, tail, outcome):
        b = HiveBuilder()
        b.add_hbin()
        b.raw(len(b.image), bytes(tail))
        hive = open_built(write_hive, b)
        if isinstance(outcome, str):
            with pytest.raises(ValueError, match=rf"^{outcome}$"):
                hive.hbins()
        else:
            assert len(hive.hbins()) == outcome

    def test_offset_mismatch(self, write_hive):
        b = HiveBuilder()
        b.add_hbin(offset_field=0x10)
        with pytest.raises(ValueError, match=r"^Invalid format: Hbin offset mismatch: expected 0x0, found 0x10$"):
            open_built(write_hive, b).hbins()

    def test_zero_sized_bin_ends_the_list(self, write_hive):
        b = HiveBuilder()
        b.add_hbin()
        second = b.add_hbin()
        b.u32(BASE + second + 8, 0)
        assert [(h.offset, h.size) for h in open_built(write_hive, b).hbins()] == [(0, 4096), (4096, 0)]

    def test_headers_outlive_the_hive_and_are_read_only(self, write_hive):
        b = HiveBuilder()
        b.add_hbin()
        header = open_built(write_hive, b).hbins()[0]
        assert (header.offset, header.size) == (0, 4096)
        with pytest.raises(AttributeError):
            header.size = 1

    @pytest.mark.parametrize("name, doc", [
        ("signature", 'Get the signature (should be "hbin")'),
        ("offset", "Get the offset from the start of the hive bins data"),
        ("size", "Get the size of this hbin"),
    ])
    def test_property_docs(self, name, doc):
        assert getattr(orvane.HbinHeader, name).__doc__ == doc

    def test_corpus_hbins_add_up_to_the_data_size(self, corpus_dir):
        for path in sorted(corpus_dir.iterdir()):
            if ".LOG" in path.name:
                continue
            hive = orvane.Hive.open(str(path))
            bins = hive.hbins()
            assert bins, path.name
            assert sum(h.size for h in bins) == hive.base_block().hive_bins_data_size, path.name


class TestInterpreterLock:
    def test_open_releases_the_lock(self, tmp_path):
        # Opening a FIFO blocks until a writer comes; only another Python
        # thread can be that writer, so this finishes only if the lock is free.
        fifo = tmp_path / "fifo"
        os.mkfifo(fifo)
        code = textwrap.dedent(f"""
            import threading, orvane
            result = []
            def reader():
                try:
                    orvane.Hive.open({str(fifo)!r})
                except ValueError as e:
                    result.append(str(e))
            t = threading.Thread(target=reader)
            t.start()
            with open({str(fifo)!r}, "wb"):
                pass
            t.join()
            print(result[0])
        """)
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
        assert out.stdout.strip() == "Hive too small: 0 bytes (minimum: 4096 bytes)", out.stderr

    def test_hbins_releases_the_lock(self, write_hive):
        # A million 32-byte bins make a walk long enough to see another thread run.
        count = 1_000_000
        image = bytearray(HiveBuilder().build())
        bins = bytearray(32 * count)
        for i in range(count):
            struct.pack_into("<4sII", bins, 32 * i, b"hbin", 32 * i, 32)
        hive = orvane.Hive.open(write_hive(bytes(image + bins)))

        ticks, stop = [0], threading.Event()

        def spin():
            while not stop.is_set():
                ticks[0] += 1

        spinner = threading.Thread(target=spin)
        spinner.start()
        try:
            during = []
            for _ in range(3):
                before = ticks[0]
                walked = hive.hbins()
                during.append(ticks[0] - before)
            assert len(walked) == count
        finally:
            stop.set()
            spinner.join()
        assert max(during) > 1000, during


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's shadow memory does not fit under an address-space limit")
def test_out_of_memory_in_hbins_is_a_memory_error_not_a_crash(write_hive):
    # A million bins need 40 MB of headers; under a tighter address-space limit
    # the walk's allocation fails, which must surface as MemoryError.
    count = 1_000_000
    bins = bytearray(32 * count)
    for i in range(count):
        struct.pack_into("<4sII", bins, 32 * i, b"hbin", 32 * i, 32)
    path = write_hive(HiveBuilder().build() + bytes(bins))
    code = textwrap.dedent(f"""
        import resource, orvane
        hive = orvane.Hive.open({path!r})
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 16 * 1024 * 1024, resource.RLIM_INFINITY))
        try:
            hive.hbins()
            print("no failure")
        except BaseException as error:
            print(type(error).__name__, isinstance(error, Exception), error)
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
        print(len(hive.hbins()))
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.stdout.splitlines() == ["MemoryError True ", str(count)], out.stderr
