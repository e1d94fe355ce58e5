#!/usr/bin/env python3
"""Benchmark: a full walk of each corpus hive from Python, against the same walk
in C++ without Python (bench/cpp_walk.cpp).

Every key: name, last-written time, counts; every value: name, type, raw bytes
and decoded data. Each round opens the hive afresh, so its key cache starts
empty; the best of ROUNDS is reported. The ratio Python / C++ is the cost of
the binding.

    PYTHONPATH=build/dev python bench/walk.py [--rounds N] [--cpp-walk PATH] [HIVE ...]

Without --cpp-walk the program is looked for beside the orvane module (a build
folder configured with -DORVANE_BUILD_BENCH=ON), and built there if missing.
"""

from __future__ import annotations

import argparse
import lzma
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import orvane

CORPUS = Path(__file__).resolve().parent.parent / "tests" / "data" / "corpus"
HIVES = ["NTUSER.DAT", "UsrClass.dat", "amcache.hve", "SAM", "SECURITY", "BCD"]


def walk_keys(keys: list) -> tuple[int, int]:
    """The walk of the subtrees of the given keys, with their hives kept by the caller."""
    key_count = value_count = 0
    stack = list(keys)
    while stack:
        key = stack.pop()
        key_count += 1
        key.name(), key.last_written_timestamp(), key.subkey_count(), key.value_count()
        for value in key.values():
            value_count += 1
            value.name(), value.value_type(), value.raw_data()
            try:
                value.data()
            except ValueError:  # undecodable data costs the same in both walks
                pass
        stack.extend(reversed(key.subkeys()))
    return key_count, value_count


def walk(path: str) -> tuple[int, int]:
    return walk_keys([orvane.Hive.open(path).root_key()])


def corpus_paths(scratch: str) -> list[str]:
    """The corpus hives, unpacked into the folder `scratch`."""
    paths = []
    for name in HIVES:
        plain = Path(scratch) / name
        plain.write_bytes(lzma.decompress((CORPUS / f"{name}.xz").read_bytes()))
        paths.append(str(plain))
    return paths


def time_python(path: str, rounds: int) -> tuple[int, int, float]:
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        keys, values = walk(path)
        best = min(best, time.perf_counter() - start)
    return keys, values, best


def time_cpp(program: Path, path: str, rounds: int) -> tuple[int, int, float]:
    out = subprocess.run([str(program), path, str(rounds)], capture_output=True, text=True, check=True).stdout
    fields = dict(item.split("=") for item in out.split())
    return int(fields["keys"]), int(fields["values"]), float(fields["best_seconds"])


def find_cpp_walk(given: str | None) -> Path:
    if given:
        return Path(given)
    build = Path(orvane.__file__).resolve().parent
    program = build / "bench" / "cpp_walk"
    if not program.exists():
        if not (build / "CMakeCache.txt").exists():
            sys.exit(f"no cpp_walk beside {orvane.__file__}: build it with -DORVANE_BUILD_BENCH=ON "
                     "and pass --cpp-walk")
        print(f"building {program}", file=sys.stderr)
        subprocess.run(["cmake", "-DORVANE_BUILD_BENCH=ON", str(build)], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", str(build), "--target", "cpp_walk"], check=True,
                       stdout=subprocess.DEVNULL)
    return program


def hive_arguments(doc: str, corpus_by_default: bool = True,
                   passes: bool = False) -> tuple[argparse.Namespace, Path]:
    """The command line of the walk benchmarks (hives, --rounds, --cpp-walk, and
    --passes where asked), and the cpp_walk program."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    if passes:
        parser.add_argument("--passes", type=int, default=3, help="turns of the C++ walk and the Python job")
    if corpus_by_default:
        parser.add_argument("hives", nargs="*", help="hive files (default: the corpus)")
    else:
        parser.add_argument("hives", nargs="+", help="hive files")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--cpp-walk", help="path of the cpp_walk program")
    args = parser.parse_args()
    return args, find_cpp_walk(args.cpp_walk)


def main() -> int:
    args, program = hive_arguments(__doc__)
    with tempfile.TemporaryDirectory() as scratch:
        paths = args.hives or corpus_paths(scratch)

        print(f"{'hive':<14}{'keys':>7}{'values':>8}{'python ms':>11}{'c++ ms':>9}{'ratio':>7}"
              f"{'py keys/s':>12}{'py values/s':>13}{'c++ keys/s':>12}{'c++ values/s':>14}")
        total_py = total_cpp = 0.0
        for path in paths:
            keys, values, py = time_python(path, args.rounds)
            cpp_keys, cpp_values, cpp = time_cpp(program, path, args.rounds)
            if (keys, values) != (cpp_keys, cpp_values):
                sys.exit(f"{path}: the walks disagree: {keys}/{values} keys/values in Python, "
                         f"{cpp_keys}/{cpp_values} in C++")
            total_py, total_cpp = total_py + py, total_cpp + cpp
            print(f"{Path(path).name:<14}{keys:>7}{values:>8}{py * 1e3:>11.2f}{cpp * 1e3:>9.2f}{py / cpp:>7.2f}"
                  f"{keys / py:>12,.0f}{values / py:>13,.0f}{keys / cpp:>12,.0f}{values / cpp:>14,.0f}")
        print(f"{'all':<14}{'':>15}{total_py * 1e3:>11.2f}{total_cpp * 1e3:>9.2f}{total_py / total_cpp:>7.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
