#!/usr/bin/env python3
"""Benchmark: the command line's bulk jobs against a bare walk of the same hive.

For the largest corpus hive (UsrClass.dat) and a synthetic hive of 200k keys
(bench/make_hive.py): `orvane dump --format jsonl` and `orvane timeline`, run
in this process through orvane_cli.app.main with the output going to a
temporary file, against two walks from Python: the bare walk of the keys
(`for path, key in hive.walk(): pass`) and the walk of keys and values of
bench/walk.py (every key's name, time and counts; every value's name, type,
raw bytes and decoded data), which reads what the dump reads. Best of
ROUNDS; a separate process adds the interpreter's start-up (about 40 ms) to
each command.

    PYTHONPATH=build/dev python bench/cli.py [--rounds N] [--keys N]
"""

from __future__ import annotations

import argparse
import lzma
import os
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(1, str(HERE.parent / "src"))  # the command line, when run from a checkout

import orvane  # noqa: E402
from timing import best_of  # noqa: E402
from make_hive import build  # noqa: E402
from walk import walk as full_walk  # noqa: E402
from orvane_cli.app import main as cli  # noqa: E402

CORPUS = HERE.parent / "tests" / "data" / "corpus"


def bare_walk(path: str) -> int:
    keys = 0
    for _path, _key in orvane.Hive.open(path).walk():
        keys += 1
    return keys


def run_cli(*args: str) -> None:
    status = cli(list(args))
    if status != 0:
        raise SystemExit(f"orvane {' '.join(args)} exited {status}")


def measure(name: str, path: str, rounds: int, out: str) -> None:
    keys = bare_walk(path)
    bare = best_of(rounds, bare_walk, path)
    full = best_of(rounds, full_walk, path)
    dump = best_of(rounds, run_cli, "dump", "--logs", "none", "--format", "jsonl", "-o", out, path)
    size = os.path.getsize(out)
    timeline = best_of(rounds, run_cli, "timeline", "--logs", "none", "-o", out, path)
    label = f"| {name} | {keys:,} "
    for job, seconds in [("walk of the keys", bare), ("walk of keys and values", full),
                         (f"dump jsonl ({size / 2**20:.1f} MiB)", dump), ("timeline", timeline)]:
        print(f"{label}| {job} | {seconds:.3f} | {keys / seconds:,.0f} | {seconds / bare:.1f} | {seconds / full:.2f} |")
        label = "| | "


def table(hives: list[tuple[str, str]], rounds: int, out: str) -> None:
    print("| hive | keys | job | seconds | keys/s | × walk of the keys | × walk of keys and values |")
    print("|---|---:|---|---:|---:|---:|---:|")
    for name, path in hives:
        measure(name, path, rounds, out)
    print()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--keys", type=int, default=200_000)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="orvane-bench-cli-") as folder:
        usrclass = os.path.join(folder, "UsrClass.dat")
        Path(usrclass).write_bytes(lzma.decompress((CORPUS / "UsrClass.dat.xz").read_bytes()))
        synthetic = os.path.join(folder, "synthetic.hive")
        Path(synthetic).write_bytes(build(args.keys)[0])
        out = os.path.join(folder, "out")
        table([("UsrClass.dat", usrclass), (f"synthetic {args.keys // 1000}k", synthetic)], args.rounds, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
