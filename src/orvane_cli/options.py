"""The options several commands share, defined once.

Each command's parser takes the parents it needs: `logs` (how transaction
logs are found), `output` (-o FILE). `format_option` adds --format with the
command's own choices.
"""

from __future__ import annotations

import argparse

from orvane_cli.hives import AUTO, NONE


def _logs(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--logs", nargs="+", default=[AUTO], metavar="auto|none|LOG",
        help="transaction logs: 'auto' (default) uses NAME.LOG1, NAME.LOG2 or NAME.LOG found "
             "beside the hive, 'none' reads the hive as it is, else the paths of up to two logs")


def _output(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("-o", "--output", metavar="FILE", help="write to FILE instead of standard output")


def parent(*adders) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(add_help=False)
    for add in adders:
        add(parser)
    return parser


def logs_parent() -> argparse.ArgumentParser:
    return parent(_logs)


def output_parent() -> argparse.ArgumentParser:
    return parent(_output)


def format_option(parser: argparse.ArgumentParser, choices: list[str]) -> None:
    parser.add_argument("--format", choices=choices, default=choices[0],
                        help=f"output format (default {choices[0]})")


class UsageError(Exception):
    """Arguments that parse but do not fit together; exit status 2."""


def logs_mode(args: argparse.Namespace, hive_count: int) -> str | list[str]:
    """--logs as open_hive takes it: AUTO, NONE or a list of paths."""
    logs = args.logs
    if len(logs) == 1 and logs[0].lower() in (AUTO, NONE):
        return logs[0].lower()
    if len(logs) > 2:
        raise UsageError("--logs takes at most two log paths")
    if hive_count > 1:
        raise UsageError("log paths can be given for one hive only (use --logs auto for several)")
    return logs
