"""Hive.deleted_keys() and Hive.deleted_values(): records recovered from free
cells, cell slack and the bytes past the hive bins data, and what recovered
keys and values offer."""

import gc
import inspect
import struct
from datetime import datetime, timezone

import pytest

import orvane
from hive_builder import BASE, REG_BINARY, REG_DWORD, REG_SZ, HiveBuilder, nk_payload, sz

ROOT_FLAGS = 0x002C
HIVE_METHODS = [
    ("deleted_keys", "Find the deleted keys still held in free cells, cell slack and the bytes past the hive bins "
                     "data, in file order"),
    ("deleted_values", "Find the deleted values still held in free cells, cell slack and the bytes past the hive "
                       "bins data, in file order, with their data while it has not been reused"),
]


def set_parent(b: HiveBuilder, key: int, parent: int) -> None:
    b.u32(BASE + key + 4 + 16, parent)


class Tracked:
    """Records every cell a builder places while active, so they can be freed."""

    def __init__(self, b: HiveBuilder) -> None:
        self.b, self.cells = b, []

    def __enter__(self):
        self.add_cell = self.b.add_cell
        self.b.add_cell = lambda payload, **kw: self.cells.append(self.add_cell(payload, **kw)) or self.cells[-1]
        return self

    def __exit__(self, *exc):
        self.b.add_cell = self.add_cell
        self.b.free(*self.cells)


def scene() -> HiveBuilder:
    """ROOT\\Software\\Run live, with one live value; below Software a deleted
    key "Tool" with two values and a deleted subkey "Config"; a deleted value
    "Backdoor" that Run no longer names; a deleted key "Orphan" whose parent
    cell has been reused, with a deleted subkey "Leaf"; and a deleted value
    whose data cell now holds live data."""
    b = HiveBuilder()
    live_data = b.data_cell(b"\xaa" * 16)
    kept = b.vk("Kept", REG_BINARY, 16, live_data)
    run = b.key("Run", value_count=1, value_list=b.value_list([kept]))
    software = b.key("Software", subkey_count=1, subkey_list=b.subkey_list("lf", [run]))
    root = b.key("ROOT", flags=ROOT_FLAGS, subkey_count=1, subkey_list=b.subkey_list("lf", [software]))
    b.root(root)
    set_parent(b, run, software)
    set_parent(b, software, root)
    reused = b.value_list([kept])  # a live cell where a key node once was
    with Tracked(b):
        b.value("Backdoor", REG_SZ, sz("C:\\evil.exe"))
        values = [b.value("Path", REG_SZ, sz("C:\\tool")), b.value("Count", REG_DWORD, struct.pack("<I", 7))]
        tool = b.key("Tool", parent=software, value_count=2, value_list=b.value_list(values),
                     last_written=133_000_000_000_000_000)
        config = b.key("Config", parent=tool)
        b.u32(BASE + tool + 4 + 20, 1).u32(BASE + tool + 4 + 28, b.subkey_list("lh", [config]))
        orphan = b.key("Orphan", parent=reused)
        b.key("Leaf", parent=orphan)
        b.vk("Stale", REG_BINARY, 16, live_data)
    return b


@pytest.fixture
def hive(write_hive):
    return orvane.Hive.open(write_hive(scene()))


KEY_AND_VALUE_METHODS = [
    ("RegistryKey", "is_deleted", "Whether the key was recovered from a free cell, cell slack or the bytes past the "
                                  "hive bins data"),
    ("RegistryKey", "partial_path", "Get the path built from parent fields as far as they lead through readable key "
                                    "nodes, live or deleted; never raises for a broken chain"),
    ("RegistryKey", "parent", "Get the parent key (None for the root key, or when the parent is gone); a deleted "
                              "key's parent may be live or deleted"),
    ("RegistryKey", "path", "Get the key's path from below the root, names joined by backslashes (\"\" for the root); "
                            "raises ValueError when the parents do not lead to the root, as for a deleted key whose "
                            "parent is gone (see partial_path)"),
    ("RegistryKey", "class_name", "Get the key's class name (None when it has none, or for a deleted key when its "
                                  "cell has been reused)"),
    ("RegistryKey", "security_descriptor", "Get the key's self-relative security descriptor as bytes (None when it "
                                           "names none, or for a deleted key when its cell holds no security record "
                                           "any more)"),
    ("RegistryValue", "is_deleted", "Whether the value was recovered from a free cell, cell slack or the bytes past "
                                    "the hive bins data"),
]


