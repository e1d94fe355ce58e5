"""orvane timeline HIVE...: every key's last-written time, oldest first."""

from __future__ import annotations

import argparse
import csv

from orvane_cli import artifact_rows, hives, options, progress, times
from orvane_cli.output import open_text

NAME = "timeline"
HELP = "list every key as last_written,hive,path, sorted by time (oldest first)"


def iso_argument(text: str, end_of_day: bool = False) -> int:
    try:
        return times.parse_iso(text, end_of_day=end_of_day)
    except ValueError as problem:
        raise argparse.ArgumentTypeError(str(problem)) from None


def until_argument(text: str) -> int:
    return iso_argument(text, end_of_day=True)


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hives", nargs="+", metavar="HIVE")
    parser.add_argument("--since", type=iso_argument, metavar="ISO",
                        help="only keys written at or after this time (ISO 8601; UTC unless a zone is given; "
                             "a date alone is the start of that day)")
    parser.add_argument("--until", type=until_argument, metavar="ISO",
                        help="only keys written at or before this time (a date alone is the end of that day, "
                             "so --since D --until D gives the keys written on day D)")
    parser.add_argument("--artifacts", action="store_true",
                        help="add a row per timestamped artifact record; the columns become "
                             "time,hive,artifact,description (key rows: artifact 'key', the path as description)")


def key_times(opened: hives.OpenedHive):
    """(last-written FILETIME, path) of every key, in walk order. A hive read
    exactly gives them as two whole columns of its keys table; one whose lists
    cannot all be read, or read tolerantly (whose walk ends with the orphan
    keys), is walked key by key, the damage told as the other commands tell it."""
    if not opened.tolerant:
        try:
            table = opened.hive.keys_table()
            return zip(table.column("last_written_filetime"), table.column("path"))
        except (OSError, ValueError):
            pass  # the walk below goes on past what the table could not read
    return ((key.last_written_filetime(), path) for path, key in hives.walk(opened))


def run(args: argparse.Namespace) -> int:
    reading = options.reading(args, len(args.hives))
    since = args.since if args.since is not None else 0
    until = args.until
    # (time, hive index, path); keys never written (time 0) come first.
    entries: list[tuple[int, int, str]] = []
    meter = progress.Progress(len(args.hives), progress.wanted(args.hives))
    index = {path: i for i, path in enumerate(args.hives)}

    def collect(opened: hives.OpenedHive) -> None:
        number = index[opened.path]
        start = len(entries)
        try:
            for filetime, path in key_times(opened):
                if filetime >= since and (until is None or filetime <= until):
                    entries.append((filetime, number, path))
            if args.artifacts:
                for filetime, text in artifact_rows.rows(opened):
                    if filetime >= since and (until is None or filetime <= until):
                        entries.append((filetime, number, text))
        finally:
            meter.add_keys(len(entries) - start)
            meter.hive_done()

    try:
        status = hives.run_each(args.hives, reading, collect)
    finally:
        meter.close()
    entries.sort(key=lambda entry: entry[0])  # stable: hive order, then walk order
    with open_text(args.output) as out:
        writer = csv.writer(out, lineterminator="\n")
        if not args.artifacts:
            writer.writerow(["last_written", "hive", "path"])
            writer.writerows((times.iso_or_empty(t), args.hives[n], path) for t, n, path in entries)
        else:
            writer.writerow(["time", "hive", "artifact", "description"])
            writer.writerows((times.iso_or_empty(t), args.hives[n], *(path if isinstance(path, tuple) else
                                                                     ("key", path))) for t, n, path in entries)
    return status
