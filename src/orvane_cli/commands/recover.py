"""orvane recover HIVE [LOG...] -o OUT: bring a dirty hive up to date from
its transaction logs and save the result."""

from __future__ import annotations

import argparse
import os
import struct

from orvane_cli import hives, options
from orvane_cli.messages import FileFailure, error, reason

NAME = "recover"
HELP = "apply a hive's transaction logs and save the recovered hive"


def parents() -> list[argparse.ArgumentParser]:
    return []


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hive", metavar="HIVE")
    parser.add_argument("logs", nargs="*", metavar="LOG",
                        help="up to two logs (default: NAME.LOG1, NAME.LOG2 or NAME.LOG beside the hive)")
    parser.add_argument("-o", "--output", required=True, metavar="OUT", help="where to save the recovered hive")


def same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def sequences_in_file(path: str) -> str:
    """The sequence numbers as the file holds them, before any log."""
    try:
        with open(path, "rb") as f:
            head = f.read(12)
    except OSError as problem:
        raise FileFailure(path, problem) from None
    if len(head) < 12:
        return "unreadable"
    primary, secondary = struct.unpack_from("<II", head, 4)
    return f"{primary}/{secondary}"


def run(args: argparse.Namespace) -> int:
    if len(args.logs) > hives.MAX_LOGS:
        raise options.UsageError(f"at most {hives.MAX_LOGS} logs")
    logs = args.logs or hives.find_logs(args.hive)
    for source in [args.hive, *logs]:
        if same_file(args.output, source):
            raise options.UsageError(f"refusing to write over {source}")
    if not logs:
        error(f"{args.hive}: no transaction logs found beside it")
    before = sequences_in_file(args.hive)
    opened = hives.open_hive(args.hive, hives.Reading(logs or hives.NONE))
    if opened.note:
        error(opened.note)
    try:
        opened.hive.save(args.output)
    except (OSError, ValueError) as problem:
        raise FileFailure(args.output, reason(problem)) from None
    block = opened.hive.base_block()
    after = f"{block.primary_sequence}/{block.secondary_sequence}"
    error(f"{args.output}: saved; sequence numbers {before} before, {after} after")
    if block.primary_sequence != block.secondary_sequence:
        error(f"{args.output}: still dirty: no usable log brought it up to date")
        return 1
    return 0
