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
ORPHANS = "<orphans>\\"  # the branch a tolerant walk puts the orphan keys under


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hive", metavar="HIVE")
    parser.add_argument("key", nargs="?", default="", metavar="KEY_PATH",
                        help="backslash-separated path below the root key, any letter case (default: the root)")
    parser.add_argument("-r", "--recursive", action="store_true", help="the whole subtree, like tree(1)")


def short_type(value) -> str:
    return value.value_type().type_name()


def listing(key, damage: hives.Damage) -> list[str]:
    """Subkeys (name, last written, counts), then values (name, type, data);
    a list that cannot be read is told as damage and the rest still shown."""
    path = key.path()
    try:
        subkeys = key.subkeys()
    except (OSError, ValueError) as problem:
        damage(path, problem)
        subkeys = []
    try:
        values = key.values()
        texts = [short_text(value) for value in values]
    except (OSError, ValueError):
        values = hives.readable_values(key, path, damage)
        texts = [short_text(value) for value in values]
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
        for value, text in zip(values, texts):
            lines.append(f"{value.name():<{width}}  {short_type(value):<{type_width}}  {text}".rstrip() + "\n")
    return lines


def tree(opened: hives.OpenedHive, key, label: str) -> list[str]:
    """The subtree as tree(1) draws it: keys end in a backslash, values
    follow their key's name. The walk yields each key once, so a damaged
    list that leads back to an ancestor cannot make it endless; what cannot
    be read is told as damage and left out. The whole tree of a hive read
    tolerantly ends with its orphan keys, below one "<orphans>" branch."""
    damage = opened.damage
    entries: list[tuple[int, str]] = []  # (depth, text), depth 0 is the key itself
    start = key.path()
    orphans_drawn = False
    for path, sub in key.walk(damage) if start else opened.hive.walk(damage):
        depth = path.count("\\") + 1 if path else 0
        if not orphans_drawn and path.startswith(ORPHANS):
            entries.append((1, ORPHANS))
            orphans_drawn = True
        if depth:
            entries.append((depth, sub.name() + "\\"))
        try:
            lines = [value_line(value) for value in sub.values()]
        except (OSError, ValueError):
            lines = [value_line(value) for value in hives.readable_values(sub, hives.join_path(start, path), damage)]
        entries.extend((depth + 1, line) for line in lines)
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
            lines = tree(opened, key, label) if args.recursive else [label + "\n", *listing(key, opened.damage)]
            for line in lines:
                batch.add(line)
            batch.flush()

        return hives.run_each([args.hive], reading, show)
