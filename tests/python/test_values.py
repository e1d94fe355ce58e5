"""RegistryKey.value/values and RegistryValue: lookup, data placement,
damaged records, snapshots and internal failures."""

import inspect
import os
import struct
import subprocess
import sys
import textwrap

import pytest

import orvane
from hive_builder import (BASE, LARGEST_SINGLE_CELL, NONE_OFFSET, REG_BINARY, REG_DWORD, REG_QWORD, REG_SZ,
                          HiveBuilder, Key, Value, sz, utf16, vk_payload)

VALUE_METHODS = [
    ("name", "Get the value name"),
    ("value_type", "Get the value type"),
    ("data", "Get the parsed value data"),
    ("raw_data", "Get the raw value data as bytes"),
    ("data_size", "Get the data size in bytes"),
]


def key_with(*values, **fields):
    """A hive whose root key holds these value records (offsets from `values(b)`)."""
    b = HiveBuilder()
    offsets = [v(b) if callable(v) else v.write(b) for v in values]
    b.root(b.key("ROOT", value_count=len(offsets), value_list=b.value_list(offsets), **fields))
    return b


class TestSurface:
    @pytest.mark.parametrize("method, doc", VALUE_METHODS, ids=[m for m, _ in VALUE_METHODS])
    def test_signature_and_doc(self, method, doc):
        function = getattr(orvane.RegistryValue, method)
        assert str(inspect.signature(function)) == "(self, /)"
        assert function.__doc__ == doc

    def test_method_table_order(self):
        # The documented methods come first, in their order; later additions follow them.
        members = [n for n in vars(orvane.RegistryValue) if not n.startswith("_")]
        assert members[:len(VALUE_METHODS)] == [m for m, _ in VALUE_METHODS]

    def test_class_doc(self):
        head, _, sentence = orvane.RegistryValue.__doc__.partition("\n\n")
        assert head == "Python wrapper for RegistryValue"
        assert "owned" in sentence

    @pytest.mark.parametrize("name, text", [
        ("", "RegistryValue(name='(default)')"),
        ("Path", "RegistryValue(name='Path')"),
        ("it's", "RegistryValue(name='it's')"),
    ], ids=["default", "plain", "quote-unescaped"])
    def test_repr_and_str(self, open_tree, name, text):
        value = open_tree(Key("ROOT", [Value(name, REG_SZ, sz("x"))])).root_key().values()[0]
        assert repr(value) == text
        assert str(value) == text


LOOKUP_VALUES = [
    Value("", REG_SZ, sz("default")),
    Value("SOFTWARE", REG_SZ, sz("upper")),
    Value("Ärger", REG_SZ, sz("umlaut")),
    Value("dup", REG_SZ, sz("first")),
    Value("DUP", REG_SZ, sz("second")),
    Value("(Default)", REG_SZ, sz("named like the default")),
]


@pytest.fixture(scope="module")
def lookup_key(tmp_path_factory):
    b = HiveBuilder()
    b.tree(Key("ROOT", LOOKUP_VALUES))
    path = tmp_path_factory.mktemp("lookup") / "hive"
    b.write(path)
    return orvane.Hive.open(str(path)).root_key()


class TestLookup:
    @pytest.fixture
    def key(self, lookup_key):
        return lookup_key

    @pytest.mark.parametrize("query, stored, text", [
        ("(DEFAULT)", "(default)", "default"),
        ("(default)", "(default)", "default"),
        ("software", "SOFTWARE", "upper"),
        ("SoFtWaRe", "SOFTWARE", "upper"),
        ("Ärger", "Ärger", "umlaut"),
        ("ärGER", None, None),  # only A-Z fold
        ("dup", "dup", "first"),
        ("DUP", "dup", "first"),  # the first in list order wins
        ("", None, None),  # the default value has no empty name
        ("software ", None, None),
        ("soft", None, None),
    ], ids=["default-upper", "default", "lower", "mixed", "non-ascii-exact", "non-ascii-folded", "dup-first",
            "dup-case", "empty", "trailing-space", "prefix"])
    def test_ascii_case_folding(self, key, query, stored, text):
        if stored is None:
            with pytest.raises(ValueError) as raised:
                key.value(query)
            assert str(raised.value) == f"Not found: Value '{query}'"
        else:
            value = key.value(query)
            assert value.name() == stored  # as stored, not as asked
            assert value.data().as_string() == text

    def test_keyword_argument(self, key):
        assert key.value(name="software").name() == "SOFTWARE"

    @pytest.mark.parametrize("args, kwargs, message", [
        ((), {}, "RegistryKey.value() missing 1 required positional argument: 'name'"),
        ((1,), {}, "RegistryKey.value() argument 'name' must be str, not int"),
        ((b"dup",), {}, "RegistryKey.value() argument 'name' must be str, not bytes"),
        ((None,), {}, "RegistryKey.value() argument 'name' must be str, not NoneType"),
        (("a", "b"), {}, "RegistryKey.value() takes 1 positional argument but 2 were given"),
        ((), {"nom": "a"}, "RegistryKey.value() got an unexpected keyword argument 'nom'"),
        (("a",), {"name": "a"}, "RegistryKey.value() got multiple values for argument 'name'"),
    ], ids=["missing", "int", "bytes", "none", "surplus", "unknown-keyword", "duplicate"])
    def test_argument_errors(self, key, args, kwargs, message):
        with pytest.raises(TypeError) as raised:
            key.value(*args, **kwargs)
        assert str(raised.value) == message

    def test_lone_surrogate_is_refused(self, key):
        with pytest.raises(UnicodeEncodeError):
            key.value("\ud800")

    def test_values_lists_all_in_order(self, key):
        assert [(v.name(), v.data().as_string()) for v in key.values()] == [
            ("(default)", "default"), ("SOFTWARE", "upper"), ("Ärger", "umlaut"), ("dup", "first"),
            ("DUP", "second"), ("(Default)", "named like the default")]


