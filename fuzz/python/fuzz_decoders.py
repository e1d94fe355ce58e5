#!/usr/bin/env python3
"""Fuzzes the binary decoders of orvane_artifacts with atheris (libFuzzer for
Python), or with random and mutated bytes where atheris is not installed.

A decoder reports bad bytes as problems in what it returns and never raises;
any exception it lets out is a finding.

    fuzz_decoders.py --list                  the decoders that import here
    fuzz_decoders.py NAME [LIBFUZZER FLAGS]  fuzz one, e.g. -max_total_time=10

The decoders come from DECODERS alone: add a row there for a new one.
"""

from __future__ import annotations

import importlib
import os
import random
import struct
import sys
import time
from collections.abc import Callable
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "src"))


def _whole(function: Callable) -> Callable[[bytes], object]:
    return function


def _at_offset(function: Callable) -> Callable[[bytes], object]:
    # The first byte picks the offset, so reads at and past the end are tried.
    return lambda data: function(data[1:], data[0] if data else 0)


def _number(function: Callable) -> Callable[[bytes], object]:
    return lambda data: function(int.from_bytes(data[:8], "little") if data else None)


def _counts(function: Callable) -> Callable[[bytes], object]:
    # The first byte picks the layout version to assume, or none.
    def call(data: bytes) -> object:
        version = data[0] if data and data[0] < 8 else None
        return function(data[1:], version)
    return call


def _shimcache(function: Callable) -> Callable[[bytes], object]:
    def call(data: bytes) -> object:
        architecture = (None, "x86", "x64")[data[0] % 3] if data else None
        return function(data[1:], architecture)
    return call


def _with_problems(function: Callable) -> Callable[[bytes], object]:
    # Decoders that report what they cannot read into a list they are given.
    return lambda data: function(data, [])


def _overrun_is_a_problem(function: Callable) -> Callable[[bytes], object]:
    # Overrun is the documented way a fixed record too short for its fields
    # fails: the extractor turns it into one problem line. Anything else is a fault.
    from orvane_artifacts.binary import Overrun

    def call(data: bytes) -> object:
        try:
            return function(data)
        except Overrun:
            return None
    return call


# name: (module, function, how the input becomes its arguments)
DECODERS: dict[str, tuple[str, str, Callable[[Callable], Callable[[bytes], object]]]] = {
    "shell_items.parse_id_list": ("orvane_artifacts.shell_items", "parse_id_list", _whole),
    "shell_items.decode_item": ("orvane_artifacts.shell_items", "decode_item", _whole),
    "userassist_data.decode_counts": ("orvane_artifacts.userassist_data", "decode_counts", _counts),
    "mru.listex_order": ("orvane_artifacts.mru", "listex_order", _whole),
    "shimcache.parse": ("orvane_artifacts.shimcache", "parse", _shimcache),
    "mounted_devices.decode_mount": ("orvane_artifacts.mounted_devices", "decode_mount", _whole),
    "binary.filetime": ("orvane_artifacts.binary", "filetime", _number),
    "binary.filetime_at": ("orvane_artifacts.binary", "filetime_at", _at_offset),
    "binary.systemtime": ("orvane_artifacts.binary", "systemtime", _at_offset),
    "binary.sid": ("orvane_artifacts.binary", "sid", _at_offset),
    "binary.guid": ("orvane_artifacts.binary", "guid", _at_offset),
    "binary.utf16_list": ("orvane_artifacts.binary", "utf16_list", _whole),
    "sam.parse_f": ("orvane_artifacts.sam", "parse_f", _overrun_is_a_problem),
    "sam.parse_v": ("orvane_artifacts.sam", "parse_v", _with_problems),
    "system_settings.rename_pairs": ("orvane_artifacts.system_settings", "rename_pairs", _whole),
}


def load(name: str) -> Callable[[bytes], object] | None:
    """The decoder `name` as a function of one input, or None if its module or
    function is not there (yet)."""
    module_name, function_name, adapt = DECODERS[name]
    try:
        module = importlib.import_module(module_name)
    except ImportError:
        return None
    function = getattr(module, function_name, None)
    return adapt(function) if callable(function) else None


def available() -> list[str]:
    return [name for name in DECODERS if load(name) is not None]


def random_inputs(seconds: float, seed: int) -> "Iterator[bytes]":
    """Bytes for the fallback without atheris: random lengths and contents,
    with runs of small numbers and signatures that decoders look for."""
    rng = random.Random(seed)
    tokens = [b"\x00" * 4, b"\xff" * 4, b"1SPS", b"10ts", b"\xef\xbe", b"DMIO:ID:", struct.pack("<I", 0x34),
              struct.pack("<I", 0x80), struct.pack("<H", 0x14), struct.pack("<H", 0xFFFF)]
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        parts = []
        for _ in range(rng.randrange(1, 12)):
            pick = rng.random()
            if pick < 0.3:
                parts.append(rng.choice(tokens))
            elif pick < 0.6:
                parts.append(bytes([rng.randrange(4)]) * rng.randrange(1, 16))
            else:
                parts.append(rng.randbytes(rng.randrange(0, 64)))
        yield b"".join(parts)


def fallback(name: str, decode: Callable[[bytes], object], args: list[str]) -> int:
    seconds = 10.0
    for arg in args:
        if arg.startswith("-max_total_time="):
            seconds = float(arg.split("=", 1)[1])
    runs = 0
    for data in random_inputs(seconds, seed=int.from_bytes(os.urandom(4), "little")):
        runs += 1
        try:
            decode(data)
        except Exception:
            print(f"{name}: raised on {data.hex()}", file=sys.stderr)
            raise
    print(f"{name}: {runs} random inputs, no exception (atheris not installed)")
    return 0


def main(argv: list[str]) -> int:
    if len(argv) >= 2 and argv[1] == "--list":
        print("\n".join(available()))
        return 0
    if len(argv) < 2 or argv[1] not in DECODERS:
        print(__doc__, file=sys.stderr)
        return 2
    name = argv[1]
    try:
        import atheris
    except ImportError:
        decode = load(name)
        if decode is None:
            print(f"{name}: not in this tree", file=sys.stderr)
            return 2
        return fallback(name, decode, argv[2:])
    with atheris.instrument_imports(include=["orvane_artifacts"]):
        decode = load(name)
    if decode is None:
        print(f"{name}: not in this tree", file=sys.stderr)
        return 2

    def test_one_input(data: bytes) -> None:
        decode(data)  # an exception ends the run as a finding

    atheris.Setup([argv[0], *argv[2:]], test_one_input)
    atheris.Fuzz()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
