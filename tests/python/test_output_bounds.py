"""Lists that name the same record over and over: what one call returns stays
within the size of the hive (three times it for names, which decoding can
grow), instead of growing with the square of the file's size. Sound hives,
whose records are distinct, are never cut."""

from __future__ import annotations

import orvane
import pytest

from hive_builder import REG_BINARY, REG_DWORD, HiveBuilder

REPEATS = 2000


def with_root(b: HiveBuilder, **fields) -> HiveBuilder:
    b.root(b.key("ROOT", **fields))
    return b


def test_values_stop_reading_data_once_the_hive_size_is_read(write_hive):
    b = HiveBuilder()
    data = bytes(range(256)) * 63 + bytes(216)  # 16344 bytes, one cell
    vk = b.vk("Same", REG_BINARY, len(data), b.data_cell(data))
    image = with_root(b, value_count=REPEATS, value_list=b.value_list([vk] * REPEATS)).build()
    values = orvane.Hive.open(write_hive(image)).root_key().values()
    assert len(values) == REPEATS
    full = [v for v in values if v.raw_data() == data]
    assert len(full) == len(image) // len(data)  # as many copies as the file could hold
    assert all(v.data_size() == 0 for v in values[len(full):])
    assert sum(v.data_size() for v in values) <= len(image)


def test_values_of_a_sound_hive_keep_all_their_data(write_hive):
    b = HiveBuilder()
    blobs = [bytes([i]) * 16344 for i in range(20)]
    offsets = [b.value(f"v{i}", REG_BINARY, blob) for i, blob in enumerate(blobs)]
    image = with_root(b, value_count=len(offsets), value_list=b.value_list(offsets)).build()
    values = orvane.Hive.open(write_hive(image)).root_key().values()
    assert [v.raw_data() for v in values] == blobs


@pytest.mark.parametrize("method", ["values", "value"], ids=["values", "value"])
def test_value_list_repeating_a_long_name_is_refused(method, write_hive):
    b = HiveBuilder()
    vk = b.vk(b"N" * 30000, REG_DWORD, 4, 1, flags=1)
    value_list = b.value_list([vk] * REPEATS)
    with_root(b, value_count=REPEATS, value_list=value_list)
    root = orvane.Hive.open(write_hive(b)).root_key()
    with pytest.raises(ValueError) as raised:
        root.values() if method == "values" else root.value("N" * 30000)
    assert str(raised.value) == f"Invalid format: Value list at offset {value_list:#x} names more than the hive holds"


def test_subkey_list_repeating_a_long_name_is_refused(write_hive):
    b = HiveBuilder()
    child = b.key(b"K" * 30000, flags=0x20)
    subkey_list = b.subkey_list("li", [child] * REPEATS)
    with_root(b, subkey_count=REPEATS, subkey_list=subkey_list)
    root = orvane.Hive.open(write_hive(b)).root_key()
    with pytest.raises(ValueError) as raised:
        root.subkeys()
    assert str(raised.value) == f"Invalid format: Subkey list at offset {subkey_list:#x} names more than the hive holds"


def test_subkey_list_repeating_a_short_name_is_read_whole(write_hive):
    b = HiveBuilder()
    child = b.key("Child")
    with_root(b, subkey_count=REPEATS, subkey_list=b.subkey_list("li", [child] * REPEATS))
    subkeys = orvane.Hive.open(write_hive(b)).root_key().subkeys()
    assert [k.name() for k in subkeys] == ["Child"] * REPEATS
