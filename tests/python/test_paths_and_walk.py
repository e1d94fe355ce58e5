"""Keys by path, the whole-hive walk, and the metadata a report needs: paths,
parents, class names, security descriptors, exact times, offsets, as_py()
and the base block's remaining fields."""

from __future__ import annotations

import datetime
import struct
import sys
import time
from pathlib import Path

import pytest

import orvane
from hive_builder import (BASE, NONE_OFFSET, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_EXPAND_SZ,
                          REG_LINK, REG_MULTI_SZ, REG_NONE, REG_QWORD, REG_SZ, HiveBuilder, Key, Value, multi_sz,
                          name_check, sz, utf16)

sys.path.insert(0, str(Path(__file__).resolve().parent.parent.parent / "bench"))
import make_hive  # noqa: E402

UTC = datetime.timezone.utc
CORPUS = ["NTUSER.DAT", "UsrClass.dat", "amcache.hve", "SAM", "SECURITY", "BCD"]


def recursive_paths(key, prefix=""):
    """The walk as a caller would write it with subkeys()."""
    out = [prefix]
    for sub in key.subkeys():
        out.extend(recursive_paths(sub, f"{prefix}\\{sub.name()}" if prefix else sub.name()))
    return out


def tree():
    return Key("ROOT", subkeys=[
        Key("ControlSet001", subkeys=[Key("Services", subkeys=[Key("Tcpip", [Value("Start", REG_DWORD, b"\2\0\0\0")])]),
                                      Key("Control")], list_kind="lh"),
        Key("Software", subkeys=[Key("Caf\u00e9"), Key("\u00c9T\u00c9"), Key("Stra\u00dfe"), Key("a/b")], list_kind="li"),
        Key("Select", list_kind="ri"),
    ])


class TestSubkeyByPath:
    @pytest.mark.parametrize("path, found", [
        ("ControlSet001\\Services\\Tcpip", "ControlSet001\\Services\\Tcpip"),
        ("controlset001\\SERVICES\\tcpIP", "ControlSet001\\Services\\Tcpip"),
        ("\\ControlSet001\\\\Services\\", "ControlSet001\\Services"),
        ("", ""),
        ("\\", ""),
        ("software\\CAF\u00c9", "Software\\Caf\u00e9"),
        ("Software\\\u00e9t\u00e9", "Software\\\u00c9T\u00c9"),
        ("Software\\STRA\u00dfE", "Software\\Stra\u00dfe"),
        ("Software\\a/b", "Software\\a/b"),
    ])
    def test_found(self, open_tree, path, found):
        hive = open_tree(tree())
        key = hive.key(path)
        assert key.path() == found
        assert hive.root_key().subkey(path).offset() == key.offset()

    @pytest.mark.parametrize("path", ["Software\\STRASSE", "Software\\a", "Nothing", "Software\\Caf\u00e9\\x",
                                      "ControlSet001/Services"])
    def test_not_found_names_the_path_as_passed(self, open_tree, path):
        hive = open_tree(tree())
        with pytest.raises(ValueError, match=None) as raised:
            hive.key(path)
        assert str(raised.value) == f"Not found: Key '{path}'"

    def test_relative_to_a_key(self, open_tree):
        services = open_tree(tree()).key("ControlSet001\\Services")
        assert services.subkey("tcpip").path() == "ControlSet001\\Services\\Tcpip"

    def test_first_duplicate_in_list_order_wins(self, write_hive):
        b = HiveBuilder()
        first, second = b.key("Dup", subkey_count=7), b.key("DUP")
        b.tree(Key("ROOT", subkey_list=b.subkey_list("lh", [second, first], checks=[name_check("lh", "Dup")] * 2),
                   subkey_count=2))
        assert orvane.Hive.open(write_hive(b)).key("dup").offset() == second

    @pytest.mark.parametrize("kind", ["lf", "lh"])
    def test_a_wrong_check_does_not_hide_a_key(self, write_hive, kind):
        b = HiveBuilder()
        keys = [b.key(name) for name in ("Alpha", "Beta", "Gamma")]
        checks = [name_check(kind, "Alpha"), 0xDEADBEEF, name_check(kind, "Gamma")]
        b.tree(Key("ROOT", subkey_list=b.subkey_list(kind, keys, checks=checks), subkey_count=3))
        hive = orvane.Hive.open(write_hive(b))
        assert [hive.key(n).offset() for n in ("alpha", "beta", "gamma")] == keys
        with pytest.raises(ValueError, match=r"^Not found: Key 'Delta'$"):
            hive.key("Delta")

    def test_deep_path(self, open_tree):
        key = Key("L599")
        for depth in range(598, -1, -1):
            key = Key(f"L{depth}", subkeys=[key])
        hive = open_tree(Key("ROOT", subkeys=[key]))
        path = "\\".join(f"l{d}" for d in range(600))
        assert hive.key(path).name() == "L599"

    def test_unreadable_list_raises_its_error(self, open_tree):
        hive = open_tree(Key("ROOT", subkeys=[Key("A", subkey_count=1, subkey_list=0x7FFF0000)]))
        with pytest.raises(ValueError, match=r"^Invalid offset 0x7fff0000 \(hive size: 0x[0-9a-f]+\)$"):
            hive.key("A\\B")

    def test_a_broken_sibling_is_reported_only_when_the_name_is_missing(self, write_hive):
        b = HiveBuilder()
        good = b.key("Good")
        broken = b.value_list([0])  # a cell that is no key node
        b.tree(Key("ROOT", subkey_list=b.subkey_list("li", [broken, good]), subkey_count=2))
        hive = orvane.Hive.open(write_hive(b))
        assert hive.key("good").offset() == good
        with pytest.raises(ValueError, match=r"^Truncated data at offset 0x[0-9a-f]+: expected 76 bytes"):
            hive.key("Other")

    @pytest.mark.parametrize("call", [lambda h: h.key(b"A"), lambda h: h.root_key().subkey(None),
                                      lambda h: h.key(), lambda h: h.walk(on_error=3)])
    def test_argument_errors(self, open_tree, call):
        with pytest.raises(TypeError):
            call(open_tree(tree()))


