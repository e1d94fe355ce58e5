#!/usr/bin/env python3
"""Path lookups and whole-hive walks against what a caller writes with subkeys().

    lookup_walk.py [--rounds N] [--quick] HIVE...

Lookups: a 5-component path in NTUSER.DAT, and one key among 5,000 siblings in
"lf", "lh" and "li" lists (built here with the test-side hive builder), by
Hive.key() against a subkeys() scan comparing names level by level. Walks: every
(path, key) pair of each HIVE by Hive.walk() against the recursive subkeys()
walk that builds the same paths. Prints Markdown tables; times are the best of
the rounds.
"""

from __future__ import annotations

import argparse
import lzma
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "python"))

import orvane  # noqa: E402
from timing import best_of  # noqa: E402
from hive_builder import HiveBuilder, Key  # noqa: E402

CORPUS = HERE.parent / "tests" / "data" / "corpus"
DEEP_PATH = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"


def scan(hive, path: str):
    """Hive.key() as a caller writes it without it: subkeys() level by level."""
    key = hive.root_key()
    for component in filter(None, path.split("\\")):
        wanted = component.lower()
        key = next(k for k in key.subkeys() if k.name().lower() == wanted)
    return key


def recursive_paths(key, prefix: str, out: list) -> None:
    out.append((prefix, key))
    for sub in key.subkeys():
        recursive_paths(sub, f"{prefix}\\{sub.name()}" if prefix else sub.name(), out)


def walked(hive) -> list:
    return [(path, key) for path, key in hive.walk()]


def recursed(hive) -> list:
    out: list = []
    recursive_paths(hive.root_key(), "", out)
    return out


def sibling_name(i: int) -> str:
    """Names whose first characters differ, as GUIDs and device names mostly do."""
    return f"{i * 2654435761 % 2**32:08X}-Sibling{i}"


def siblings_hive(folder: Path, kind: str) -> str:
    names = [sibling_name(i) for i in range(5000)]
    builder = HiveBuilder()
    builder.tree(Key("ROOT", subkeys=[Key(n) for n in names], list_kind=kind))
    return builder.write(folder / f"siblings-{kind}.hive")


def lookups(folder: Path, rounds: int) -> None:
    ntuser = folder / "NTUSER.DAT"
    ntuser.write_bytes(lzma.decompress((CORPUS / "NTUSER.DAT.xz").read_bytes()))
    cases = [(f"NTUSER.DAT, 5 components ({DEEP_PATH})", str(ntuser), DEEP_PATH)]
    for kind in ("lf", "lh", "li"):
        path = siblings_hive(folder, kind)
        cases.append((f"5,000 siblings in one \"{kind}\" list, the last one", path, sibling_name(4999).lower()))
    print("| lookup | Hive.key µs | subkeys() scan µs | scan / key |")
    print("|---|---|---|---|")
    for label, path, wanted in cases:
        hive = orvane.Hive.open(path)
        assert hive.key(wanted).offset() == scan(hive, wanted).offset()  # also fills the key cache
        by_key = best_of(rounds * 20, hive.key, wanted)
        by_scan = best_of(rounds * 20, scan, hive, wanted)
        print(f"| {label} | {by_key * 1e6:.1f} | {by_scan * 1e6:.1f} | {by_scan / by_key:.0f} |")
    print()


def walks(paths: list[str], rounds: int) -> None:
    print("| hive | keys | Hive.walk() ms | recursive subkeys() ms | walk / recursive |")
    print("|---|---|---|---|---|")
    for path in paths:
        hive = orvane.Hive.open(path)
        pairs = walked(hive)
        assert [p for p, _ in pairs] == [p for p, _ in recursed(hive)]
        # Each round opens the hive afresh, so both start with an empty key cache.
        by_walk = best_of(rounds, lambda: walked(orvane.Hive.open(path)))
        by_recursion = best_of(rounds, lambda: recursed(orvane.Hive.open(path)))
        print(f"| {Path(path).name} | {len(pairs):,} | {by_walk * 1e3:.1f} | {by_recursion * 1e3:.1f} | "
              f"{by_walk / by_recursion:.2f} |")
    print()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("hives", nargs="*")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    sys.setrecursionlimit(10_000)
    with tempfile.TemporaryDirectory() as folder:
        lookups(Path(folder), args.rounds)
        if args.hives:
            walks(args.hives, args.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
