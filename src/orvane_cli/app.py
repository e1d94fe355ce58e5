"""Entry point: parses the command line and runs one command.

Exit status: 0 success, 1 a file could not be read or written (the other
hives of the run still go through), 2 a usage error; `diff` exits 1 when the
hives differ and 2 when one cannot be read, like diff(1). Messages go to
stderr as one line each, "orvane: PATH: reason".
"""

from __future__ import annotations

import argparse
import os
import sys

import orvane
from orvane_cli.commands import COMMANDS
from orvane_cli.hives import AUTO, NONE
from orvane_cli.messages import PROG, FileFailure, error
from orvane_cli.options import UsageError


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG, description="Read Windows registry hive files and their transaction logs.")
    parser.add_argument("--version", action="version", version=f"{PROG} {orvane.__version__}")
    subparsers = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in COMMANDS:
        sub = subparsers.add_parser(command.NAME, help=command.HELP, description=command.HELP,
                                    parents=command.parents())
        command.add_arguments(sub)
        sub.set_defaults(run=command.run)
    return parser


def _keyword_logs(argv: list[str]) -> list[str]:
    """"--logs auto" and "--logs none" take one word, so the hive paths after
    them are not read as log paths."""
    out: list[str] = []
    words = iter(argv)
    for word in words:
        if word == "--logs":
            following = next(words, None)
            if following is not None and following.lower() in (AUTO, NONE):
                out.append(f"--logs={following}")
                continue
            out.append(word)
            if following is not None:
                out.append(following)
            continue
        out.append(word)
    return out


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(_keyword_logs(sys.argv[1:] if argv is None else argv))
    try:
        return args.run(args)
    except UsageError as problem:
        parser.exit(2, f"{PROG} {args.command}: error: {problem}\n")
    except FileFailure as failure:
        error(str(failure))
        return 1
    except BrokenPipeError:
        # The reader went away (orvane dump ... | head): stop quietly.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 1
    except KeyboardInterrupt:
        return 130
    return 0