class TestWalk:
    def test_depth_first_in_list_order(self, open_tree):
        hive = open_tree(tree())
        paths = [path for path, _ in hive.walk()]
        assert paths == recursive_paths(hive.root_key())
        assert paths[:4] == ["", "ControlSet001", "ControlSet001\\Services", "ControlSet001\\Services\\Tcpip"]
        assert [k.name() for _, k in hive.key("Software").walk()] == ["Software", "Caf\u00e9", "\u00c9T\u00c9",
                                                                       "Stra\u00dfe", "a/b"]

    def test_a_list_back_to_an_ancestor_ends(self, write_hive):
        b = HiveBuilder()
        child = b.key("Child", subkey_count=1, subkey_list=NONE_OFFSET)
        root = b.key("ROOT", subkey_count=1, subkey_list=b.subkey_list("li", [child]))
        b.u32(BASE + child + 4 + 28, b.subkey_list("li", [root, child]))
        b.root(root)
        hive = orvane.Hive.open(write_hive(b))
        assert [path for path, _ in hive.walk()] == ["", "Child"]

    def test_shared_lists_yield_each_key_once(self, write_hive):
        # Each level's list names the next level's two keys: 2**24 paths, 48 keys.
        b = HiveBuilder()
        below = NONE_OFFSET
        for level in range(24, 0, -1):
            count = 0 if below == NONE_OFFSET else 2
            pair = [b.key(f"{side}{level}", subkey_count=count, subkey_list=below) for side in "AB"]
            below = b.subkey_list("lf", pair)
        b.tree(Key("ROOT", subkey_list=below, subkey_count=2))
        hive = orvane.Hive.open(write_hive(b))
        start = time.perf_counter()
        walked = list(hive.walk())
        assert time.perf_counter() - start < 5
        assert len(walked) == len({k.offset() for _, k in walked}) == 49
        assert walked[2][0] == "A1\\A2"

    def unreadable(self):
        return Key("ROOT", subkeys=[Key("A", subkeys=[Key("A1")]),
                                    Key("Bad", subkey_count=1, subkey_list=0x7FFF0000), Key("C")])

    def test_unreadable_list_raises_after_the_keys_before_it(self, open_tree):
        iterator = open_tree(self.unreadable()).walk()
        assert [next(iterator)[0] for _ in range(4)] == ["", "A", "A\\A1", "Bad"]
        with pytest.raises(ValueError, match=r"^Invalid offset 0x7fff0000"):
            next(iterator)
        assert list(iterator) == []

    def test_on_error_reports_and_goes_on(self, open_tree):
        reported = []
        paths = [p for p, _ in open_tree(self.unreadable()).walk(lambda path, e: reported.append((path, e)))]
        assert paths == ["", "A", "A\\A1", "Bad", "C"]
        assert [(p, type(e), str(e)[:26]) for p, e in reported] == [("Bad", ValueError, "Invalid offset 0x7fff0000 ")]

    def test_on_error_may_stop_the_walk(self, open_tree):
        def stop(path, error):
            raise KeyError(path)
        with pytest.raises(KeyError, match="Bad"):
            list(open_tree(self.unreadable()).walk(on_error=stop))

    def test_the_200k_key_synthetic_hive(self, write_hive):
        image, counts = make_hive.build(200_000)
        hive = orvane.Hive.open(write_hive(image))
        walked = [path for path, _ in hive.walk()]
        assert len(walked) == counts.keys == 200_000
        assert walked == recursive_paths(hive.root_key())


