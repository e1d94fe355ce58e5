#!/usr/bin/env python3
"""Benchmark: the command line's bulk jobs against a bare walk of the same hive.

For the largest corpus hive (UsrClass.dat) and a synthetic hive of 200k keys
(bench/make_hive.py): `orvane dump --format jsonl` and `orvane timeline`, run
in this process through orvane_cli.app.main with the output going to a
temporary file, against two walks from Python: the bare walk
(`for path, key in hive.walk(): pass`) and the full walk that reads what the
dump reads (every key's time, class name and counts; every value's name,
type, size and data). Best of ROUNDS; a separate process adds the
interpreter's start-up (about 40 ms) to each command.

    PYTHONPATH=build/dev:src python bench/cli.py [--rounds N] [--keys N]
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

import orvane  # noqa: E402
from bench import best_of  # noqa: E402
from make_hive import build  # noqa: E402
from orvane_cli.app import main as cli  # noqa: E402

CORPUS = HERE.parent / "tests" / "data" / "corpus"


def bare_walk(path: str) -> int:
    keys = 0
    for _path, _key in orvane.Hive.open(path).walk():
        keys += 1
    return keys


def full_walk(path: str) -> int:
    keys = 0
    for _path, key in orvane.Hive.open(path).walk():
        keys += 1
        key.last_written_filetime(), key.class_name(), key.subkey_count()
        for value in key.values():
            value.name(), value.value_type().type_id(), value.data_size()
            try:
                value.as_py()
            except ValueError:
                pass
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
    print(f"| {name} | {keys:,} | bare walk | {bare:.3f} | {keys / bare:,.0f} | 1.0 |")
    print(f"| | | full walk | {full:.3f} | {keys / full:,.0f} | {full / bare:.1f} |")
    print(f"| | | dump jsonl ({size / 2**20:.1f} MiB) | {dump:.3f} | {keys / dump:,.0f} | {dump / bare:.1f} |")
    print(f"| | | timeline | {timeline:.3f} | {keys / timeline:,.0f} | {timeline / bare:.1f} |")


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
        print("| hive | keys | job | seconds | keys/s | × bare walk |")
        print("|---|---:|---|---:|---:|---:|")
        measure("UsrClass.dat", usrclass, args.rounds, out)
        measure(f"synthetic {args.keys // 1000}k", synthetic, args.rounds, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