class TestSurface:
    @pytest.mark.parametrize("owner, method, doc", [("Hive", m, d) for m, d in HIVE_METHODS] + KEY_AND_VALUE_METHODS,
                             ids=lambda x: x if isinstance(x, str) and " " not in x else "")
    def test_signature_and_doc(self, owner, method, doc):
        function = getattr(getattr(orvane, owner), method)
        assert str(inspect.signature(function)) == "(self, /)"
        assert function.__doc__ == doc
        assert function.__text_signature__ == "($self)"

    def test_walk_doc(self):
        assert orvane.RegistryKey.walk.__doc__ == (
            "Iterate over (path, key) pairs: this key (path \"\"), then every key below it, depth first; "
            "on_error(path, exception) is called for subkeys that cannot be read, which otherwise raise; a deleted "
            "key walks the deleted keys recovered below it and never calls on_error")


class TestDeletedKeys:
    def test_found_in_file_order_with_partial_paths(self, hive):
        keys = hive.deleted_keys()
        assert [k.partial_path() for k in keys] == ["Software\\Tool", "Software\\Tool\\Config", "Orphan",
                                                    "Orphan\\Leaf"]
        assert all(k.is_deleted() for k in keys)
        assert repr(keys[0]) == "RegistryKey(name='Tool', subkeys=1, values=2)"

    def test_live_keys_are_not_deleted(self, hive):
        root = hive.root_key()
        software = root.subkeys()[0]
        run = software.subkeys()[0]
        assert not any(k.is_deleted() for k in (root, software, run))
        assert [k.partial_path() for k in (root, software, run)] == ["", "Software", "Software\\Run"]
        assert not run.values()[0].is_deleted()

    def test_values_subkeys_and_time_of_a_deleted_key(self, hive):
        tool = hive.deleted_keys()[0]
        assert [(v.name(), v.data().as_string() if v.data().is_string() else v.data().as_dword())
                for v in tool.values()] == [("Path", "C:\\tool"), ("Count", 7)]
        assert all(v.is_deleted() for v in tool.values())
        assert tool.value("path").raw_data() == sz("C:\\tool")
        with pytest.raises(ValueError, match=r"^Not found: Value 'Missing'$"):
            tool.value("Missing")
        config = tool.subkeys()
        assert [k.name() for k in config] == ["Config"] and config[0].is_deleted()
        assert config[0].partial_path() == "Software\\Tool\\Config"
        assert config[0].subkeys() == [] and config[0].values() == []
        assert tool.last_written_timestamp() == 133_000_000_000_000_000 // 10_000_000 - 11_644_473_600

    def test_keys_outlive_the_hive_object(self, write_hive):
        keys = orvane.Hive.open(write_hive(scene())).deleted_keys()
        gc.collect()
        assert [v.name() for v in keys[0].values()] == ["Path", "Count"]
        # Each key holds its own copy of its record's node, names included.
        assert [k.name() for k in keys] == ["Tool", "Config", "Orphan", "Leaf"]
        assert repr(keys[0]) == "RegistryKey(name='Tool', subkeys=1, values=2)"
        assert [k.name() for k in keys[0].subkeys()] == ["Config"]


class TestDeletedValues:
    def test_found_in_file_order_with_data(self, hive):
        values = hive.deleted_values()
        assert [v.name() for v in values] == ["Backdoor", "Path", "Count", "Stale"]
        assert all(v.is_deleted() for v in values)
        assert values[0].data().as_string() == "C:\\evil.exe"
        assert values[2].raw_data() == struct.pack("<I", 7)

    def test_reused_data_cell_gives_no_data(self, hive):
        stale = hive.deleted_values()[-1]
        assert stale.raw_data() == b"" and stale.data_size() == 0 and stale.data().is_none()
        assert stale.value_type().type_name() == "REG_BINARY"

    def test_hive_without_free_space_has_none(self, open_tree):
        from hive_builder import Key, Value
        hive = open_tree(Key("ROOT", [Value("v", REG_DWORD, b"\x01\0\0\0")], [Key("A")]))
        assert hive.deleted_keys() == [] and hive.deleted_values() == []


CORPUS_COUNTS = {  # deleted keys and values found, as the C++ corpus test pins them
    "NTUSER.DAT": (103, 415), "UsrClass.dat": (94, 221), "amcache.hve": (0, 1), "SAM": (3, 4), "SECURITY": (0, 1),
    "BCD": (4, 4),
}