class TestPathAndParent:
    @pytest.mark.parametrize("name", CORPUS)
    def test_round_trips_over_corpus_hives(self, corpus_dir, name):
        hive = orvane.Hive.open(str(corpus_dir / name))
        offsets = {}
        for path, key in hive.walk():
            offsets[path] = key.offset()
            assert key.path() == path
            assert hive.key(path).offset() == key.offset()
            parent = key.parent()
            if path:
                assert parent.offset() == offsets[path.rpartition("\\")[0]]
            else:
                assert parent is None
        assert len(offsets) > 50

    def test_a_parent_chain_that_comes_back(self, write_hive):
        b = HiveBuilder()
        b.tree(Key("ROOT"))
        first = b.key("First")
        second = b.key("Second", parent=first)
        b.u32(BASE + first + 4 + 16, second)
        b.tree(Key("ROOT", subkeys=[], subkey_count=1, subkey_list=b.subkey_list("li", [second])))
        key = orvane.Hive.open(write_hive(b)).key("Second")
        with pytest.raises(ValueError) as raised:
            key.path()
        assert str(raised.value) == (f"Invalid format: Key at offset {second:#x} has a parent chain that comes "
                                     f"back to offset {second:#x}")
        assert key.parent().name() == "First"

    def test_a_parent_chain_longer_than_512(self, write_hive):
        b = HiveBuilder()
        root = b.tree(Key("ROOT"))
        parent = root
        for depth in range(514):
            parent = b.key(f"K{depth}", parent=parent)
        b.tree(Key("ROOT", subkey_count=1, subkey_list=b.subkey_list("li", [parent])))
        key = orvane.Hive.open(write_hive(b)).key("K513")
        with pytest.raises(ValueError) as raised:
            key.path()
        assert str(raised.value) == (f"Invalid format: Key at offset {parent:#x} has a parent chain that does "
                                     "not reach the root within 512 steps")

    def test_an_unreadable_parent(self, write_hive):
        b = HiveBuilder()
        b.tree(Key("ROOT", subkeys=[Key("Lost", parent=0x7FFF0000)]))
        key = orvane.Hive.open(write_hive(b)).key("Lost")
        assert key.parent() is None
        with pytest.raises(ValueError, match=r"^Invalid offset 0x7fff0000"):
            key.path()


def descriptor_facts(sd):
    revision, control, owner = sd[0], struct.unpack_from("<H", sd, 2)[0], struct.unpack_from("<I", sd, 4)[0]
    return revision == 1 and control & 0x8000 and 20 <= owner < len(sd)


