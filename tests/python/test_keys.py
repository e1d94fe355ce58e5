"""RegistryKey and Hive.root_key: the key tree, its snapshots, timestamps,
lifetimes and threads."""

import gc
import inspect
import os
import subprocess
import sys
import textwrap
import sysconfig
import threading
import time

import pytest

import orvane
from hive_builder import BASE, NONE_OFFSET, REG_DWORD, REG_SZ, HiveBuilder, Key, Value, sz, utf16, vk_payload

KEY_METHODS = [
    ("name", "Get the key name"),
    ("subkey_count", "Get the number of subkeys"),
    ("value_count", "Get the number of values"),
    ("subkeys", "Get all subkeys"),
    ("values", "Get all values"),
    ("value", "Get a specific value by name"),
    ("last_written_timestamp", "Get the last write timestamp as Unix timestamp (seconds since epoch)"),
]


def names(keys):
    return [k.name() for k in keys]


class TestSurface:
    @pytest.mark.parametrize("method, doc", KEY_METHODS, ids=[m for m, _ in KEY_METHODS])
    def test_signature_and_doc(self, method, doc):
        function = getattr(orvane.RegistryKey, method)
        assert str(inspect.signature(function)) == ("(self, /, name)" if method == "value" else "(self, /)")
        assert function.__doc__ == doc

    def test_method_table_order(self):
        # The documented methods come first, in their order; later additions follow them.
        members = [n for n in vars(orvane.RegistryKey) if not n.startswith("_")]
        assert members[:len(KEY_METHODS)] == [m for m, _ in KEY_METHODS]

    def test_root_key_member(self):
        assert str(inspect.signature(orvane.Hive.root_key)) == "(self, /)"
        assert orvane.Hive.root_key.__doc__ == "Get the root key of the hive"
        members = [n for n in vars(orvane.Hive) if not n.startswith("_")]
        order = ["open", "open_with_logs", "base_block", "root_key", "hbins", "save", "applied_logs"]
        assert [n for n in members if n in order] == order

    def test_class_doc(self):
        doc = orvane.RegistryKey.__doc__
        head, _, sentence = doc.partition("\n\n")
        assert head == "Python wrapper for RegistryKey"
        assert "hive" in sentence and "offset" in sentence

    def test_no_attributes(self, open_tree):
        key = open_tree(Key("ROOT")).root_key()
        with pytest.raises(AttributeError):
            key.name = "other"
        with pytest.raises(AttributeError):
            key.extra = 1
        assert key.name() == "ROOT"


class TestRootKey:
    def test_snapshot_of_the_root_node(self, open_tree):
        hive = open_tree(Key("ROOT", [Value("a", REG_SZ, sz("x"))], [Key("A"), Key("B")]))
        root = hive.root_key()
        assert (root.name(), root.subkey_count(), root.value_count()) == ("ROOT", 2, 1)

    def test_each_call_gives_a_distinct_equal_object(self, open_tree):
        hive = open_tree(Key("ROOT", subkeys=[Key("A")]))
        first, second = hive.root_key(), hive.root_key()
        assert first is not second
        assert first != second  # no equality of their own
        assert (first.name(), first.subkey_count(), first.value_count()) == \
               (second.name(), second.subkey_count(), second.value_count())

    def test_root_offset_naming_a_value_record(self, open_tree):
        b = HiveBuilder()
        vk = b.vk("x" * 60, REG_SZ, 0, NONE_OFFSET)  # an 80-byte payload
        b.root(vk)
        with pytest.raises(ValueError) as raised:
            open_tree(b).root_key()
        assert str(raised.value) == f"Invalid format: Expected 'nk' signature at offset {vk:#x}"

    @pytest.mark.parametrize("offset, message", [
        (0xFFFFFFFF, "Invalid offset 0xffffffff (hive size: 0x0)"),
        (0x10000, "Invalid offset 0x10000 (hive size: 0x2000)"),
    ], ids=["none-offset", "past-the-end"])
    def test_root_offset_outside_the_image(self, open_tree, offset, message):
        b = HiveBuilder()
        b.key("ROOT")
        b.root(offset)
        with pytest.raises(ValueError) as raised:
            open_tree(b).root_key()
        assert str(raised.value) == message

    def test_a_failed_root_key_leaves_the_hive_usable(self, open_tree):
        b = HiveBuilder()
        b.key("ROOT")
        b.root(0x10000)
        hive = open_tree(b)
        for _ in range(2):  # failures are not cached: the same error again
            with pytest.raises(ValueError, match="^Invalid offset 0x10000"):
                hive.root_key()
        assert len(hive.hbins()) == 1


