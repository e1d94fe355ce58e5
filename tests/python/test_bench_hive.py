"""The synthetic hives of the benchmarks are what they claim to be: exactly
the asked number of keys, 0 to 10 values each, every list kind, and data
inline, in cells and in big-data records, all readable without error."""

from __future__ import annotations

import sys
from collections import Counter
from pathlib import Path

import orvane
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent.parent.parent / "bench"))
import make_hive  # noqa: E402
import walk  # noqa: E402
import walk_floor  # noqa: E402


@pytest.mark.parametrize("keys", [1, 2, 1002, 2003], ids=lambda k: f"{k}_keys")
def test_synthetic_hive_has_the_asked_keys(keys, write_hive):
    image, counts = make_hive.build(keys)
    hive = orvane.Hive.open(write_hive(image))
    seen_keys = seen_values = 0
    stack = [hive.root_key()]
    while stack:
        key = stack.pop()
        seen_keys += 1
        seen_values += len(key.values())
        stack.extend(key.subkeys())
    assert (seen_keys, seen_values) == (keys, counts.values) == (counts.keys, sum(i % 11 for i in range(keys)))


def test_synthetic_hive_mixes_list_kinds_and_data_placements(write_hive):
    # Past value 20011 the first big-data value appears; groups 0, 1, 2 use lf, lh, ri.
    image, _ = make_hive.build(4100)
    hive = orvane.Hive.open(write_hive(image))
    list_kinds = Counter()
    sizes = Counter()
    stack = [hive.root_key()]
    while stack:
        key = stack.pop()
        for value in key.values():
            size = value.data_size()
            sizes["inline" if 0 < size <= 4 else "big" if size > 16344 else "cell" if size else "empty"] += 1
            value.data()
        stack.extend(key.subkeys())
    for offset in range(0x20, len(image) - 4096, 8):
        tag = image[4096 + offset + 4:4096 + offset + 6]
        if tag in (b"lf", b"lh", b"li", b"ri"):
            list_kinds[tag.decode()] += 1
    assert set(list_kinds) == {"lf", "lh", "li", "ri"}
    assert sizes["inline"] and sizes["cell"] and sizes["big"] == 1


@pytest.mark.parametrize("name", ["NTUSER.DAT", "SAM", "BCD"])
def test_walk_floor_stand_in_has_the_shape_of_the_hive(name, corpus_dir):
    # The floor of bench/walk_floor.py means something only if its stand-in
    # tree makes the walk take the same steps, making new objects as the methods do.
    path = str(corpus_dir / name)
    hive = orvane.Hive.open(path)
    stand_in = walk_floor.key_stand_in(hive.root_key())
    assert walk.walk_keys([stand_in]) == walk.walk(path)
    # Names of one character and empty bytes are shared singletons in Python.
    real_value = next(v for _, k in hive.walk() for v in k.values() if len(v.name()) > 1 and v.data_size() > 1)
    value = walk_floor.value_stand_in(real_value)
    assert value.raw_data() == real_value.raw_data() and value.raw_data() is not value.raw_data()
    assert value.name() == real_value.name() and value.name() is not value.name()