class TestMetadata:
    @pytest.mark.parametrize("name", CORPUS)
    def test_security_descriptors_of_corpus_hives(self, corpus_dir, name):
        hive = orvane.Hive.open(str(corpus_dir / name))
        descriptors = [key.security_descriptor() for _, key in hive.walk()]
        assert all(descriptor_facts(sd) for sd in descriptors)

    def test_class_names_of_a_corpus_hive(self, corpus_dir):
        hive = orvane.Hive.open(str(corpus_dir / "NTUSER.DAT"))
        classes = {path: key.class_name() for path, key in hive.walk() if key.class_name() is not None}
        assert len(classes) == 15
        assert classes["Network\\p"] == "GenericClass"
        assert classes["Software\\Microsoft\\IMEMIP\\0x0409"] == "Software\\Microsoft\\IMEMIP\\0x0409"

    def test_built_class_name_and_descriptor(self, write_hive):
        b = HiveBuilder()
        name = b.add_cell(utf16("GenericClass"))
        sd = bytes([1, 0, 4, 0x80]) + struct.pack("<IIII", 20, 0, 0, 0) + b"\1\1\0\0\0\0\0\5\x12\0\0\0"
        sk = b.add_cell(b"sk" + struct.pack("<HIIII", 0, 0, 0, 1, len(sd)) + sd)
        b.tree(Key("ROOT", subkeys=[Key("Plain"), Key("Rich", class_name=name, class_name_length=24, security=sk),
                                    Key("Bad", security=name)]))
        hive = orvane.Hive.open(write_hive(b))
        assert (hive.key("Plain").class_name(), hive.key("Plain").security_descriptor()) == (None, None)
        assert (hive.key("Rich").class_name(), hive.key("Rich").security_descriptor()) == ("GenericClass", sd)
        with pytest.raises(ValueError) as raised:
            hive.key("Bad").security_descriptor()
        assert str(raised.value) == f"Invalid format: Expected 'sk' signature at offset {name:#x}"

    @pytest.mark.parametrize("stored, expected", [
        (0, None),
        (1, datetime.datetime(1601, 1, 1, tzinfo=UTC)),
        (19, datetime.datetime(1601, 1, 1, 0, 0, 0, 1, tzinfo=UTC)),
        (116444736000000000, datetime.datetime(1970, 1, 1, tzinfo=UTC)),
        (132726537727906426, datetime.datetime(2021, 8, 5, 16, 16, 12, 790642, tzinfo=UTC)),
        (2650467743999999999, datetime.datetime(9999, 12, 31, 23, 59, 59, 999999, tzinfo=UTC)),
    ])
    def test_last_written(self, open_tree, stored, expected):
        key = open_tree(Key("ROOT", last_written=stored)).root_key()
        assert key.last_written() == expected
        assert key.last_written_filetime() == stored
        if expected is not None:
            assert key.last_written().tzinfo is UTC
            epoch = datetime.datetime(1970, 1, 1, tzinfo=UTC)
            assert key.last_written_timestamp() == (expected - epoch) // datetime.timedelta(seconds=1)

    @pytest.mark.parametrize("stored", [2650467744000000000, 0xFFFFFFFFFFFFFFFF])
    def test_last_written_past_the_year_9999(self, open_tree, stored):
        key = open_tree(Key("ROOT", last_written=stored)).root_key()
        assert key.last_written_filetime() == stored
        with pytest.raises(ValueError) as raised:
            key.last_written()
        assert str(raised.value) == f"Invalid format: Time {stored} lies past the year 9999"

    def test_offsets(self, write_hive):
        b = HiveBuilder()
        vk = b.value("Start", REG_DWORD, b"\2\0\0\0")
        root = b.key("ROOT", value_count=1, value_list=b.value_list([vk]))
        b.root(root)
        key = orvane.Hive.open(write_hive(b)).root_key()
        assert key.offset() == root
        assert key.value("start").offset() == key.values()[0].offset() == vk

    @pytest.mark.parametrize("value_type, data, expected", [
        (REG_NONE, b"\1", None),
        (REG_SZ, b"", None),
        (REG_SZ, sz("C:\\"), "C:\\"),
        (REG_EXPAND_SZ, sz("%SystemRoot%"), "%SystemRoot%"),
        (REG_DWORD, b"\1\0\0\0", 1),
        (REG_DWORD_BIG_ENDIAN, b"\0\0\1\2", 258),
        (REG_QWORD, b"\xff" * 8, 2**64 - 1),
        (REG_MULTI_SZ, multi_sz("a", "b"), ["a", "b"]),
        (REG_BINARY, b"\0\1", b"\0\1"),
        (REG_LINK, b"\1\2", b"\1\2"),
        (0x20, b"xyz", b"xyz"),
    ])
    def test_as_py(self, open_tree, value_type, data, expected):
        value = open_tree(Key("ROOT", [Value("v", value_type, data)])).root_key().value("v")
        assert value.as_py() == value.data().as_py() == expected
        assert type(value.as_py()) is type(expected)

    def test_as_py_raises_what_data_raises(self, open_tree):
        value = open_tree(Key("ROOT", [Value("v", REG_DWORD, b"\1\2\3")])).root_key().value("v")
        with pytest.raises(ValueError, match=r"^Truncated data at offset 0x0: expected 4 bytes, got 3 bytes$"):
            value.as_py()


class TestBaseBlockFields:
    def test_fields(self, write_hive):
        b = HiveBuilder().sequences(7, 6).u64(12, 116444736000000010).u32(28, 2).u32(32, 1)
        block = orvane.Hive.open(write_hive(b)).base_block()
        assert (block.timestamp, block.major_version, block.minor_version, block.file_type, block.file_format) == (
            116444736000000010, 1, 5, 2, 1)
        assert block.last_written == datetime.datetime(1970, 1, 1, 0, 0, 0, 1, tzinfo=UTC)
        assert block.is_dirty
        assert block.checksum == struct.unpack_from("<I", b.build(), 508)[0]

    def test_clean_and_never_written(self, write_hive):
        block = orvane.Hive.open(write_hive(HiveBuilder())).base_block()
        assert (block.timestamp, block.last_written, block.is_dirty) == (0, None, False)


STUBS = Path(__file__).resolve().parent.parent.parent / "src" / "python" / "orvane.pyi"


def stub_classes():
    import ast
    tree = ast.parse(STUBS.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


@pytest.mark.parametrize("name", ["Hive", "RegistryKey", "RegistryValue", "ValueData", "ValueType", "BaseBlock",
                                  "HbinHeader"])
def test_stubs_match_the_classes(name):
    import ast
    members = [n for n in stub_classes()[name].body if isinstance(n, ast.FunctionDef)]
    runtime = getattr(orvane, name)
    assert [m.name for m in members] == [n for n in vars(runtime) if not n.startswith("_")]
    for member in members:
        assert ast.get_docstring(member, clean=False) == getattr(runtime, member.name).__doc__, member.name