class TestNames:
    @pytest.mark.parametrize("name, flags, expected", [
        (b"Soft", 0x20, "Soft"),
        (utf16("Über"), 0, "Über"),
        (b"", 0, ""),
        (b"", 0x20, ""),
        # One byte per character: each byte is the code point (ISO-8859-1).
        (b"\xebigenaardig", 0x20, "\xebigenaardig"),
        (b"\xdf2", 0x20, "ß2"),
        (b"\x80\xa0\xff", 0x20, "\x80\xa0\xff"),
        (b"Caf\xc3\xa9", 0x20, "Caf\xc3\xa9"),  # bytes that look like UTF-8 are still one per character
        (b"A\xe9\0\0", 0x20, "A\xe9"),  # trailing NULs go
        (b"Soft", 0, "\u6f53\u7466"),  # the same bytes as two UTF-16 units
    ], ids=["ascii", "utf16", "empty", "empty-ascii", "e-diaeresis", "sharp-s", "high-bytes", "utf8-looking",
            "trailing-nuls", "ascii-bytes-as-utf16"])
    def test_name_decoding(self, open_tree, name, flags, expected):
        assert open_tree(Key(name, flags=flags)).root_key().name() == expected

    def test_odd_utf16_name(self, open_tree):
        b = HiveBuilder()
        b.key(b"ABCDE", flags=0)
        with pytest.raises(ValueError) as raised:
            open_tree(b).root_key()
        assert str(raised.value) == "Invalid UTF-16 string at offset 0x20"


class TestRepr:
    @pytest.mark.parametrize("tree, text", [
        (Key("Run", [Value(f"v{i}", REG_DWORD, b"\1\0\0\0") for i in range(3)]),
         "RegistryKey(name='Run', subkeys=0, values=3)"),
        (Key("Software", subkey_count=12, value_count=0), "RegistryKey(name='Software', subkeys=12, values=0)"),
        (Key("it's"), "RegistryKey(name='it's', subkeys=0, values=0)"),
        (Key("", subkey_count=0xFFFFFFFF), "RegistryKey(name='', subkeys=4294967295, values=0)"),
    ], ids=["run", "software", "quote-unescaped", "unsigned-count"])
    def test_repr_and_str(self, open_tree, tree, text):
        key = open_tree(tree).root_key()
        assert repr(key) == text
        assert str(key) == text