class TestOneByteNames:
    """Names stored one byte per character (flag 0x0001) are ISO-8859-1, as
    Windows writes every name whose characters all lie below U+0100."""

    NAMES = [b"\xebigenaardig", b"T\xe9st", b"T\xe8st", b"\xdf2", b"\x80\xa0\xff", b"Caf\xc3\xa9", b"nul\xe9\0\0"]

    @pytest.fixture
    def key(self, open_tree):
        return open_tree(key_with(*[Value(name, REG_SZ, sz(str(i)), flags=0x0001)
                                    for i, name in enumerate(self.NAMES)])).root_key()

    def test_names_are_latin1(self, key):
        assert [v.name() for v in key.values()] == [
            "ëigenaardig", "Tést", "Tèst", "ß2", "\x80\xa0ÿ", "CafÃ©", "nulé"]

    @pytest.mark.parametrize("query, index", [
        ("ëigenaardig", 0), ("ËIGENAARDIG", None), ("Tést", 1), ("tèst", 2), ("ß2", 3), ("\x80\xa0ÿ", 4),
        ("CafÃ©", 5), ("Café", None), ("nulé", 6), ("\ufffdigenaardig", None),
    ], ids=["e-diaeresis", "not-folded", "e-acute", "e-grave-folded", "sharp-s", "high-bytes", "utf8-looking",
            "not-utf8", "trailing-nuls", "no-replacement"])
    def test_found_by_value(self, key, query, index):
        if index is None:
            with pytest.raises(ValueError, match="^Not found: Value "):
                key.value(query)
        else:
            assert key.value(query).data().as_string() == str(index)


