"""orvane info HIVE...: the base block, the hive bins and the key tree's size."""

from __future__ import annotations

import argparse
import json
import struct

from orvane_cli import hives, options, times
from orvane_cli.output import open_text
from orvane_cli.values import one_line

NAME = "info"
HELP = "show a hive's base block, hive bins, and numbers of keys and values"
# Windows never stores a checksum of 0 or 0xFFFFFFFF: it writes 1 and 0xFFFFFFFE instead.
WINDOWS_CHECKSUM = {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hives", nargs="+", metavar="HIVE")
    options.format_option(parser, ["text", "json"])


def file_checksum(path: str) -> tuple[int, int]:
    """(stored, computed) checksum of the base block in the file as it is on
    disk, before any log: the XOR of its first 127 words against the word at
    offset 508."""
    with open(path, "rb") as f:
        head = f.read(512)
    if len(head) < 512:
        raise ValueError(f"base block cut short: {len(head)} bytes")
    computed = 0
    for (word,) in struct.iter_unpack("<I", head[:508]):
        computed ^= word
    return struct.unpack_from("<I", head, 508)[0], computed


def tally(opened: hives.OpenedHive) -> tuple[int, int, int]:
    """(keys, values, deepest path in levels) of the whole key tree, as far
    as it can be read."""
    keys = values = depth = 0
    for path, key in hives.walk(opened):
        keys += 1
        values += key.value_count()
        if path:
            depth = max(depth, path.count("\\") + 1)
    return keys, values, depth


def facts(opened: hives.OpenedHive, counted: tuple[int, int, int] | None = None) -> dict[str, object]:
    """What `info` says of a hive; `counted` is tally()'s result when the
    caller has walked the tree already."""
    hive = opened.hive
    block = hive.base_block()
    bins = hive.hbins()
    remnants = hive.remnant_bins()
    keys, values, depth = tally(opened) if counted is None else counted
    stored, computed = file_checksum(opened.path)
    return {
        "path": opened.path,
        "signature": block.signature,
        "primary_sequence": block.primary_sequence,
        "secondary_sequence": block.secondary_sequence,
        "dirty": block.primary_sequence != block.secondary_sequence,
        "timestamp": times.iso_or_empty(block.timestamp),
        "version": f"{block.major_version}.{block.minor_version}",
        "file_type": block.file_type,
        "file_format": block.file_format,
        "root_cell_offset": block.root_cell_offset,
        "hive_bins_data_size": block.hive_bins_data_size,
        "file_name": block.file_name,
        "checksum": stored,
        "checksum_matches": stored == WINDOWS_CHECKSUM.get(computed, computed),
        "hive_bins": len(bins),
        "hive_bins_size": sum(hbin.size for hbin in bins),
        "remnant_bins": len(remnants),
        "remnant_bins_size": sum(size for _, _, size in remnants),
        "keys": keys,
        "values": values,
        "max_depth": depth,
    }


def as_text(f: dict[str, object]) -> str:
    checksum = f"{f['checksum']:#010x} ({'matches' if f['checksum_matches'] else 'does not match'})"
    rows = [
        ("signature", f["signature"]),
        ("sequence numbers", f"{f['primary_sequence']} / {f['secondary_sequence']}"
                             f" ({'dirty' if f['dirty'] else 'clean'})"),
        ("timestamp", f["timestamp"] or "(none)"),
        ("version", f["version"]),
        ("file type", f["file_type"]),
        ("file format", f["file_format"]),
        ("root cell offset", f"{f['root_cell_offset']:#x}"),
        ("hive bins data size", f"{f['hive_bins_data_size']:#x} ({f['hive_bins_data_size']:,} bytes)"),
        ("file name", one_line(f["file_name"]) or "(none)"),
        ("checksum in file", checksum),
        ("hive bins", f"{f['hive_bins']:,} ({f['hive_bins_size']:#x} bytes)"),
        *([("remnant bins", f"{f['remnant_bins']:,} ({f['remnant_bins_size']:,} bytes past the hive bins data)")]
          if f["remnant_bins"] else []),
        ("keys", f"{f['keys']:,}"),
        ("values", f"{f['values']:,}"),
        ("deepest path", f"{f['max_depth']} levels"),
    ]
    return f"{f['path']}\n" + "".join(f"  {label + ':':<21}{value}\n" for label, value in rows)


def run(args: argparse.Namespace) -> int:
    reading = options.reading(args, len(args.hives))
    with open_text(args.output) as out:
        first = [True]

        def show(opened: hives.OpenedHive) -> None:
            found = facts(opened)
            if args.format == "json":
                out.write(json.dumps(found, ensure_ascii=False) + "\n")
            else:
                out.write(("" if first[0] else "\n") + as_text(found))
                first[0] = False
            out.flush()

        return hives.run_each(args.hives, reading, show)
