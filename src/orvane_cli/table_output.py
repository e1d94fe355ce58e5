"""dump --tables: the hives' keys and values tables with every column.

Parquet goes through the tables' Arrow stream, batch by batch, so no Python
object is made per row and memory stays bounded by a batch; csv and jsonl are
written from whole columns (one call per column, no pyarrow). Each table is a
file of its own under the output folder (`keys.parquet`, `values.csv`, ...);
with several hives Parquet becomes a dataset partitioned by hive
(`values/hive=NAME/part-0.parquet`), which DuckDB, Spark and pyarrow read as
one table with a `hive` column, and csv/jsonl gain a `hive` column first.
"""

from __future__ import annotations

import csv
import json
import os
from urllib.parse import quote

from orvane_cli import hives, times
from orvane_cli.arrow_support import load_parquet
from orvane_cli.messages import FileFailure
from orvane_cli.options import UsageError

TABLES = ("keys", "values")
TIME_COLUMNS = {"last_written"}


def parse_tables(text: str) -> list[str]:
    names = [name.strip() for name in text.split(",") if name.strip()]
    unknown = [name for name in names if name not in TABLES]
    if unknown or not names:
        raise UsageError(f"--tables takes keys, values or both (keys,values), not {text!r}")
    return list(dict.fromkeys(names))


def partition_name(path: str) -> str:
    """The hive's path as one folder name (percent-encoded, as hive-style
    partitions are read back): two NTUSER.DAT of different users stay apart."""
    return quote(path, safe="")


def table_of(hive, name: str, key_path: str | None):
    return hive.keys_table(key_path or "") if name == "keys" else hive.values_table(key_path or "")


def write_parquet(table, path: str) -> int:
    """Streams one table into a Parquet file; returns its rows."""
    pyarrow, parquet = load_parquet()
    reader = pyarrow.RecordBatchReader.from_stream(table)
    rows = 0
    try:
        os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
        writer = parquet.ParquetWriter(path, reader.schema)
    except OSError as problem:
        raise FileFailure(path, problem) from None
    try:
        with writer:
            for batch in reader:
                writer.write_batch(batch)
                rows += batch.num_rows
    except BaseException:
        # A hive that fails part-way leaves no file that looks whole.
        os.remove(path)
        raise
    return rows


def cell(value) -> object:
    """A column value as jsonl holds it: bytes as hex, lists as they are."""
    return value.hex() if isinstance(value, bytes) else value


def csv_cell(value) -> object:
    """As cell(), and a list as its JSON text, so strings with commas stay whole."""
    if value is None:
        return ""
    if isinstance(value, list):
        return json.dumps(value, ensure_ascii=False)
    return cell(value)


class TextTables:
    """csv or jsonl files, one per table, rows appended hive after hive."""

    def __init__(self, folder: str, fmt: str, with_hive: bool) -> None:
        self.folder, self.fmt, self.with_hive = folder, fmt, with_hive
        self.files: dict[str, object] = {}
        self.writers: dict[str, object] = {}

    def _file(self, name: str, columns: list[str]):
        if name not in self.files:
            path = os.path.join(self.folder, f"{name}.{self.fmt}")
            try:
                os.makedirs(self.folder, exist_ok=True)
                self.files[name] = open(path, "w", encoding="utf-8", newline="")
            except OSError as problem:
                raise FileFailure(path, problem) from None
            if self.fmt == "csv":
                self.writers[name] = csv.writer(self.files[name], lineterminator="\n")
                self.writers[name].writerow((["hive"] if self.with_hive else []) + columns)
        return self.files[name]

    def write(self, label: str, name: str, table) -> int:
        columns = table.column_names
        # Times as the other formats write them, from their stored FILETIMEs.
        data = [[times.iso(t) if t else None for t in table.column(f"{column}_filetime")]
                if column in TIME_COLUMNS else table.column(column) for column in columns]
        out = self._file(name, columns)
        rows = zip(*data)
        if self.fmt == "csv":
            lead = [label] if self.with_hive else []
            self.writers[name].writerows(lead + [csv_cell(v) for v in row] for row in rows)
        else:
            names = (["hive"] if self.with_hive else []) + columns
            lead = (label,) if self.with_hive else ()
            out.writelines(json.dumps(dict(zip(names, lead + tuple(cell(v) for v in row))), ensure_ascii=False,
                                      separators=(",", ":")) + "\n" for row in rows)
        return table.num_rows

    def close(self) -> None:
        for file in self.files.values():
            file.close()


def parquet_path(folder: str, name: str, label: str | None) -> str:
    if label is None:
        return os.path.join(folder, f"{name}.parquet")
    return os.path.join(folder, name, f"hive={partition_name(label)}", "part-0.parquet")


def write_hive_parquet(opened: hives.OpenedHive, names: list[str], key_path: str | None, folder: str,
                       partitioned: bool) -> int:
    """One hive's tables as Parquet; returns the keys written (for progress)."""
    keys = 0
    for name in names:
        rows = write_parquet(table_of(opened.hive, name, key_path),
                             parquet_path(folder, name, opened.path if partitioned else None))
        if name == "keys":
            keys = rows
    return keys