class TestPlacement:
    @pytest.mark.parametrize("size", [1, 2, 3, 4])
    def test_inline(self, open_tree, size):
        b = key_with(lambda b: b.vk("v", REG_BINARY, size, 0x44332211))
        value = open_tree(b).root_key().value("v")
        assert value.raw_data() == bytes([0x11, 0x22, 0x33, 0x44][:size])
        assert value.data_size() == size

    def test_bit_31_of_the_size_is_ignored(self, open_tree):
        b = key_with(lambda b: b.vk("v", REG_DWORD, 0x80000004, 1))
        value = open_tree(b).root_key().value("v")
        assert value.raw_data() == b"\1\0\0\0"
        assert value.data().as_dword() == 1

    @pytest.mark.parametrize("data_offset", [0, NONE_OFFSET])
    def test_no_data_cell(self, open_tree, data_offset):
        b = key_with(lambda b: b.vk("v", REG_BINARY, 8, data_offset))
        value = open_tree(b).root_key().value("v")
        assert (value.raw_data(), value.data_size(), value.data().is_none()) == (b"", 0, True)

    def test_single_cell_is_cut_to_the_size(self, open_tree):
        b = key_with(lambda b: b.vk("v", REG_BINARY, 6, b.exact_cell(bytes(range(12)))))
        assert open_tree(b).root_key().value("v").raw_data() == bytes(range(6))

    def test_single_cell_shorter_than_the_size(self, open_tree):
        b = key_with(lambda b: b.vk("v", REG_BINARY, 100, b.exact_cell(b"abc")))
        value = open_tree(b).root_key().value("v")
        assert (value.raw_data(), value.data_size()) == (b"abc", 3)

    @pytest.mark.parametrize("size", [LARGEST_SINGLE_CELL, LARGEST_SINGLE_CELL + 1, 100_000])
    def test_large_values_round_trip(self, open_tree, size):
        data = bytes(i * 7 % 251 for i in range(size))
        value = open_tree(Key("ROOT", [Value("big", REG_BINARY, data)])).root_key().value("BIG")
        assert value.raw_data() == data
        assert value.data_size() == size
        assert value.data().as_binary() == data

    def test_big_data_skips_segment_slack(self, open_tree):
        def big(b):
            first = b.exact_cell(b"A" * LARGEST_SINGLE_CELL + b"slck")
            second = b.exact_cell(b"B" * 3660)
            segments = b.exact_cell(struct.pack("<II", first | 0x80000000, second))
            return b.vk("v", REG_BINARY, 20000, b.exact_cell(b"db" + struct.pack("<HI", 2, segments)))

        data = open_tree(key_with(big)).root_key().value("v").raw_data()
        assert data == b"A" * LARGEST_SINGLE_CELL + b"B" * 3656

    def test_big_data_with_too_few_segments(self, open_tree):
        def big(b):
            segment = b.exact_cell(b"C" * 100)
            segments = b.exact_cell(struct.pack("<I", segment))
            return b.vk("v", REG_BINARY, 20000, b.exact_cell(b"db" + struct.pack("<HI", 1, segments)))

        assert open_tree(key_with(big)).root_key().value("v").raw_data() == b"C" * 100

    def test_data_size_matches_raw_data(self, corpus_dir):
        root = orvane.Hive.open(str(corpus_dir / "SAM")).root_key()
        stack, seen = [root], 0
        while stack:
            key = stack.pop()
            for value in key.values():
                assert value.data_size() == len(value.raw_data()), value.name()
                seen += 1
            stack.extend(key.subkeys())
        assert seen == 70


class TestSnapshots:
    def test_new_objects_on_each_call(self, open_tree):
        value = open_tree(Key("ROOT", [Value("v", REG_BINARY, b"\1\2\3\4\5")])).root_key().value("v")
        assert value.raw_data() is not value.raw_data()
        assert value.value_type() is not value.value_type()
        assert value.data() is not value.data()
        raw = bytearray(value.raw_data())
        raw[0] = 0xFF
        assert value.raw_data() == b"\1\2\3\4\5"

    def test_no_attributes(self, open_tree):
        value = open_tree(Key("ROOT", [Value("v", REG_SZ, sz("x"))])).root_key().value("v")
        with pytest.raises(AttributeError):
            value.name = "w"
        with pytest.raises(AttributeError):
            value.extra = 1


class TestCountsAndLists:
    @pytest.mark.parametrize("count, list_offset", [(0, 0xDEAD0000), (0, 0x20), (2, NONE_OFFSET), (2, 0)],
                             ids=["count-0-garbage", "count-0-key-node", "no-list", "zero-list"])
    def test_empty_listing(self, open_tree, count, list_offset):
        b = HiveBuilder()
        b.key("ROOT", value_count=count, value_list=list_offset)
        key = open_tree(b).root_key()
        assert key.values() == []
        with pytest.raises(ValueError, match=r"^Not found: Value 'x'$"):
            key.value("x")

    def test_value_list_shorter_than_the_count(self, open_tree):
        b = HiveBuilder()
        vk = b.value("v", REG_SZ, sz("x"))
        values = b.exact_cell(struct.pack("<II", vk, vk))
        b.root(b.key("ROOT", value_count=3, value_list=values))
        key = open_tree(b).root_key()
        message = f"Truncated data at offset {values:#x}: expected 12 bytes, got 8 bytes"
        for call in (key.values, lambda: key.value("v")):
            with pytest.raises(ValueError) as raised:
                call()
            assert str(raised.value) == message


DAMAGED_RECORDS = [
    ("short", lambda b: b.exact_cell(b"vk" + bytes(16)), "Truncated data at offset {:#x}: expected 20 bytes, got 18 bytes"),
    ("not-vk", lambda b: b.exact_cell(b"nk" + bytes(22)), "Invalid format: Expected 'vk' signature at offset {:#x}"),
    ("name-past-payload", lambda b: b.exact_cell(vk_payload("abcd", REG_SZ, 0, 0, name_length=10)),
     "Truncated data at offset {:#x}: expected 30 bytes, got 24 bytes"),
    ("odd-utf16-name", lambda b: b.add_cell(vk_payload(b"ABCDE", REG_SZ, 0, 0, flags=0)),
     "Invalid UTF-16 string at offset {:#x}"),
    ("none-offset", lambda b: NONE_OFFSET, "Invalid offset 0xffffffff (hive size: 0x0)"),
]


