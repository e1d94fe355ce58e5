"""orvane find PATTERN HIVE...: key names, value names and value data that
hold a text, in one pass over each hive.

Data is searched as UTF-16LE and as Latin-1 text at every offset, so text
inside binary values is found too. The scan runs in the core; only matches
come back to Python (with --regex the core hands each decoded text to re).

text: a line per match, "PATH  key name  CONTEXT", "PATH  NAME  value name
CONTEXT" or "PATH  NAME  data ENCODING at OFFSET  CONTEXT", the match in
brackets within a few characters of its context; matches among the deleted
records begin with "(deleted) " and carry partial paths. With several hives
each hive's matches follow a "==> HIVE <==" line. jsonl: one object per
match, "hive" first with several hives. A list or value data that cannot be
read is told on stderr and the search goes on; the run then ends with
status 1. Finding nothing is no failure.
"""

from __future__ import annotations

import argparse
import re

from orvane_cli import hives, options
from orvane_cli.formats import quote
from orvane_cli.output import Batch, open_text
from orvane_cli.values import one_line

NAME = "find"
HELP = "search key names, value names and value data (UTF-16LE and Latin-1 text, binary data too) for a pattern"
PLACES = ("keys", "values", "data")
NO_KEY = "(no key)"  # a deleted value that no deleted key lists


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("pattern", metavar="PATTERN",
                        help="the text to find (letters in any case unless --case-sensitive)")
    parser.add_argument("hives", nargs="+", metavar="HIVE")
    parser.add_argument("--regex", action="store_true",
                        help="PATTERN is a Python regular expression, tested on each name, each string of a "
                             "string value and each run of text in other data")
    parser.add_argument("--case-sensitive", action="store_true", help="letters match only in the same case")
    parser.add_argument("--keys", action="store_true",
                        help="search key names (with --values, --data: only where given)")
    parser.add_argument("--values", action="store_true", help="search value names")
    parser.add_argument("--data", action="store_true", help="search value data")
    parser.add_argument("--deleted", action="store_true",
                        help="search the deleted keys and values too, as `orvane deleted` lists them")
    options.format_option(parser, ["text", "jsonl"])


def pattern_of(args: argparse.Namespace):
    """The str the core matches literally, or the compiled expression."""
    if not args.pattern:
        raise options.UsageError("the pattern is empty")
    if not args.regex:
        return args.pattern
    try:
        return re.compile(args.pattern, 0 if args.case_sensitive else re.IGNORECASE)
    except re.error as problem:
        raise options.UsageError(f"bad regular expression: {problem}") from None


def text_line(match) -> str:
    path, name, where, encoding, offset, before, text, after, deleted = match[:9]
    shown = NO_KEY if path is None else path or "\\"
    lead = "(deleted) " if deleted else ""
    context = f"{one_line(before)}[{one_line(text)}]{one_line(after)}"
    if where == "key":
        return f"{lead}{shown}  key name  {context}\n"
    if where == "value":
        return f"{lead}{shown}  {one_line(name)}  value name  {context}\n"
    return f"{lead}{shown}  {one_line(name)}  data {encoding} at {offset:#x}  {context}\n"


def jsonl_line(match, lead: str) -> str:
    path, name, where, encoding, offset, before, text, after, deleted, key_offset, value_offset = match
    return (f'{lead}"path":{"null" if path is None else quote(path)},'
            f'"value":{"null" if name is None else quote(name)},"where":"{where}","encoding":"{encoding}",'
            f'"offset":{offset},"before":{quote(before)},"match":{quote(text)},"after":{quote(after)},'
            f'"deleted":{"true" if deleted else "false"},"key_offset":{key_offset},"value_offset":{value_offset}}}\n')


def run(args: argparse.Namespace) -> int:
    reading = options.reading(args, len(args.hives))
    pattern = pattern_of(args)
    chosen = {place: getattr(args, place) for place in PLACES}
    if not any(chosen.values()):
        chosen = dict.fromkeys(PLACES, True)
    several = len(args.hives) > 1
    with open_text(args.output) as out:
        def show(opened: hives.OpenedHive) -> None:
            # What cannot be read goes to the hive's damage report and the search goes on,
            # as in every reading command; --tolerant also searches the orphan keys.
            matches = opened.hive.find(pattern, case_sensitive=args.case_sensitive, deleted=args.deleted,
                                       on_error=opened.damage, **chosen)
            batch = Batch(out)
            if args.format == "jsonl":
                lead = "{" if not several else f'{{"hive":{quote(opened.path)},'
                for match in matches:
                    batch.add(jsonl_line(match, lead))
            else:
                if several:
                    batch.add(f"==> {opened.path} <==\n")
                for match in matches:
                    batch.add(text_line(match))
            batch.flush()

        return hives.run_each(args.hives, reading, show)