class TestSubkeys:
    @pytest.mark.parametrize("kind", ["li", "lf", "lh", "ri"])
    def test_each_list_kind_in_list_order(self, open_tree, kind):
        root = open_tree(Key("ROOT", subkeys=[Key(n) for n in "CAB"], list_kind=kind)).root_key()
        assert names(root.subkeys()) == ["C", "A", "B"]

    def test_nested_root_indexes_depth_first(self, open_tree):
        b = HiveBuilder()
        keys = [b.key(n) for n in "abcde"]
        inner = b.subkey_list("ri", [b.subkey_list("lh", keys[:2]), NONE_OFFSET, b.subkey_list("li", keys[2:4])])
        outer = b.subkey_list("ri", [inner, 0, b.subkey_list("lf", keys[4:])])
        b.root(b.key("ROOT", subkey_count=5, subkey_list=outer))
        assert names(open_tree(b).root_key().subkeys()) == list("abcde")

    def test_children_carry_their_own_snapshots(self, open_tree):
        tree = Key("ROOT", subkeys=[
            Key("A", [Value("x", REG_SZ, sz("1"))], [Key("A1"), Key("A2")], last_written=116444736000000000),
            Key("B"),
        ])
        a, b = open_tree(tree).root_key().subkeys()
        assert [(k.name(), k.subkey_count(), k.value_count()) for k in (a, b)] == [("A", 2, 1), ("B", 0, 0)]
        assert names(a.subkeys()) == ["A1", "A2"]
        assert a.last_written_timestamp() == 0
        assert [v.name() for v in a.values()] == ["x"]

    def test_the_list_decides_not_the_count(self, open_tree):
        b = HiveBuilder()
        kids = [b.key("x"), b.key("y")]
        b.root(b.key("ROOT", subkey_count=7, subkey_list=b.subkey_list("li", kids)))
        root = open_tree(b).root_key()
        assert root.subkey_count() == 7
        assert names(root.subkeys()) == ["x", "y"]

    def test_repeated_offsets_are_repeated(self, open_tree):
        b = HiveBuilder()
        kid = b.key("same")
        b.root(b.key("ROOT", subkey_count=2, subkey_list=b.subkey_list("li", [kid, kid])))
        first, second = open_tree(b).root_key().subkeys()
        assert first is not second and first.name() == second.name() == "same"

    @pytest.mark.parametrize("list_offset", [0xDEAD0000, 0, NONE_OFFSET, 0x20])
    def test_count_zero_reads_no_list(self, open_tree, list_offset):
        b = HiveBuilder()
        b.key("ROOT", subkey_count=0, subkey_list=list_offset)
        assert open_tree(b).root_key().subkeys() == []

    def test_unknown_list_signature(self, open_tree):
        b = HiveBuilder()
        b.root(b.key("ROOT", subkey_count=1, subkey_list=b.add_cell(b"zz\x01\x00\x20\x00\x00\x00")))
        with pytest.raises(ValueError) as raised:
            open_tree(b).root_key().subkeys()
        assert str(raised.value) == "Invalid subkey list type: [122, 122]"

    def test_list_naming_a_short_record(self, open_tree):
        b = HiveBuilder()
        vk = b.exact_cell(vk_payload("v", REG_SZ, 0, NONE_OFFSET))
        good = b.key("good")
        b.root(b.key("ROOT", subkey_count=2, subkey_list=b.subkey_list("li", [good, vk])))
        with pytest.raises(ValueError) as raised:
            open_tree(b).root_key().subkeys()
        assert str(raised.value) == f"Truncated data at offset {vk:#x}: expected 76 bytes, got 21 bytes"

    def test_self_naming_root_index_ends_in_an_error(self, open_tree):
        b = HiveBuilder()
        ri = b.add_cell(b"ri\x01\x00" + b"\0\0\0\0")
        b.raw(BASE + ri + 8, ri.to_bytes(4, "little"))
        b.root(b.key("ROOT", subkey_count=1, subkey_list=ri))
        root = open_tree(b).root_key()
        with pytest.raises(ValueError) as raised:
            root.subkeys()
        assert str(raised.value) == CYCLE_MESSAGE.format(ri)

    def test_a_failed_listing_leaves_the_key_usable(self, open_tree):
        b = HiveBuilder()
        good = b.key("good")
        b.root(b.key("ROOT", subkey_count=2, subkey_list=b.subkey_list("li", [good, 0x70000])))
        root = open_tree(b).root_key()
        with pytest.raises(ValueError, match="^Invalid offset 0x70000"):
            root.subkeys()
        assert root.name() == "ROOT" and root.values() == []


# The root-index walk reads each list at most once, which ends any cycle.
CYCLE_MESSAGE = "Invalid format: Subkey list at offset {:#x} is named more than once"


