"""Full walks of the real hives: every key and value reachable from the root."""

import pytest

import orvane

# Keys (the root included) and values reachable from the root, per the corpus README.
CORPUS_COUNTS = {
    "NTUSER.DAT": (1812, 4094),
    "UsrClass.dat": (6205, 12369),  # read as is, without its logs
    "amcache.hve": (2105, 17539),
    "SAM": (65, 70),
    "SECURITY": (100, 109),
    "BCD": (132, 103),
}


def full_walk(hive):
    """Counts keys and values, touching everything a reader would."""
    keys = values = undecodable = unreadable = 0
    stack = [hive.root_key()]
    while stack:
        key = stack.pop()
        keys += 1
        key.name(), key.last_written_timestamp()
        listed = key.values()
        assert len(listed) == key.value_count()
        for value in listed:
            values += 1
            assert value.data_size() == len(value.raw_data())
            value.value_type().type_name()
            try:
                str(value.data())
            except ValueError:  # e.g. a REG_DWORD of 2 bytes: the raw bytes stay readable
                undecodable += 1
            try:
                found = key.value(value.name())
            except ValueError:
                # Data that cannot be read: value() says why, values() gave no bytes.
                assert value.raw_data() == b""
                unreadable += 1
            else:
                assert found.name().lower() == value.name().lower()
        subkeys = key.subkeys()
        stack.extend(subkeys)
    return keys, values, undecodable, unreadable


@pytest.mark.parametrize("name", CORPUS_COUNTS)
def test_full_walk_reaches_every_key_and_value(corpus_dir, name):
    keys, values, undecodable, unreadable = full_walk(orvane.Hive.open(str(corpus_dir / name)))
    assert (keys, values) == CORPUS_COUNTS[name]
    assert undecodable + unreadable <= values // 100, (undecodable, unreadable)
