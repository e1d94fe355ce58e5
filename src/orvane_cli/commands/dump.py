"""orvane dump HIVE...: every key below a path, with its values, as JSON
lines, CSV or Parquet.

jsonl: one object per key. csv and parquet: one row per value, a key
without values as one row with empty value fields. With several hives each
record also names its hive, and --jobs N spreads the hives over N processes
while the output keeps the order of the arguments. --tables (and parquet of
several hives into a folder) writes the keys and values tables instead: see
table_output.
"""

from __future__ import annotations

import argparse
import os

from orvane_cli import hives, options, progress, table_output
from orvane_cli.arrow_support import load_parquet
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
    parser.add_argument("--tables", metavar="keys,values",
                        help="write the keys and/or values tables with all their columns, one file each under "
                             "-o DIR (keys.parquet, values.csv, ...); parquet of several hives (also without "
                             "--tables, when -o names a folder) is a dataset partitioned by hive: "
                             "DIR/values/hive=NAME/part-0.parquet")


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


def _in_worker(path: str, reading: hives.Reading, write, *arguments) -> tuple[list[str], int, bool]:
    """One hive in a worker process: write(opened, *arguments) returns the
    keys written. Returns the messages for stderr, in the order the parent
    tells them, the keys written and whether the hive failed (not read at
    all, or read in part)."""
    messages: list[str] = []
    keys = 0
    try:
        opened = hives.open_hive(path, reading)
        if opened.note:
            messages.append(opened.note)
        opened.damage.tell = messages.append
        try:
            keys = write(opened, *arguments)
        finally:
            messages.extend(hives.problem_lines(opened))
    except FileFailure as failure:
        messages.append(str(failure))
        return messages, keys, True
    except (OSError, ValueError, RuntimeError) as problem:
        messages.append(f"{path}: {reason(problem)}")
        return messages, keys, True
    return messages, keys, opened.damage.count > 0


def _dump_part(opened: hives.OpenedHive, key_path: str | None, fmt: str, part: str) -> int:
    """One hive into its own part file."""
    with open_writer(fmt, part, with_hive=True, header=False) as writer:
        return dump_hive(opened, key_path, writer, opened.path)


def _in_processes(args: argparse.Namespace, reading: hives.Reading, meter: progress.Progress, write,
                  arguments, done=None) -> int:
    """_in_worker(hive, reading, write, *arguments(i)) for each hive, in up to
    --jobs processes; the messages are told and done(i) called in the order
    of the arguments. Returns the exit status."""
    # Imported here: the process pool's modules would add a quarter to the
    # start-up time of every command.
    from concurrent.futures import ProcessPoolExecutor

    status = 0
    with ProcessPoolExecutor(max_workers=min(args.jobs, len(args.hives))) as pool:
        futures = [pool.submit(_in_worker, path, reading, write, *arguments(i)) for i, path in enumerate(args.hives)]
        for i, future in enumerate(futures):
            messages, keys, failed = future.result()
            for message in messages:
                error(message)
            if failed:
                status = 1
            if done is not None:
                done(i)
            meter.add_keys(keys)
            meter.hive_done()
    return status


def _run_tables(args: argparse.Namespace, reading: hives.Reading, names: list[str], meter: progress.Progress) -> int:
    """The tables of every hive under -o DIR. A hive whose subkey lists cannot
    all be read fails here as a whole (the tables hold whole hives); read it
    with --tolerant, or dump it without --tables."""
    folder = args.output
    if folder is None or folder == "-":
        raise options.UsageError("--tables writes one file per table: -o DIR")
    if os.path.exists(folder) and not os.path.isdir(folder):
        raise options.UsageError(f"--tables writes into a folder, and {folder} is a file")
    several = len(args.hives) > 1
    if args.format == "parquet":
        load_parquet()  # the usage error before any hive is read
        if args.jobs > 1 and several:
            return _in_processes(args, reading, meter, table_output.write_hive_parquet,
                                 lambda i: (names, args.key, folder, True))

        def work(opened: hives.OpenedHive) -> None:
            try:
                meter.add_keys(table_output.write_hive_parquet(opened, names, args.key, folder, several))
            finally:
                meter.hive_done()

        return hives.run_each(args.hives, reading, work)
    text = table_output.TextTables(folder, args.format, several)
    try:
        def write(opened: hives.OpenedHive) -> None:
            try:
                for name in names:
                    rows = text.write(opened.path, name, table_output.table_of(opened.hive, name, args.key))
                    if name == "keys":
                        meter.add_keys(rows)
            finally:
                meter.hive_done()

        return hives.run_each(args.hives, reading, write)
    finally:
        text.close()


def run(args: argparse.Namespace) -> int:
    if args.jobs < 1:
        raise options.UsageError("--jobs must be 1 or more")
    reading = options.reading(args, len(args.hives))
    several = len(args.hives) > 1
    names = table_output.parse_tables(args.tables) if args.tables is not None else None
    if names is None and args.format == "parquet" and several and args.output and os.path.isdir(args.output):
        names = list(table_output.TABLES)  # several hives into a folder: one dataset per table
    meter = progress.Progress(len(args.hives), progress.wanted(args.hives))
    if names is not None:
        try:
            return _run_tables(args, reading, names, meter)
        finally:
            meter.close()
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
    import tempfile

    with tempfile.TemporaryDirectory(prefix="orvane-dump-") as scratch:
        def part(i: int) -> str:
            return os.path.join(scratch, f"part{i}")

        def append(i: int) -> None:
            if os.path.exists(part(i)):
                writer.append_part(part(i))
                os.remove(part(i))

        return _in_processes(args, reading, meter, _dump_part, lambda i: (args.key, args.format, part(i)), append)