@pytest.mark.parametrize("name", list(CORPUS_COUNTS))
def test_corpus(corpus_dir, name):
    hive = orvane.Hive.open(str(corpus_dir / name))
    keys, values = hive.deleted_keys(), hive.deleted_values()
    assert (len(keys), len(values)) == CORPUS_COUNTS[name]
    # Every accessor of what was found works, and reads only deleted records.
    for key in keys:
        assert key.is_deleted() and key.partial_path().endswith(key.name())
        assert all(v.is_deleted() for v in key.values())
        assert all(k.is_deleted() for k in key.subkeys())
    assert all(v.is_deleted() for v in values)


# A deleted key "Gone" below the live key Software, with a class name, a
# security record, a value and a deleted subkey "Sub", its record placed where
# the scan finds deleted records. Only a record at the start of a free cell
# has a size word of its own; the others must be read without one.
GONE_WRITTEN = 133_000_000_000_000_000
DESCRIPTOR = b"\x01\x00\x04\x80" + bytes(range(16))
PLACES = ["free cell", "inside merged free cell", "slack of a live cell", "past the hive bins data"]


def sk_payload(descriptor: bytes) -> bytes:
    return b"sk" + struct.pack("<HIIII", 0, 0, 0, 1, len(descriptor)) + descriptor


class Placed:
    """The builder and the cell offsets of Gone, its parent Software, Sub, and
    a live cell (the root's class name) where records once were."""

    def __init__(self, b, gone, software, sub, reused) -> None:
        self.b, self.gone, self.software, self.sub, self.reused = b, gone, software, sub, reused


def place_gone(place: str) -> Placed:
    b = HiveBuilder()
    software = b.key("Software")
    reused = b.data_cell(bytes(64))
    root = b.key("ROOT", flags=ROOT_FLAGS, subkey_count=1, subkey_list=b.subkey_list("lf", [software]),
                 class_name=reused, class_name_length=2)
    b.root(root)
    set_parent(b, software, root)
    security = b.add_cell(sk_payload(DESCRIPTOR))
    with Tracked(b):
        class_name = b.data_cell("Cls".encode("utf-16-le"))
        value_list = b.value_list([b.value("V", REG_SZ, sz("hello"))])
        sub = b.key("Sub")
        subkey_list = b.subkey_list("lf", [sub])
    fields = dict(parent=software, last_written=GONE_WRITTEN, value_count=1, value_list=value_list, subkey_count=1,
                  subkey_list=subkey_list, security=security, class_name=class_name, class_name_length=6)
    record = nk_payload("Gone", **fields)
    if place == "free cell":
        gone = b.add_cell(record)
        b.free(gone)
    elif place == "inside merged free cell":
        merged = b.add_cell(b"\x11" * 40 + record)  # an older record's tail, then Gone
        b.free(merged)
        gone = merged + 40
    elif place == "slack of a live cell":
        host = b.add_cell(nk_payload("H", parent=software) + bytes(3) + record)
        gone = host + 80  # 77 bytes of record, then the next 8-byte boundary
    else:
        end = len(b.image) - BASE
        b.add_hbin()
        b.u32(40, end)  # the bin past the recorded hive bins data, its bytes zero
        gone = end + 40
        b.raw(BASE + gone + 4, record)
    set_parent(b, sub, gone)
    return Placed(b, gone, software, sub, reused)


def deleted_named(hive, name):
    return next(k for k in hive.deleted_keys() if k.name() == name)


