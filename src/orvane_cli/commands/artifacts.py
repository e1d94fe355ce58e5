"""orvane artifacts HIVE...: the forensic artifacts each hive holds, decoded.

text: one aligned table per extractor, after a heading with its record
count. jsonl: one object per record, "hive" and "artifact" first. csv and
parquet: with --only naming one extractor its fields are the columns;
otherwise one file per extractor (ARTIFACT.csv) under -o DIR. Parquet columns
keep the fields' types (int64, bool, binary, list of strings, timestamps in
UTC or, for local times, without a zone); a column whose values do not fit
its type goes as text. Problems go to stderr as "orvane: HIVE: ARTIFACT: ...".
"""

from __future__ import annotations

import argparse
import csv
import json
import os
from datetime import datetime

from orvane_cli import hives, options
from orvane_cli.arrow_support import load_parquet
from orvane_cli.messages import FileFailure, error
from orvane_cli.output import open_text

NAME = "artifacts"
HELP = "decode the forensic artifacts of each hive (USB devices, services, shimcache, accounts, ...)"
FORMATS = ["text", "jsonl", "csv", "parquet"]


def parents() -> list[argparse.ArgumentParser]:
    return [options.reading_parent(), options.output_parent()]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hives", nargs="*", metavar="HIVE")
    parser.add_argument("--only", metavar="NAME[,NAME...]", help="run only these extractors")
    parser.add_argument("--list", action="store_true", help="list the extractors: name, hive kinds, description")
    parser.add_argument("--all-control-sets", action="store_true",
                        help="read every ControlSetNNN of a SYSTEM hive, not only the current one")
    options.format_option(parser, FORMATS)


def cell(data: object) -> object:
    """A field as JSON takes it: times in ISO 8601, bytes in hex."""
    if isinstance(data, datetime):
        return data.isoformat()
    if isinstance(data, bytes):
        return data.hex()
    return data


def text_cell(data: object) -> str:
    if data is None:
        return ""
    if isinstance(data, bool):
        return "true" if data else "false"
    if isinstance(data, list):
        return json.dumps(data, ensure_ascii=False)
    text = str(cell(data))
    return text if text.isprintable() else text.encode("unicode_escape").decode("ascii")


def _list(out) -> None:
    import orvane_artifacts

    rows = [(e.name, ",".join(e.hive_kinds), e.description) for e in orvane_artifacts.extractors()]
    widths = [max(len(row[i]) for row in rows) for i in range(2)]
    for name, kinds, description in rows:
        out.write(f"{name:<{widths[0]}}  {kinds:<{widths[1]}}  {description}\n")