class TestDamagedRecords:
    @pytest.mark.parametrize("make, message", [(m, t) for _, m, t in DAMAGED_RECORDS],
                             ids=[i for i, _, _ in DAMAGED_RECORDS])
    @pytest.mark.parametrize("query", ["good", "bad", "missing"])
    def test_one_bad_record_fails_every_lookup(self, open_tree, make, message, query):
        b = HiveBuilder()
        good = b.value("good", REG_SZ, sz("fine"))
        bad = make(b)
        b.root(b.key("ROOT", value_count=2, value_list=b.value_list([good, bad])))
        key = open_tree(b).root_key()
        with pytest.raises(ValueError) as raised:
            key.value(query)
        assert str(raised.value) == message.format(bad)
        with pytest.raises(ValueError) as raised:
            key.values()
        assert str(raised.value) == message.format(bad)

    def test_unreadable_data_empty_in_values_but_an_error_by_name(self, open_tree):
        b = HiveBuilder()
        good = b.value("good", REG_DWORD, b"\5\0\0\0")
        broken = b.vk("broken", REG_DWORD, 8, 0x100000)
        bad_db = b.vk("bad-db", REG_BINARY, 20000, b.add_cell(b"xx" + bytes(10)))
        b.root(b.key("ROOT", value_count=3, value_list=b.value_list([good, broken, bad_db])))
        hive_size = len(b.image)
        key = open_tree(b).root_key()

        listed = key.values()
        assert [(v.name(), v.raw_data(), v.data_size()) for v in listed] == [
            ("good", b"\5\0\0\0", 4), ("broken", b"", 0), ("bad-db", b"", 0)]
        assert listed[1].data().is_none() and str(listed[1].data()) == "(none)"
        assert listed[1].value_type().type_name() == "REG_DWORD"

        with pytest.raises(ValueError) as raised:
            key.value("broken")
        assert str(raised.value) == f"Invalid offset 0x100000 (hive size: {hive_size:#x})"
        with pytest.raises(ValueError) as raised:
            key.value("BAD-DB")
        db = b.image.find(b"xx", BASE) - BASE - 4
        assert str(raised.value) == f"Invalid format: Expected 'db' signature at offset {db:#x}, found [120, 120]"
        assert key.value("good").data().as_dword() == 5


class TestDecodeErrors:
    @pytest.mark.parametrize("value_type, data, message", [
        (REG_DWORD, b"\1\2\3", "Truncated data at offset 0x0: expected 4 bytes, got 3 bytes"),
        (REG_QWORD, b"\1\2\3\4\5", "Truncated data at offset 0x0: expected 8 bytes, got 5 bytes"),
        (REG_SZ, b"a\0b", "Invalid UTF-16 string at offset 0x0"),
        (REG_SZ, b"\x00\xd8a\x00", "Invalid UTF-16 string at offset 0x0"),
    ], ids=["short-dword", "short-qword", "odd-string", "lone-surrogate"])
    def test_data_raises_and_raw_data_still_works(self, open_tree, value_type, data, message):
        value = open_tree(Key("ROOT", [Value("v", value_type, data)])).root_key().value("v")
        for _ in range(2):
            with pytest.raises(ValueError) as raised:
                value.data()
            assert str(raised.value) == message
        assert value.raw_data() == data


class TestInternalFailure:
    @pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                        reason="AddressSanitizer's shadow memory does not fit under an address-space limit")
    def test_running_out_of_memory_inside_values(self, tmp_path):
        # A 48 MB value read under an address-space limit far below that: the
        # allocation for its bytes fails inside the unlocked section.
        size = 48 * 1024 * 1024
        b = HiveBuilder()
        b.tree(Key("ROOT", [Value("small", REG_SZ, sz("x")), Value("huge", REG_BINARY, b"\xab" * size)]))
        path = b.write(tmp_path / "huge")
        code = textwrap.dedent(f"""
            import resource, orvane
            hive = orvane.Hive.open({path!r})
            key = hive.root_key()
            with open("/proc/self/statm") as f:
                used = int(f.read().split()[0]) * resource.getpagesize()
            resource.setrlimit(resource.RLIMIT_AS, (used + 24 * 1024 * 1024, resource.RLIM_INFINITY))
            for call in (key.values, lambda: key.value("huge")):
                try:
                    call()
                    print("no failure")
                except MemoryError as error:
                    print(type(error).__name__, str(error))
            print(key.value("small").data())
        """)
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
        assert out.stdout.splitlines() == ["MemoryError "] * 2 + ["x"], out.stderr
