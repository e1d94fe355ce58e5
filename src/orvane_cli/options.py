"""The options several commands share, defined once.

Each command's parser takes the parents it needs: `reading` (how the hive
is read: --logs, how transaction logs are found, and --tolerant), `output`
(-o FILE). `format_option` adds --format with the
command's own choices.
"""

from __future__ import annotations

import argparse

from orvane_cli.hives import AUTO, NONE, Reading


def _reading(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--logs", nargs="+", default=[AUTO], metavar="auto|none|LOG",
        help="transaction logs: 'auto' (default) uses NAME.LOG1, NAME.LOG2 or NAME.LOG found "
             "beside the hive, 'none' reads the hive as it is, else the paths of up to two logs")
    parser.add_argument(
        "--tolerant", action="store_true",
        help="read a damaged hive as far as it can be read (without its logs), skipping what "
             "cannot be read; what was skipped or repaired goes to standard error")


def _output(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("-o", "--output", metavar="FILE", help="write to FILE instead of standard output")


def parent(*adders) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(add_help=False)
    for add in adders:
        add(parser)
    return parser


def reading_parent() -> argparse.ArgumentParser:
    return parent(_reading)


def output_parent() -> argparse.ArgumentParser:
    return parent(_output)


def format_option(parser: argparse.ArgumentParser, choices: list[str]) -> None:
    parser.add_argument("--format", choices=choices, default=choices[0],
                        help=f"output format (default {choices[0]})")


class UsageError(Exception):
    """Arguments that parse but do not fit together; exit status 2."""


def reading(args: argparse.Namespace, hive_count: int) -> Reading:
    """--logs and --tolerant as open_hive takes them."""
    logs = args.logs
    if len(logs) == 1 and logs[0].lower() in (AUTO, NONE):
        return Reading(logs[0].lower(), args.tolerant)
    if args.tolerant:
        raise UsageError("--tolerant reads the hive file alone and takes no log paths")
    if len(logs) > 2:
        raise UsageError("--logs takes at most two log paths")
    if hive_count > 1:
        raise UsageError("log paths can be given for one hive only (use --logs auto for several)")
    return Reading(logs, False)