class TestAccessorsOfDeletedKeys:
    @pytest.mark.parametrize("place", PLACES)
    def test_every_accessor_reads_the_recovered_record(self, write_hive, place):
        placed = place_gone(place)
        gone_at, software_at, sub_at = placed.gone, placed.software, placed.sub
        gone = deleted_named(orvane.Hive.open(write_hive(placed.b)), "Gone")
        assert (gone.offset(), gone.is_deleted()) == (gone_at, True)
        parent = gone.parent()
        assert (parent.name(), parent.offset(), parent.is_deleted()) == ("Software", software_at, False)
        assert gone.path() == gone.partial_path() == "Software\\Gone"
        assert gone.class_name() == "Cls"
        assert gone.security_descriptor() == DESCRIPTOR
        assert gone.last_written_filetime() == GONE_WRITTEN
        assert gone.last_written() == datetime(2022, 6, 18, 4, 26, 40, tzinfo=timezone.utc)
        assert gone.last_written_timestamp() == 1_655_526_400
        assert [(v.name(), v.data().as_string(), v.is_deleted()) for v in gone.values()] == [("V", "hello", True)]
        assert gone.value("v").raw_data() == sz("hello")
        assert [(k.name(), k.offset(), k.is_deleted()) for k in gone.subkeys()] == [("Sub", sub_at, True)]
        sub = gone.subkey("\\SUB")
        assert (sub.offset(), sub.is_deleted(), sub.path()) == (sub_at, True, "Software\\Gone\\Sub")
        assert (sub.parent().offset(), sub.parent().is_deleted()) == (gone_at, True)
        assert gone.subkey("").offset() == gone_at
        walked = [(path, k.offset(), k.is_deleted()) for path, k in gone.walk(on_error=None)]
        assert walked == [("", gone_at, True), ("Sub", sub_at, True)]

    @pytest.mark.parametrize("place", PLACES)
    @pytest.mark.parametrize("call, error", [
        (lambda k: k.value("W"), "Not found: Value 'W'"),
        (lambda k: k.subkey("Sub\\X"), "Not found: Key 'Sub\\X'"),
    ], ids=["value", "subkey"])
    def test_missing_names(self, write_hive, place, call, error):
        gone = deleted_named(orvane.Hive.open(write_hive(place_gone(place).b)), "Gone")
        with pytest.raises(ValueError) as raised:
            call(gone)
        assert str(raised.value) == error

    @pytest.mark.parametrize("field", ["class_name", "value_list", "subkey_list", "security"])
    def test_reused_cells_give_nothing_foreign(self, write_hive, field):
        placed = place_gone("inside merged free cell")
        field_at = {"class_name": 48, "value_list": 40, "subkey_list": 28, "security": 44}[field]
        placed.b.u32(BASE + placed.gone + 4 + field_at, placed.reused)
        gone = deleted_named(orvane.Hive.open(write_hive(placed.b)), "Gone")
        got = (gone.class_name(), gone.security_descriptor(), [v.name() for v in gone.values()],
               [k.name() for k in gone.subkeys()])
        expected = {"class_name": (None, DESCRIPTOR, ["V"], ["Sub"]), "value_list": ("Cls", DESCRIPTOR, [], ["Sub"]),
                    "subkey_list": ("Cls", DESCRIPTOR, ["V"], []), "security": ("Cls", None, ["V"], ["Sub"])}
        assert got == expected[field]

    @pytest.mark.parametrize("place", PLACES)
    def test_parent_gone(self, write_hive, place):
        placed = place_gone(place)
        set_parent(placed.b, placed.gone, placed.reused)
        gone = deleted_named(orvane.Hive.open(write_hive(placed.b)), "Gone")
        assert gone.parent() is None and gone.partial_path() == "Gone"
        with pytest.raises(ValueError) as raised:
            gone.path()
        assert str(raised.value) == (f"Invalid format: Key at offset {placed.gone:#x} has a parent chain that "
                                     f"breaks at offset {placed.reused:#x}")

    def test_chain_of_deleted_parents(self, write_hive):
        placed = place_gone("slack of a live cell")
        with Tracked(placed.b):
            middle = placed.b.key("Middle", parent=placed.software)
        set_parent(placed.b, placed.gone, middle)
        hive = orvane.Hive.open(write_hive(placed.b))
        gone = deleted_named(hive, "Gone")
        assert (gone.parent().name(), gone.parent().is_deleted()) == ("Middle", True)
        assert gone.path() == "Software\\Middle\\Gone"
        assert gone.parent().parent().offset() == placed.software

    def test_walk_of_a_deleted_tree_is_depth_first_in_list_order(self, write_hive):
        b = HiveBuilder()
        root = b.key("ROOT", flags=ROOT_FLAGS)
        b.root(root)
        with Tracked(b):
            top = b.key("Top", parent=root)
            a, c = b.key("A", parent=top), b.key("C", parent=top)
            a1 = b.key("A1", parent=a)
            b.u32(BASE + a + 4 + 20, 1).u32(BASE + a + 4 + 28, b.subkey_list("li", [a1, top]))  # Top: not A's
            b.u32(BASE + top + 4 + 20, 2).u32(BASE + top + 4 + 28, b.subkey_list("lh", [a, c]))
        top_key = deleted_named(orvane.Hive.open(write_hive(b)), "Top")
        assert [(path, k.name()) for path, k in top_key.walk()] == [("", "Top"), ("A", "A"), ("A\\A1", "A1"),
                                                                    ("C", "C")]

    def test_walk_checks_on_error_as_for_a_live_key(self, write_hive):
        b = HiveBuilder()
        root = b.key("ROOT", flags=ROOT_FLAGS)
        b.root(root)
        with Tracked(b):
            b.key("Top", parent=root)
        hive = orvane.Hive.open(write_hive(b))
        for key in (hive.root_key(), deleted_named(hive, "Top")):
            with pytest.raises(TypeError, match=r"^on_error must be callable or None, not int$"):
                key.walk(on_error=3)
            assert [path for path, _ in key.walk(on_error=None)] == [""]

    @pytest.mark.parametrize("depth, fits", [(8, True), (24, False)])
    def test_walk_of_deep_long_names_is_bounded(self, write_hive, depth, fits):
        # Paths of a chain of 255-character names grow with the square of its
        # depth; past three times the image the walk fails instead.
        b = HiveBuilder()
        root = b.key("ROOT", flags=ROOT_FLAGS)
        b.root(root)
        with Tracked(b):
            chain = [b.key(f"{level:03d}" + "x" * 252, parent=root) for level in range(depth)]
            for upper, lower in zip(chain, chain[1:]):
                set_parent(b, lower, upper)
                b.u32(BASE + upper + 4 + 20, 1).u32(BASE + upper + 4 + 28, b.subkey_list("li", [lower]))
        top = next(k for k in orvane.Hive.open(write_hive(b)).deleted_keys() if k.offset() == chain[0])
        if fits:
            assert [path.count("\\") for path, _ in top.walk()] == [0] + list(range(depth - 1))
            return
        with pytest.raises(ValueError) as raised:
            top.walk()
        assert str(raised.value) == (f"Invalid format: Deleted keys below offset {chain[0]:#x} name more than the "
                                     "hive holds")

    def test_parent_chain_that_comes_back(self, write_hive):
        placed = place_gone("free cell")
        gone_at = placed.gone
        with Tracked(placed.b):
            middle = placed.b.key("Middle", parent=gone_at)
        set_parent(placed.b, gone_at, middle)
        gone = deleted_named(orvane.Hive.open(write_hive(placed.b)), "Gone")
        with pytest.raises(ValueError) as raised:
            gone.path()
        assert str(raised.value) == (f"Invalid format: Key at offset {gone_at:#x} has a parent chain that comes "
                                     f"back to offset {gone_at:#x}")
        assert gone.partial_path() == "Middle\\Gone"


