"""orvane ls HIVE [KEY_PATH]: a key's subkeys and values, or with
--recursive the whole subtree drawn like tree(1)."""

from __future__ import annotations

import argparse

from orvane_cli import hives, options, times
from orvane_cli.output import Batch, open_text
from orvane_cli.values import short_text, value_line

NAME = "ls"
HELP = "list a key's subkeys and values (--recursive: the whole subtree)"
BRANCH, LAST, PIPE, SPACE = "├── ", "└── ", "│   ", "    "


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hive", metavar="HIVE")
    parser.add_argument("key", nargs="?", default="", metavar="KEY_PATH",
                        help="backslash-separated path below the root key, any letter case (default: the root)")
    parser.add_argument("-r", "--recursive", action="store_true", help="the whole subtree, like tree(1)")


def short_type(value) -> str:
    return value.value_type().type_name()


def listing(key) -> list[str]:
    """Subkeys (name, last written, counts), then values (name, type, data)."""
    subkeys = key.subkeys()
    values = key.values()
    lines = []
    if subkeys:
        width = max(len(sub.name()) for sub in subkeys) + 1
        for sub in subkeys:
            written = times.iso_or_empty(sub.last_written_filetime()) or "(never written)"
            lines.append(f"{sub.name() + chr(92):<{width}}  {written:<28}  "
                         f"{sub.subkey_count():>5} subkeys  {sub.value_count():>5} values\n")
    if values:
        width = max(len(value.name()) for value in values)
        type_width = max(len(short_type(value)) for value in values)
        for value in values:
            lines.append(f"{value.name():<{width}}  {short_type(value):<{type_width}}  {short_text(value)}".rstrip()
                         + "\n")
    return lines


def tree(key, label: str) -> list[str]:
    """The subtree as tree(1) draws it: keys end in a backslash, values
    follow their key's name. The walk yields each key once, so a damaged
    list that leads back to an ancestor cannot make it endless."""
    entries: list[tuple[int, str]] = []  # (depth, text), depth 0 is the key itself
    for path, sub in key.walk():
        depth = path.count("\\") + 1 if path else 0
        if depth:
            entries.append((depth, sub.name() + "\\"))
        entries.extend((depth + 1, value_line(value)) for value in sub.values())
    # An entry is the last of its siblings when no entry of the same depth
    # follows before one of smaller depth.
    last = [False] * len(entries)
    open_levels: set[int] = set()
    for i in range(len(entries) - 1, -1, -1):
        depth = entries[i][0]
        last[i] = depth not in open_levels
        open_levels = {level for level in open_levels if level < depth}
        open_levels.add(depth)
    lines = [label + "\n"]
    rails: list[str] = []
    for (depth, text), is_last in zip(entries, last):
        del rails[depth - 1:]
        lines.append("".join(rails) + (LAST if is_last else BRANCH) + text + "\n")
        rails.append(SPACE if is_last else PIPE)
    return lines


def run(args: argparse.Namespace) -> int:
    reading = options.reading(args, 1)
    with open_text(args.output) as out:
        def show(opened: hives.OpenedHive) -> None:
            key = hives.start_key(opened.hive, args.key)
            path = key.path()
            label = f"{path}\\" if path else "\\"
            batch = Batch(out)
            for line in tree(key, label) if args.recursive else [label + "\n", *listing(key)]:
                batch.add(line)
            batch.flush()

        return hives.run_each([args.hive], reading, show)
