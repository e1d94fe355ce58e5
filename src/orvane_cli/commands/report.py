"""orvane report HIVE... -o REPORT.html: one self-contained HTML page with
each hive's summary, the activity over time, the timeline, the artifacts
and the deleted records."""

from __future__ import annotations

import argparse

from orvane_cli import options, progress
from orvane_cli.commands.timeline import iso_argument
from orvane_cli.messages import FileFailure, error
from orvane_cli.output import open_text

NAME = "report"
HELP = "write one self-contained HTML page of the hives: summary, activity chart, timeline, artifacts, deleted records"


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hives", nargs="+", metavar="HIVE")
    parser.add_argument("-o", "--output", metavar="REPORT.html", required=True, help="the page to write")
    parser.add_argument("--title", help="the page's title (default: the hives' names)")
    parser.add_argument("--since", type=iso_argument, metavar="ISO",
                        help="only keys and artifact events at or after this time (ISO 8601; UTC unless a zone is given)")
    parser.add_argument("--until", type=iso_argument, metavar="ISO",
                        help="only keys and artifact events at or before this time")


def run(args: argparse.Namespace) -> int:
    # The page's modules are imported here, so the other commands do not pay for them.
    from orvane_cli.report.collect import Window, collect
    from orvane_cli.report.page import build_page

    reading = options.reading(args, len(args.hives))
    window = Window(args.since or 0, args.until)
    meter = progress.Progress(len(args.hives), progress.wanted(args.hives))
    failed: list[str] = []
    try:
        collected, status = collect(args.hives, reading, window, meter, failed)
    finally:
        meter.close()
    title = args.title or f"orvane report: {', '.join(args.hives)}"
    page = build_page(collected, title, failed)
    with open_text(args.output) as out:
        try:
            out.write(page)
        except OSError as problem:
            raise FileFailure(args.output, problem) from None
    if not collected.hives:
        error(f"{args.output}: no hive could be read")
    return status
