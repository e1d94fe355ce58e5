"""orvane diff OLD NEW: what changed between two snapshots of a hive.

Keys added and removed, values added, removed and changed (type or data),
and keys whose last-written time changed, each line prefixed "+", "-" or "~"
with the key's path. Values are compared by type and stored bytes, so no
data is decoded except for display. Exit status as diff(1): 0 the same, 1
different, 2 a hive could not be read.
"""

from __future__ import annotations

import argparse
import json

from orvane_cli import hives, options, times
from orvane_cli.messages import FileFailure, error, reason
from orvane_cli.output import Batch, open_text
from orvane_cli.values import describe, short_text

NAME = "diff"
HELP = "show keys and values added, removed or changed between two hives"
TROUBLE = 2


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("old", metavar="OLD")
    parser.add_argument("new", metavar="NEW")
    parser.add_argument("--key", metavar="PATH", help="compare the subtrees below this key only")
    options.format_option(parser, ["text", "jsonl"])


class Snapshot:
    """Every key below the start: path -> (key, last-written time, {value name: (type id, bytes)})."""

    def __init__(self, opened: hives.OpenedHive, key_path: str | None) -> None:
        self.keys: dict[str, tuple] = {}
        for path, key in hives.walk(opened, key_path):
            try:
                contents = _contents(key.values())
            except (OSError, ValueError):
                contents = _contents(hives.readable_values(key, path, opened.damage))
            self.keys.setdefault(path, (key, key.last_written_filetime(), contents))


def _contents(values) -> dict[str, tuple]:
    return {value.name(): (value.value_type().type_id(), value.raw_data(), value) for value in values}


def order(path: str) -> list[str]:
    """Tree order: a key's subkeys right after it, siblings by name in any case."""
    return [part.casefold() for part in path.split("\\")] if path else []


def shown_path(path: str) -> str:
    return f"{path}\\" if path else "\\"


class Report:
    def __init__(self, out, fmt: str) -> None:
        self.batch = Batch(out)
        self.fmt = fmt
        self.changes = 0

    def key(self, sign: str, path: str) -> None:
        self._emit(sign, "key", path, f"{sign} {shown_path(path)}")

    def value(self, sign: str, path: str, name: str, old=None, new=None) -> None:
        shown = " -> ".join(self._value_text(v) for v in (old, new) if v is not None)
        self._emit(sign, "value", path, f"{sign} {shown_path(path)}: {name} = {shown}", name=name,
                   old=self._value_record(old), new=self._value_record(new))

    def time(self, path: str, old: int, new: int) -> None:
        old_text, new_text = times.iso_or_empty(old) or None, times.iso_or_empty(new) or None
        self._emit("~", "last_written", path,
                   f"~ {shown_path(path)} last written {old_text or '(never)'} -> {new_text or '(never)'}",
                   old=old_text, new=new_text)

    @staticmethod
    def _value_text(value) -> str:
        return f"{describe(value)[0]}: {short_text(value)}"

    @staticmethod
    def _value_record(value):
        if value is None:
            return None
        type_name, _, data, is_hex = describe(value)
        record = {"type": type_name, "data": data, "size": value.data_size()}
        if is_hex:
            record["data_encoding"] = "hex"
        return record

    def _emit(self, sign: str, kind: str, path: str, text: str, **fields) -> None:
        self.changes += 1
        if self.fmt == "jsonl":
            record = {"change": sign, "kind": kind, "path": path}
            record.update((k, v) for k, v in fields.items() if not (k in ("old", "new") and v is None))
            self.batch.add(json.dumps(record, ensure_ascii=False) + "\n")
        else:
            self.batch.add(text + "\n")


def compare(old: Snapshot, new: Snapshot, report: Report) -> None:
    for path in sorted(old.keys.keys() | new.keys.keys(), key=order):
        before, after = old.keys.get(path), new.keys.get(path)
        if after is None:
            report.key("-", path)
            for name, (_, _, value) in before[2].items():
                report.value("-", path, name, old=value)
        elif before is None:
            report.key("+", path)
            for name, (_, _, value) in after[2].items():
                report.value("+", path, name, new=value)
        else:
            if before[1] != after[1]:
                report.time(path, before[1], after[1])
            old_values, new_values = before[2], after[2]
            for name, (type_id, raw, value) in old_values.items():
                other = new_values.get(name)
                if other is None:
                    report.value("-", path, name, old=value)
                elif (type_id, raw) != other[:2]:
                    report.value("~", path, name, old=value, new=other[2])
            for name, (_, _, value) in new_values.items():
                if name not in old_values:
                    report.value("+", path, name, new=value)


def run(args: argparse.Namespace) -> int:
    reading = options.reading(args, 2)
    snapshots = []
    read = []
    for path in (args.old, args.new):
        try:
            opened = hives.open_hive(path, reading)
            if opened.note:
                error(opened.note)
            read.append(opened)
            snapshots.append(Snapshot(opened, args.key))
        except FileFailure as failure:
            error(str(failure))
            return TROUBLE
        except (OSError, ValueError, RuntimeError) as problem:
            for each in read:
                hives.report_problems(each)
            error(f"{path}: {reason(problem)}")
            return TROUBLE
    with open_text(args.output) as out:
        report = Report(out, args.format)
        compare(*snapshots, report)
        report.batch.flush()
    for opened in read:
        hives.report_problems(opened)
    if any(opened.damage.count for opened in read):
        return TROUBLE  # the comparison left out what could not be read
    return 1 if report.changes else 0