class TestLastWritten:
    @pytest.mark.parametrize("stored, expected", [
        (0, None),
        (116444736000000000, 0),
        (116444736010000000, 1),
        (116444736019999999, 1),
        (1, -11644473600),
        (9999999, -11644473600),
        (132700000000000000, 1625526400),
        (0xFFFFFFFFFFFFFFFF, 1844674407370 - 11644473600),
        (0x8000000000000000, 922337203685 - 11644473600),
    ], ids=["zero", "epoch", "one-second", "truncated-down", "one-interval", "just-under-a-second", "2021",
            "u64-max", "bit-63"])
    def test_conversion(self, open_tree, stored, expected):
        assert open_tree(Key("ROOT", last_written=stored)).root_key().last_written_timestamp() == expected

    def test_read_from_the_node(self, corpus_dir):
        hive = orvane.Hive.open(str(corpus_dir / "BCD"))
        assert hive.root_key().last_written_timestamp() == 1628475210


class TestLifetime:
    @staticmethod
    def mapped(path):
        with open("/proc/self/maps") as maps:
            return any(line.rstrip().removesuffix(" (deleted)").endswith(str(path)) for line in maps)

    def test_a_key_keeps_its_hive_loaded(self, open_tree, tmp_path):
        hive = open_tree(Key("ROOT", [Value("v", REG_SZ, sz("kept"))], [Key("child")]))
        path = next(tmp_path.iterdir())
        root = hive.root_key()
        del hive
        gc.collect()
        path.unlink()  # the mapping, not the file, holds the image
        assert self.mapped(path)
        assert names(root.subkeys()) == ["child"]
        assert root.value("v").data().as_string() == "kept"
        child = root.subkeys()[0]
        del root
        gc.collect()
        assert self.mapped(path)
        assert child.name() == "child"
        del child
        gc.collect()
        assert not self.mapped(path)  # the last key released the image

    def test_values_outlive_everything(self, open_tree, tmp_path):
        hive = open_tree(Key("ROOT", [Value("v", REG_SZ, sz("owned")), Value("d", REG_DWORD, b"\7\0\0\0")]))
        path = next(tmp_path.iterdir())
        root = hive.root_key()
        values = root.values()
        value = root.value("d")
        del hive, root
        gc.collect()
        assert not self.mapped(path)
        assert [v.data().__str__() for v in values] == ["owned", "7 (0x00000007)"]
        assert (value.name(), value.raw_data(), value.value_type().type_name()) == ("d", b"\7\0\0\0", "REG_DWORD")

    def test_no_reference_leak_per_call(self, open_tree):
        root = open_tree(Key("ROOT", [Value("v", REG_SZ, sz("x"))], [Key("a"), Key("b")])).root_key()
        for _ in range(10):
            root.subkeys(), root.values(), root.value("v")
        before = sys.getrefcount(root), sys.getrefcount(orvane.RegistryKey)
        for _ in range(100):
            root.subkeys(), root.values(), root.value("v"), root.last_written_timestamp()
        assert (sys.getrefcount(root), sys.getrefcount(orvane.RegistryKey)) == before


def walk(key, out, depth=0):
    """Every key and value below `key`, as plain data."""
    out.append((depth, key.name(), key.subkey_count(), key.value_count(), key.last_written_timestamp()))
    for value in key.values():
        out.append((value.name(), value.value_type().type_id(), value.raw_data()))
    for subkey in key.subkeys():
        walk(subkey, out, depth + 1)
    return out


