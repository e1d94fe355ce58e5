"""Builder trees for the artifact tests: hives shaped like SYSTEM, SOFTWARE,
SAM ... with only the keys a test needs."""

from __future__ import annotations

import struct

from hive_builder import REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD, REG_SZ, Key, Value, multi_sz, sz


def dword(name: str, number: int) -> Value:
    return Value(name, REG_DWORD, struct.pack("<I", number & 0xFFFFFFFF))


def qword(name: str, number: int) -> Value:
    return Value(name, REG_QWORD, struct.pack("<Q", number))


def text(name: str, content: str, value_type: int = REG_SZ) -> Value:
    return Value(name, value_type, sz(content))


def texts(name: str, *contents: str) -> Value:
    return Value(name, REG_MULTI_SZ, multi_sz(*contents))


def binary(name: str, data: bytes) -> Value:
    return Value(name, REG_BINARY, data)


def path_tree(path: str, values=(), subkeys=(), **fields) -> Key:
    """The key at a backslash path, with its parents (no values) above it;
    returns the topmost key."""
    names = path.split("\\")
    key = Key(names[-1], values, subkeys, **fields)
    for name in reversed(names[:-1]):
        key = Key(name, [], [key])
    return key


def merge(keys: list[Key]) -> list[Key]:
    """Keys of the same name at one level merged into one (values and
    subkeys joined), so trees built path by path can share parents."""
    by_name: dict[str, Key] = {}
    for key in keys:
        name = key.name.lower() if isinstance(key.name, str) else key.name
        if name in by_name:
            into = by_name[name]
            into.values.extend(key.values)
            into.subkeys.extend(key.subkeys)
            into.fields.update(key.fields)
        else:
            by_name[name] = Key(key.name, list(key.values), list(key.subkeys), list_kind=key.list_kind,
                                **key.fields)
    for key in by_name.values():
        key.subkeys = merge(key.subkeys)
    return list(by_name.values())


def hive_of(*paths: Key, root: str = "ROOT") -> Key:
    """A root key holding the given path trees, shared parents merged."""
    return Key(root, [], merge(list(paths)))


def system(*paths: Key, current: int = 1, sets=(1,)) -> Key:
    """A SYSTEM-shaped hive: Select naming `current`, the control sets, and
    the given paths (written relative to the root, "ControlSet001\\...")."""
    select = path_tree("Select", [dword("Current", current), dword("Default", current),
                                  dword("LastKnownGood", current), dword("Failed", 0)])
    control_sets = [Key(f"ControlSet{n:03d}") for n in sets]
    return hive_of(select, *control_sets, *paths)


def software(*paths: Key) -> Key:
    """A SOFTWARE-shaped hive (Microsoft\\Windows NT\\CurrentVersion tells
    its kind) holding the given path trees."""
    return hive_of(path_tree("Microsoft\\Windows NT\\CurrentVersion"), *paths)
