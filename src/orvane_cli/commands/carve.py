"""orvane carve IMAGE... -o DIR: hives, fragments and (with --records) loose
records found in raw images.

Each carved hive is written as DIR/hive-0x<image offset>[-truncated].dat, each
fragment as DIR/fragment-0x<image offset>-at-0x<hive offset>.bin. A report
line per item goes to the output: offset, kind, size, file name, last written,
keys and values reachable, truncated/reconstructed/compressed. With --records
the loose records follow as `orvane deleted --format jsonl` writes them, each
labelled IMAGE@0x<offset>. The image is only read; -o may not name it.
"""

from __future__ import annotations

import argparse
import json
import os
import sys

import orvane
from orvane_cli import options, times
from orvane_cli.commands import deleted
from orvane_cli.messages import FileFailure, error
from orvane_cli.options import UsageError
from orvane_cli.output import open_text

NAME = "carve"
HELP = "find hives, hive fragments and loose records in disk images, unallocated space and memory dumps"


def parents() -> list[argparse.ArgumentParser]:
    return []


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("images", nargs="+", metavar="IMAGE")
    parser.add_argument("-o", "--directory", required=True, metavar="DIR", help="where the carved files go")
    parser.add_argument("--memory", action="store_true",
                        help="memory dump or page file: look for bins at every byte")
    parser.add_argument("--records", action="store_true", help="also loose key nodes and values")
    options.format_option(parser, ["text", "jsonl"])


def file_name_for(item) -> str | None:
    if item.kind == "hive":
        return f"hive-{item.image_offset:#x}{'-truncated' if item.truncated else ''}.dat"
    if item.kind == "fragment":
        return f"fragment-{item.image_offset:#x}-at-{item.hive_offset:#x}.bin"
    return None


def reachable(item) -> tuple[int, int]:
    """Keys and values a walk from the root reaches."""
    keys = values = 0
    try:
        hive = item.hive()
        for _path, key in hive.walk(on_error=lambda path, problem: None):
            keys += 1
            values += key.value_count()
    except (OSError, ValueError):
        pass
    return keys, values


def report(image: str, item, written: str | None, fmt: str) -> str:
    keys, values = reachable(item)
    last = times.iso_or_empty(item.last_written) if item.last_written else ""
    marks = [m for m, on in (("truncated", item.truncated), ("reconstructed", bool(item.reconstructed_from)),
                             ("compressed", item.compressed)) if on]
    if fmt == "jsonl":
        return json.dumps({"image": image, "offset": item.image_offset, "kind": item.kind, "size": item.size,
                           "file_name": item.file_name, "last_written": last or None, "keys": keys,
                           "values": values, "truncated": item.truncated,
                           "reconstructed_from": item.reconstructed_from, "compressed": item.compressed,
                           "written": written}, ensure_ascii=False, separators=(",", ":")) + "\n"
    name = item.file_name or ""
    return (f"{item.image_offset:#x}  {item.kind}  {item.size}  {name!r}  {last or '-'}  "
            f"keys {keys}  values {values}  {' '.join(marks) or '-'}\n")


def check_directory(directory: str, images: list[str]) -> None:
    target = os.path.realpath(directory)
    for image in images:
        real = os.path.realpath(image)
        if target == real or target.startswith(real + os.sep):
            raise UsageError(f"-o {directory} is the image {image} itself")


def run(args: argparse.Namespace) -> int:
    check_directory(args.directory, args.images)
    os.makedirs(args.directory, exist_ok=True)
    status = 0
    tty = sys.stderr.isatty()
    with open_text(None) as out:
        for image in args.images:
            def progress(done: int, total: int, image=image) -> None:
                if tty:
                    sys.stderr.write(f"\rcarving {image}: {100 * done // max(total, 1)}%")
                    sys.stderr.flush()
            try:
                items = orvane.carve(image, records=args.records, memory=args.memory, progress=progress)
            except OSError as problem:
                error(str(FileFailure(image, problem)))
                status = 1
                continue
            finally:
                if tty:
                    sys.stderr.write("\n")
            for item in items:
                if item.kind == "record":
                    label = f"{image}@{item.image_offset:#x}"
                    for line in deleted.jsonl_lines(item.hive(), label):
                        out.write(line)
                    continue
                written = os.path.join(args.directory, file_name_for(item))
                item.save(written)
                out.write(report(image, item, written, args.format))
    return status
