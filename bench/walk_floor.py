#!/usr/bin/env python3
"""Benchmark: how much of bench/walk.py is the interpreter's own, whatever the binding does.

The same loop as bench/walk.py runs over a stand-in tree of the same shape,
built beforehand from a real walk, whose every method is a builtin of the
interpreter that makes the same kind of new object the real method returns:
a new str for a name, a new int for a time, a new list of the values and of
the subkeys, a new bytes copy of the raw data, a new object for the type and
the decoded data. It leaves out everything the binding must add to that:
the key and value objects themselves, the release of the interpreter lock,
the key cache and the decoding. So the time is a floor under any binding of
these methods, and the Python walk costs at least this floor plus the C++
walk's own work.

    PYTHONPATH=build/dev python bench/walk_floor.py [--rounds N] [--cpp-walk PATH] [HIVE ...]
"""

from __future__ import annotations

import sys
import tempfile
from pathlib import Path

import orvane
from timing import best_of
from walk import corpus_paths, hive_arguments, time_cpp, walk, walk_keys


class StandIn:
    """A key or a value: attributes bound to builtins, looked up and called as the methods are."""

    __slots__ = ("name", "last_written_timestamp", "subkey_count", "value_count", "values", "subkeys",
                 "value_type", "raw_data", "data")


def value_stand_in(value: orvane.RegistryValue) -> StandIn:
    stand_in = StandIn()
    stand_in.name = value.name().encode().decode  # a new str on each call
    stand_in.value_type = object  # a new object on each call
    stand_in.raw_data = memoryview(value.raw_data()).tobytes  # a new bytes copy on each call
    stand_in.data = object
    return stand_in


def key_stand_in(key: orvane.RegistryKey) -> StandIn:
    stand_in = StandIn()
    stand_in.name = key.name().encode().decode
    stand_in.last_written_timestamp = (-(key.last_written_timestamp() or 0) - 2**40).__neg__  # a new int
    stand_in.subkey_count = key.subkey_count().__int__
    stand_in.value_count = key.value_count().__int__
    stand_in.values = [value_stand_in(value) for value in key.values()].copy  # a new list on each call
    stand_in.subkeys = [key_stand_in(subkey) for subkey in key.subkeys()].copy
    return stand_in


HEADER = ["hive", "walk py ms", "floor ms", "walk c++ ms", "py/c++", "floor/c++"]


def rows(hives: list[tuple[str, str]], program, rounds: int) -> list[list[str]]:
    """A row of HEADER for each (name, path)."""
    result = []
    for name, path in hives:
        root = key_stand_in(orvane.Hive.open(path).root_key())
        counts = walk_keys([root])
        py = best_of(rounds, walk, path)
        floor = best_of(rounds, walk_keys, [root])
        cpp_keys, cpp_values, cpp = time_cpp(program, path, rounds)
        if counts != (cpp_keys, cpp_values):
            sys.exit(f"{path}: the walks disagree: {counts} in the stand-in, {(cpp_keys, cpp_values)} in C++")
        result.append([name, f"{py * 1e3:.2f}", f"{floor * 1e3:.2f}", f"{cpp * 1e3:.2f}", f"{py / cpp:.2f}",
                       f"{floor / cpp:.2f}"])
    return result


def main() -> int:
    args, program = hive_arguments(__doc__)
    with tempfile.TemporaryDirectory() as scratch:
        paths = args.hives or corpus_paths(scratch)
        print(" | ".join(HEADER))
        for row in rows([(Path(path).name, path) for path in paths], program, args.rounds):
            print(" | ".join(row))
    return 0


if __name__ == "__main__":
    sys.exit(main())