class TestThreads:
    def test_threads_walking_one_hive_agree(self, corpus_dir):
        hive = orvane.Hive.open(str(corpus_dir / "NTUSER.DAT"))
        results, errors = [None] * 4, []

        def run(i):
            try:
                results[i] = walk(hive.root_key(), [])
            except BaseException as error:  # reported below
                errors.append(error)

        threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert errors == []
        assert all(r == results[0] for r in results)
        assert sum(1 for row in results[0] if isinstance(row[0], int)) == 1812

    @pytest.mark.parametrize("call", ["subkeys", "values", "value"])
    def test_the_lock_is_released(self, open_tree, call):
        # With a long switch interval the caller is never made to hand the lock
        # over; the spinner, which sleeps between ticks, can then only tick
        # while the call runs unlocked.
        b = HiveBuilder()
        if call == "subkeys":
            kids = [b.key(f"k{i}") for i in range(20000)]
            b.root(b.key("ROOT", subkey_count=len(kids), subkey_list=b.subkey_list("li", kids)))
        else:
            data = b.data_cell(bytes(16000))
            vks = [b.vk(f"v{i}", 3, 16000, data) for i in range(3000)]
            vks.append(b.value("last", 3, bytes(16000000)))
            b.root(b.key("ROOT", value_count=len(vks), value_list=b.value_list(vks)))
        key = open_tree(b).root_key()
        work = {"subkeys": key.subkeys, "values": key.values, "value": lambda: key.value("LAST")}[call]

        ticks, stop = [0], threading.Event()

        def spin():
            while not stop.is_set():
                ticks[0] += 1
                time.sleep(1e-5)  # hands the lock back to the caller at once

        interval = sys.getswitchinterval()
        spinner = threading.Thread(target=spin)
        spinner.start()
        sys.setswitchinterval(100)
        try:
            # The spinner only ticks while the call has the lock released, so
            # trying again cannot pass a call that keeps it; on a loaded
            # machine the spinner may just not be scheduled during one call.
            during = []
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline:
                before = ticks[0]
                work()
                during.append(ticks[0] - before)
                if during[-1] > 0:
                    break
        finally:
            sys.setswitchinterval(interval)
            stop.set()
            spinner.join()
        assert max(during) > 0, during


class TestInternalFailure:
    @pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                        reason="AddressSanitizer's shadow memory does not fit under an address-space limit")
    @pytest.mark.skipif(bool(sysconfig.get_config_var("Py_GIL_DISABLED")),
                        reason="the free-threaded interpreter allocates through its own mimalloc heaps, "
                               "so the address-space limit does not fail where this test expects")
    def test_out_of_memory_is_memory_error_and_the_hive_stays_usable(self, tmp_path):
        # 200,000 subkeys with short names. The address-space limit leaves
        # room for a list of 200,000 keys (8-10 MiB) but not for their
        # decoded nodes (about 30 MiB), so the walk runs out of memory while
        # it fills the key cache; a tighter limit would fail before any node
        # is cached. That is MemoryError (an Exception), and once memory is
        # back every method works again: running out never poisons the cache.
        b = HiveBuilder()
        kids = [b.key(f"k{i}") for i in range(200_000)]
        leaves = [b.subkey_list("li", kids[i:i + 50_000]) for i in range(0, len(kids), 50_000)]
        b.root(b.key("ROOT", subkey_count=len(kids), subkey_list=b.subkey_list("ri", leaves)))
        path = b.write(tmp_path / "many")
        code = textwrap.dedent(f"""
            import resource, orvane
            hive = orvane.Hive.open({path!r})
            root = hive.root_key()
            with open("/proc/self/statm") as f:
                used = int(f.read().split()[0]) * resource.getpagesize()
            resource.setrlimit(resource.RLIMIT_AS, (used + 14 * 1024 * 1024, resource.RLIM_INFINITY))
            def show(call):
                try:
                    call()
                    print("no failure")
                except BaseException as error:
                    print(type(error).__name__, isinstance(error, Exception), str(error))
            show(root.subkeys)
            resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
            for call in (root.subkeys, root.values, lambda: root.value("k7"), hive.root_key,
                         root.last_written_timestamp):
                show(call)
            print(len(root.subkeys()))
            print(root)
        """)
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
        assert out.stdout.splitlines()[:7] == [
            "MemoryError True ",
            "no failure",
            "no failure",
            "ValueError True Not found: Value 'k7'",
            "no failure",
            "no failure",
            "200000",
        ], out.stderr
        # The snapshot needs no hive work and still answers.
        assert out.stdout.splitlines()[7].startswith("RegistryKey(name='ROOT', subkeys=200000, values=0)")
