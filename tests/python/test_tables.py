"""Hive.keys_table() and Hive.values_table(): every column against the
per-object reads, consumed without pyarrow (column()) and through the Arrow
PyCapsule stream."""

import gc
import sys
import tracemalloc

import pytest

import orvane
from hive_builder import REG_BINARY, REG_DWORD, REG_SZ, HiveBuilder, Key, Value, sz

def arrow():
    """pyarrow, where this interpreter has it: column() needs none."""
    return pytest.importorskip("pyarrow")


CORPUS = ["NTUSER.DAT", "UsrClass.dat", "SAM", "SECURITY", "BCD", "amcache.hve", "SYSTEM"]


def walked_keys(hive, key_path=""):
    start = hive.key(key_path) if key_path else hive.root_key()
    for path, key in start.walk():
        yield path, key


def expected_values(hive):
    for path, key in walked_keys(hive):
        for value in key.values():
            yield path, value


@pytest.mark.parametrize("name", CORPUS)
def test_keys_columns_match_the_walk(corpus_dir, name):
    hive = orvane.Hive.open(str(corpus_dir / name))
    table = hive.keys_table()
    keys = list(walked_keys(hive))
    assert table.num_rows == len(keys)
    assert table.column("path") == [path for path, _ in keys]
    assert table.column("name") == [key.name() for _, key in keys]
    assert table.column("depth") == [path.count("\\") + 1 if path else 0 for path, _ in keys]
    assert table.column("last_written_filetime") == [key.last_written_filetime() for _, key in keys]
    assert table.column("offset") == [key.offset() for _, key in keys]
    assert table.column("subkey_count") == [key.subkey_count() for _, key in keys]
    assert table.column("value_count") == [key.value_count() for _, key in keys]
    assert set(table.column("is_deleted")) <= {False}
    as_arrow = arrow().table(table)
    assert as_arrow.num_rows == len(keys) and as_arrow.column_names == table.column_names


@pytest.mark.parametrize("name", CORPUS)
def test_values_columns_match_values(corpus_dir, name):
    hive = orvane.Hive.open(str(corpus_dir / name))
    table = hive.values_table()
    values = list(expected_values(hive))
    assert table.num_rows == len(values)
    assert table.column("path") == [path for path, _ in values]
    assert table.column("name") == [value.name() for _, value in values]
    assert table.column("data") == [value.raw_data() for _, value in values]
    assert table.column("offset") == [value.offset() for _, value in values]
    assert arrow().table(table).num_rows == len(values)


@pytest.fixture
def small_hive(open_tree):
    return open_tree(Key("ROOT", [Value("Text", REG_SZ, sz("héllo")), Value("Number", REG_DWORD, (7).to_bytes(4, "little")),
                                  Value("Odd", REG_SZ, b"\x41"), Value("Blob", REG_BINARY, b"\x01\x02")],
                         [Key("Sub", [Value("Inner", REG_SZ, sz("x"))])]))


def test_decoded_columns(small_hive):
    table = small_hive.values_table()
    assert table.column("name") == ["Text", "Number", "Odd", "Blob", "Inner"]
    assert table.column("string") == ["héllo", None, None, None, "x"]
    assert table.column("integer") == [None, 7, None, None, None]
    assert table.column("data")[2] == b"\x41"  # kept although it does not decode
    assert table.column("path") == ["", "", "", "", "Sub"]


def test_subtree_and_missing_key(small_hive):
    assert small_hive.keys_table("Sub").column("path") == [""]
    with pytest.raises(ValueError, match="Not found: Key 'Nope'"):
        small_hive.keys_table("Nope")


def test_deleted_rows_follow_the_live_ones(corpus_dir):
    hive = orvane.Hive.open(str(corpus_dir / "NTUSER.DAT"))
    live = hive.keys_table().num_rows
    table = hive.keys_table(deleted=True)
    flags = table.column("is_deleted")
    assert flags == [False] * live + [True] * len(hive.deleted_keys())


def test_stream_outlives_its_hive(corpus_dir):
    table = orvane.Hive.open(str(corpus_dir / "SAM")).keys_table()
    gc.collect()
    assert arrow().table(table).num_rows == 65


def test_unreadable_subkey_list_raises_from_the_stream(write_hive):
    b = HiveBuilder()
    assert b.key("ROOT", flags=0x2C, subkey_count=1, subkey_list=0x70000) == 0x20
    hive = orvane.Hive.open(write_hive(b))
    with pytest.raises(ValueError) as walked:
        list(hive.walk())
    with pytest.raises(Exception) as streamed:
        arrow().table(hive.keys_table())
    assert str(walked.value) in str(streamed.value)


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def test_a_consumer_that_stops_after_one_batch_leaks_nothing(corpus_dir):
    """Streams abandoned after their first batch, again and again: the
    batches and the stream's hold on the hive are released each time (a
    leaked batch of the SYSTEM values would add megabytes a round)."""
    pa = arrow()
    hive = orvane.Hive.open(str(corpus_dir / "SYSTEM"))
    held = sys.getrefcount(hive)

    def one_batch():
        reader = pa.RecordBatchReader.from_stream(hive.values_table())
        batch = next(iter(reader))
        assert batch.num_rows > 0
        reader.close()

    for _ in range(10):  # allocators and caches settle first
        one_batch()
    gc.collect()
    before = resident_bytes()
    tracemalloc.start()
    try:
        for _ in range(200):
            one_batch()
        gc.collect()
        python_growth = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    assert python_growth < 256 * 1024
    assert resident_bytes() - before < 32 * 1024 * 1024
    assert sys.getrefcount(hive) == held
