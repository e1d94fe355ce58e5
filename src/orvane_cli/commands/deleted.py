"""orvane deleted HIVE...: the deleted keys and values still held in a hive's
free space.

text: per deleted key a line "key PARTIAL_PATH  LAST_WRITTEN" and its values
indented below it; then a line "value NAME  (TYPE)  DATA  at OFFSET" per
deleted value that no deleted key lists. With several hives each hive's
records follow a "==> HIVE <==" line. jsonl: one object per record, "kind"
"key" or "value", the values as `dump` writes them, "hive" first with
several hives.
"""

from __future__ import annotations

import argparse

from orvane_cli import hives, options, times
from orvane_cli.formats import quote, value_members
from orvane_cli.output import Batch, open_text
from orvane_cli.values import value_line

NAME = "deleted"
HELP = "list the deleted keys (partial path, last written, values) and values still held in free space"


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hives", nargs="+", metavar="HIVE")
    options.format_option(parser, ["text", "jsonl"])


def records(hive):
    """(key, its values) for each deleted key, then (None, [value]) for each
    deleted value no deleted key lists; in file order."""
    listed: set[int] = set()
    for key in hive.deleted_keys():
        values = key.values()
        listed.update(value.offset() for value in values)
        yield key, values
    for value in hive.deleted_values():
        if value.offset() not in listed:
            yield None, [value]


def text_lines(hive):
    for key, values in records(hive):
        if key is None:
            yield f"value {value_line(values[0]).rstrip()}  at {values[0].offset():#x}\n"
            continue
        written = times.iso_or_empty(key.last_written_filetime()) or "(never written)"
        yield f"key {key.partial_path()}  {written}\n"
        yield from (f"  {value_line(value)}".rstrip() + "\n" for value in values)


def jsonl_lines(hive, label: str | None):
    lead = "{" if label is None else f'{{"hive":{quote(label)},'
    for key, values in records(hive):
        if key is None:
            yield f'{lead}"kind":"value",{value_members(values[0])},"offset":{values[0].offset()}}}\n'
            continue
        filetime = key.last_written_filetime()
        members = ",".join("{" + value_members(value) + "}" for value in values)
        yield (f'{lead}"kind":"key","path":{quote(key.partial_path())},'
               f'"last_written":{quote(times.iso(filetime)) if filetime else "null"},"offset":{key.offset()},'
               f'"values":[{members}]}}\n')


def run(args: argparse.Namespace) -> int:
    reading = options.reading(args, len(args.hives))
    several = len(args.hives) > 1
    with open_text(args.output) as out:
        def show(opened: hives.OpenedHive) -> None:
            batch = Batch(out)
            if args.format == "jsonl":
                lines = jsonl_lines(opened.hive, opened.path if several else None)
            else:
                lines = text_lines(opened.hive)
                if several:
                    batch.add(f"==> {opened.path} <==\n")
            for line in lines:
                batch.add(line)
            batch.flush()

        return hives.run_each(args.hives, reading, show)