class TestRemnantBins:
    """Bins left past the hive bins data: their cells come back as deleted,
    whether their size words say allocated or free."""

    @staticmethod
    def truncated_hive(offset_field_shift: int = 0):
        b = HiveBuilder()
        root = b.key("ROOT", flags=0x2C)
        end = b.add_hbin()
        b.u32(BASE + end + 4, end + offset_field_shift)
        moved = lambda at: at + offset_field_shift  # noqa: E731
        data = b.data_cell(sz("remnant"))
        value = b.vk("Text", REG_SZ, len(sz("remnant")), moved(data))
        nameless = b.vk("", REG_DWORD, 0x80000004, 7)
        values = b.value_list([moved(value), moved(nameless)])
        old = b.key("Old", parent=root if not offset_field_shift else 0x7FFF0, value_count=2, value_list=moved(values))
        b.u32(40, end)
        return b, old

    @pytest.mark.parametrize("shift", [0, 0x40000], ids=["same_layout", "other_layout"])
    def test_keys_and_values_of_old_bins(self, write_hive, shift):
        b, old = self.truncated_hive(shift)
        hive = orvane.Hive.open(write_hive(b))
        [key] = hive.deleted_keys()
        assert (key.name(), key.offset(), key.is_deleted(), key.partial_path()) == ("Old", old, True, "Old")
        assert [(v.name(), v.as_py()) for v in key.values()] == [("Text", "remnant"), ("(default)", 7)]
        assert sorted(v.name() for v in hive.deleted_values()) == ["(default)", "Text"]
        assert hive.remnant_bins() == [(0x1000, 0x1000 + shift, 0x1000)]
        assert list(hive.walk()) and [p for p, _ in hive.walk()] == [""]

    def test_info_counts_them(self, write_hive):
        from cli_runner import run
        path = write_hive(self.truncated_hive()[0])
        assert "  remnant bins:        1 (4,096 bytes past the hive bins data)\n" in run("info", path).stdout
        plain = write_hive(self.truncated_hive()[0].u32(40, 0x2000))
        assert "remnant bins" not in run("info", plain).stdout