def _table(out, title: str, extractor, records: list[dict]) -> None:
    out.write(f"== {title} ({len(records)} record{'s' if len(records) != 1 else ''})\n")
    if records:
        rows = [list(extractor.field_names)] + [[text_cell(r[f]) for f in extractor.field_names] for r in records]
        widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
        for row in rows:
            out.write("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip() + "\n")
    out.write("\n")


def run(args: argparse.Namespace) -> int:
    import orvane_artifacts

    if args.list:
        with open_text(args.output) as out:
            _list(out)
        return 0
    if not args.hives:
        raise options.UsageError("give at least one HIVE (or --list)")
    names = [n.strip() for n in args.only.split(",") if n.strip()] if args.only else None
    known = {e.name: e for e in orvane_artifacts.extractors()}
    for name in names or []:
        if name not in known:
            raise options.UsageError(f"unknown artifact {name!r}; see --list")
    single = names is not None and len(names) == 1
    if args.format in ("csv", "parquet") and not single and not args.output:
        raise options.UsageError(f"{args.format} output of several artifacts needs a folder: -o DIR")
    reading = options.reading(args, len(args.hives))
    found: list[tuple[str, str, list[dict]]] = []  # (hive, artifact, records)

    def work(opened: hives.OpenedHive) -> None:
        result = orvane_artifacts.extract(opened.hive, names, args.all_control_sets)
        for line in result.problems:
            error(f"{opened.path}: {line}")
        for name, records in result.records.items():
            found.append((opened.path, name, records))

    status = hives.run_each(args.hives, reading, work)
    if args.format == "text":
        with open_text(args.output) as out:
            for hive, name, records in found:
                _table(out, f"{hive}: {name}" if len(args.hives) > 1 else name, known[name], records)
    elif args.format == "jsonl":
        with open_text(args.output) as out:
            for hive, name, records in found:
                for record in records:
                    members = {"hive": hive, "artifact": name, **{k: cell(v) for k, v in record.items()}}
                    out.write(json.dumps(members, ensure_ascii=False, separators=(",", ":")) + "\n")
    else:
        _write_tables(args, known, found, single)
    return status


def _write_tables(args, known, found, single: bool) -> None:
    by_name: dict[str, list[tuple[str, dict]]] = {}
    for hive, name, records in found:
        by_name.setdefault(name, []).extend((hive, r) for r in records)
    if single:
        name = next(iter(known[n] for n in [args.only.split(",")[0].strip()])).name
        _write_one(args.format, args.output, known[name], by_name.get(name, []))
        return
    try:
        os.makedirs(args.output, exist_ok=True)
    except OSError as problem:
        raise FileFailure(args.output, problem) from None
    for name, rows in by_name.items():
        _write_one(args.format, os.path.join(args.output, f"{name}.{args.format}"), known[name], rows)


_INT64 = range(-(1 << 63), 1 << 63)
_UINT64 = range(0, 1 << 64)


def _arrow_type(pyarrow, kind: str, values: list):
    """The Parquet column type of a field: its declared type, except that
    integers past int64 go as uint64 and a time column mixing local (naive)
    and UTC times has no single type; None then, and the column is text."""
    present = [value for value in values if value is not None]
    if kind == "int":
        if not all(isinstance(value, int) for value in present):
            return None  # (and `in range` would scan the whole range for a value that is not an int)
        if all(value in _INT64 for value in present):
            return pyarrow.int64()
        return pyarrow.uint64() if all(value in _UINT64 for value in present) else None
    if kind == "datetime":
        aware = {value.tzinfo is not None for value in present}
        if len(aware) > 1:
            return None
        return pyarrow.timestamp("us", tz="UTC" if aware != {False} else None)
    return {"str": pyarrow.string(), "bool": pyarrow.bool_(), "bytes": pyarrow.binary(),
            "list[str]": pyarrow.list_(pyarrow.string())}.get(kind)


def _typed_column(pyarrow, kind: str, values: list):
    arrow_type = _arrow_type(pyarrow, kind, values)
    if arrow_type is not None:
        try:
            return pyarrow.array(values, type=arrow_type)
        except (pyarrow.ArrowException, TypeError, ValueError, OverflowError):
            pass  # a value that does not fit its declared type: the column goes as text, nothing lost
    return pyarrow.array([None if value is None else text_cell(value) for value in values], type=pyarrow.string())


def _write_one(fmt: str, path: str | None, extractor, rows: list[tuple[str, dict]]) -> None:
    columns = ["hive", *extractor.field_names]
    if fmt == "csv":
        table = [[hive, *(text_cell(record[f]) for f in extractor.field_names)] for hive, record in rows]
        with open_text(path) as out:
            writer = csv.writer(out, lineterminator="\n")
            writer.writerow(columns)
            writer.writerows(table)
        return
    pyarrow, parquet = load_parquet()
    if path is None or path == "-":
        raise options.UsageError("parquet output needs a file: -o FILE")
    arrays = [pyarrow.array([hive for hive, _ in rows], type=pyarrow.string())]
    arrays += [_typed_column(pyarrow, field.type, [record[field.name] for _, record in rows])
               for field in extractor.fields]
    try:
        parquet.write_table(pyarrow.table(arrays, names=columns), path)
    except OSError as problem:
        raise FileFailure(path, problem) from None
