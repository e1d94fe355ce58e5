"""orvane dump HIVE...: every key below a path, with its values, as JSON
lines, CSV or Parquet.

jsonl: one object per key. csv and parquet: one row per value, a key
without values as one row with empty value fields. With several hives each
record also names its hive, and --jobs N spreads the hives over N processes
while the output keeps the order of the arguments.
"""

from __future__ import annotations

import argparse
import os

from orvane_cli import hives, options, progress
from orvane_cli.formats import FORMATS, open_writer
from orvane_cli.messages import FileFailure, error, reason

NAME = "dump"
HELP = "write every key and value below a key as jsonl, csv or parquet"
PROGRESS_EVERY = 4096  # keys between progress updates


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hives", nargs="+", metavar="HIVE")
    parser.add_argument("--key", metavar="PATH", help="start at this key (default: the root)")
    options.format_option(parser, list(FORMATS))
    parser.add_argument("-j", "--jobs", type=int, default=1, metavar="N",
                        help="read up to N hives at once, in separate processes")


def dump_hive(opened: hives.OpenedHive, key_path: str | None, writer, hive_label: str | None,
              tick=None) -> int:
    """Writes every key below key_path; returns the number of keys."""
    count = 0
    for path, key in hives.walk(opened, key_path):
        try:
            writer.key(hive_label, path, key)
        except (OSError, ValueError):  # the writers make a key's text whole before writing it
            writer.key(hive_label, path, hives.ReadableValues(opened, path, key))
        count += 1
        if tick is not None and count % PROGRESS_EVERY == 0:
            tick(PROGRESS_EVERY)
    if tick is not None:
        tick(count % PROGRESS_EVERY)
    return count


def _dump_part(path: str, reading: hives.Reading, key_path: str | None, fmt: str, hive_label: str | None,
               part: str) -> tuple[list[str], int, bool]:
    """One hive in a worker process, into its own part file. Returns the
    messages for stderr, the number of keys written and whether the hive
    failed (not read at all, or read in part)."""
    messages: list[str] = []
    keys = 0
    try:
        opened = hives.open_hive(path, reading)
        if opened.note:
            messages.append(opened.note)
        opened.damage.tell = messages.append  # in the order the parent writes its parts
        try:
            with open_writer(fmt, part, with_hive=True, header=False) as writer:
                keys = dump_hive(opened, key_path, writer, hive_label)
        finally:
            messages.extend(hives.problem_lines(opened))
    except FileFailure as failure:
        messages.append(str(failure))
        return messages, keys, True
    except (OSError, ValueError, RuntimeError) as problem:
        messages.append(f"{path}: {reason(problem)}")
        return messages, keys, True
    return messages, keys, opened.damage.count > 0


def run(args: argparse.Namespace) -> int:
    if args.jobs < 1:
        raise options.UsageError("--jobs must be 1 or more")
    reading = options.reading(args, len(args.hives))
    several = len(args.hives) > 1
    meter = progress.Progress(len(args.hives), progress.wanted(args.hives))
    try:
        with open_writer(args.format, args.output, with_hive=several) as writer:
            if args.jobs > 1 and several:
                return _run_parallel(args, reading, writer, meter)

            def work(opened: hives.OpenedHive) -> None:
                try:
                    dump_hive(opened, args.key, writer, opened.path if several else None, meter.add_keys)
                finally:
                    meter.hive_done()

            return hives.run_each(args.hives, reading, work)
    finally:
        meter.close()


def _run_parallel(args: argparse.Namespace, reading: hives.Reading, writer, meter: progress.Progress) -> int:
    status = 0
    # Imported here: the process pool's modules would add a quarter to the
    # start-up time of every command.
    import tempfile
    from concurrent.futures import ProcessPoolExecutor

    with tempfile.TemporaryDirectory(prefix="orvane-dump-") as scratch, \
            ProcessPoolExecutor(max_workers=min(args.jobs, len(args.hives))) as pool:
        futures = [pool.submit(_dump_part, path, reading, args.key, args.format, path,
                               os.path.join(scratch, f"part{i}"))
                   for i, path in enumerate(args.hives)]
        for i, future in enumerate(futures):
            messages, keys, failed = future.result()
            for message in messages:
                error(message)
            if failed:
                status = 1
            part = os.path.join(scratch, f"part{i}")
            if os.path.exists(part):
                writer.append_part(part)
                os.remove(part)
            meter.add_keys(keys)
            meter.hive_done()
    return status

