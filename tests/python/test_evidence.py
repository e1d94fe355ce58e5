"""Evidence as it comes: strings read as Windows reads them, CurrentControlSet,
orphan keys, keys listed twice, orvane.open on dirty hives."""

import shutil
import struct
import warnings

import pytest

import orvane
from hive_builder import HiveBuilder, Key, Value, sz, utf16

REG_SZ, REG_DWORD = 1, 4
STALE = b"\x00\xd8\x41"  # a lone high surrogate, then half a unit


@pytest.mark.parametrize("data, text, trailing", [
    (sz("Pacific"), "Pacific", b""),
    (utf16("Pacific") + b"\0\0" + STALE, "Pacific", STALE),
    (utf16("ab") + b"\0\0" + b"\0\xdc", "ab", b"\0\xdc"),
    (utf16("odd") + b"\0\0" + b"x", "odd", b"x"),
])
def test_strings_with_stale_bytes_read_as_windows_reads_them(write_hive, data, text, trailing):
    builder = HiveBuilder()
    builder.tree(Key("ROOT", [Value("TimeZoneKeyName", REG_SZ, data)]))
    value = orvane.Hive.open(write_hive(builder)).root_key().value("TimeZoneKeyName")
    assert (value.as_py(), value.trailing_data()) == (text, trailing)
    if trailing:  # the specified decoding is unchanged
        with pytest.raises(ValueError, match="at offset 0x0$"):
            value.data()


@pytest.mark.parametrize("data, offset", [
    (utf16("ab") + b"\x00\xd8" + utf16("c") + b"\0\0", 4),
    (b"\x00\xdc" + b"\0\0", 0),
    (utf16("abc") + b"\x00\xd8", 6),
])
def test_malformed_strings_name_the_first_bad_unit(write_hive, data, offset):
    builder = HiveBuilder()
    builder.tree(Key("ROOT", [Value("v", REG_SZ, data)]))
    value = orvane.Hive.open(write_hive(builder)).root_key().value("v")
    with pytest.raises(ValueError, match=f"^Invalid UTF-16 string at offset {offset:#x}$"):
        value.as_py()


def system_tree(select=True, current=2):
    sets = [Key(f"ControlSet00{n}", subkeys=[Key("Services", subkeys=[Key(f"Only{n}")])]) for n in (1, 2)]
    extra = [Key("Select", [Value("Current", REG_DWORD, struct.pack("<I", current))])] if select else []
    return Key("ROOT", subkeys=sets + extra)


@pytest.mark.parametrize("select, current, path, found", [
    (True, 2, "CurrentControlSet\\Services\\Only2", "ControlSet002\\Services\\Only2"),
    (True, 1, "currentcontrolset\\services", "ControlSet001\\Services"),
    (False, 2, "CurrentControlSet\\Services\\Only1", "ControlSet001\\Services\\Only1"),
])
def test_current_control_set(write_hive, select, current, path, found):
    builder = HiveBuilder()
    builder.tree(system_tree(select, current))
    assert orvane.Hive.open(write_hive(builder)).key(path).path() == found


def test_current_control_set_not_found_names_the_asked_path(write_hive):
    builder = HiveBuilder()
    builder.tree(system_tree())
    with pytest.raises(ValueError, match=r"^Not found: Key 'CurrentControlSet\\Nope'$"):
        orvane.Hive.open(write_hive(builder)).key("CurrentControlSet\\Nope")


def orphan_hive():
    """ROOT lists A only through a list past the end of the hive; A has a subkey B."""
    builder = HiveBuilder()
    b = builder.key("B")
    listing = builder.subkey_list("li", [b])
    a = builder.key("A", subkey_count=1, subkey_list=listing)
    root = builder.key("ROOT", subkey_count=1, subkey_list=0x7FFF0)
    builder.u32(0x1000 + a + 4 + 16, root).u32(0x1000 + b + 4 + 16, a)
    builder.root(root)
    return builder, a, b


def test_orphans_are_found_and_walked_below_orphans(write_hive):
    builder, a, b = orphan_hive()
    path = write_hive(builder)
    strict = orvane.Hive.open(path)
    assert [(k.offset(), k.partial_path()) for k in strict.orphan_keys()] == [(b, "A\\B"), (a, "A")]  # file order
    assert [p for p, _ in strict.walk(on_error=lambda *_: None)] == [""]  # unchanged by default
    tolerant = orvane.Hive.open_tolerant(path)
    assert [p for p, _ in tolerant.walk()] == ["", "<orphans>\\A", "<orphans>\\A\\B"]
    assert [p for p, _ in tolerant.walk(include_orphans=False)] == [""]


def test_a_key_under_two_parents_is_noted_once(write_hive):
    builder = HiveBuilder()
    shared = builder.key("subkey")
    lists = [builder.subkey_list("li", [shared]) for _ in range(2)]
    two = builder.key("2", subkey_count=1, subkey_list=lists[0])
    three = builder.key("3", subkey_count=1, subkey_list=lists[1])
    root = builder.key("ROOT", subkey_count=2, subkey_list=builder.subkey_list("li", [two, three]))
    for child in (two, three):
        builder.u32(0x1000 + child + 4 + 16, root)
    builder.u32(0x1000 + shared + 4 + 16, two)
    builder.root(root)
    path = write_hive(builder)
    told = []
    paths = [p for p, _ in orvane.Hive.open(path).walk(on_error=lambda p, e: told.append((p, str(e))))]
    assert paths == ["", "2", "2\\subkey", "3"]
    assert told == [("3", f"Key at offset {shared:#x} is listed under 2\\subkey and 3\\subkey")]
    tolerant = orvane.Hive.open_tolerant(path)
    list(tolerant.walk())
    assert tolerant.problems() == [f"Key at offset {shared:#x} is listed under 2\\subkey and 3\\subkey"]


@pytest.mark.parametrize("logs, note", [("auto", "no logs found beside it"), ("none", "read without logs")])
def test_open_warns_about_a_dirty_hive(write_hive, logs, note):
    builder = HiveBuilder().sequences(5, 4)
    builder.tree(Key("ROOT"))
    path = write_hive(builder)
    with pytest.warns(orvane.DirtyHiveWarning, match=f"^{path}: dirty \\(sequence numbers 5/4\\), {note}$"):
        hive = orvane.open(path, logs=logs)
    assert hive.applied_logs() == []


def test_open_is_quiet_on_a_clean_hive(write_hive):
    builder = HiveBuilder()
    builder.tree(Key("ROOT"))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert orvane.open(write_hive(builder), tolerant=True).root_key().name() == "ROOT"


@pytest.mark.parametrize("logs", ["auto", "named"])
def test_open_is_quiet_when_the_logs_bring_the_hive_up_to_date(corpus_dir, tmp_path, logs):
    for name in ("UsrClass.dat", "UsrClass.dat.LOG1", "UsrClass.dat.LOG2"):
        shutil.copy(corpus_dir / name, tmp_path / name)
    named = [str(tmp_path / "UsrClass.dat.LOG1"), str(tmp_path / "UsrClass.dat.LOG2")]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        hive = orvane.open(str(tmp_path / "UsrClass.dat"), logs="auto" if logs == "auto" else named)
    assert hive.applied_logs() == named
    assert not hive.base_block().is_dirty


def test_a_directory_is_no_hive(tmp_path):
    with pytest.raises(OSError, match="Is a directory"):
        orvane.Hive.open(str(tmp_path))
