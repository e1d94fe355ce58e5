"""The record formats of `orvane dump`: JSON lines, CSV and Parquet.

A writer takes one key at a time (`key(hive, path, key)`), reads its values
once, and writes in large chunks. `append_part` copies in what a worker
process wrote for one hive, so several hives can be read at once while the
output keeps the order of the arguments.
"""

from __future__ import annotations

import array
import csv
import json
import json.encoder
import shutil
from typing import TextIO

from orvane_cli import times
from orvane_cli.arrow_support import load_parquet
from orvane_cli.messages import FileFailure
from orvane_cli.options import UsageError
from orvane_cli.output import Batch, open_text
from orvane_cli.values import DECODED_TYPES, describe, type_of

CSV_COLUMNS = ["path", "last_written", "value_name", "type", "size", "data"]
# Rows of the row-per-value Parquet file held as Python lists before they go
# out as one row group: with 8,192 a 43k-key hive's dump peaks at 94 MiB
# (pyarrow itself takes 61), with 16,384 it took 100, at the same speed.
ROWS_PER_BATCH = 8_192
_quote = json.encoder.encode_basestring  # a JSON string, non-ASCII kept (as ensure_ascii=False)
quote = _quote
_json = json.JSONEncoder(ensure_ascii=False, separators=(",", ":"), check_circular=False).encode


def text_cell(data: object) -> str:
    """Data as one CSV or Parquet cell: text as it is, numbers in decimal,
    a list of texts as a JSON array (so no separator can be mistaken), hex as hex."""
    if data is None:
        return ""
    if isinstance(data, list):
        return _json(data)
    return str(data)


def json_data(value, type_id: int) -> str:
    """The value's "data" member and, for hex, its "data_encoding", as JSON text."""
    if type_id in DECODED_TYPES:
        try:
            data = value.as_py()
        except ValueError:  # does not decode: keep the bytes
            pass
        else:
            kind = data.__class__
            if kind is str:
                # Stale bytes after the string's U+0000 are kept beside it. Only
                # data longer than its text can hold any, so most strings cost
                # no second read.
                if value.data_size() > 2 * len(data) + 2:
                    trailing = value.trailing_data()
                    if trailing:
                        return f'{_quote(data)},"data_trailing":"{trailing.hex()}"'
                return _quote(data)
            if kind is int:
                return str(data)
            if data is None:
                return "null"
            return "[" + ",".join(map(_quote, data)) + "]"
    return '"' + value.raw_data().hex() + '","data_encoding":"hex"'


def value_members(value) -> str:
    """One value's JSON members (name, type, data, size), without braces."""
    type_name, type_id = type_of(value)
    return (f'"name":{_quote(value.name())},"type":{_quote(type_name)},'
            f'"data":{json_data(value, type_id)},"size":{value.data_size()}')


class JsonLines:
    """One JSON object per key. The text is put together here rather than by
    json.dumps on dicts: the same bytes (compact separators, non-ASCII kept),
    for a quarter less time on a dump dominated by small values."""

    def __init__(self, out: TextIO) -> None:
        self.out = out
        self.batch = Batch(out)

    def key(self, hive: str | None, path: str, key) -> None:
        values = ["{" + value_members(value) + "}" for value in key.values()]
        filetime = key.last_written_filetime()
        class_name = key.class_name()
        self.batch.add(
            ("{" if hive is None else f'{{"hive":{_quote(hive)},')
            + f'"path":{_quote(path)},"last_written":{_quote(times.iso(filetime)) if filetime else "null"},'
            f'"class_name":{"null" if class_name is None else _quote(class_name)},'
            f'"subkey_count":{key.subkey_count()},"values":[{",".join(values)}]}}\n')

    def append_part(self, part: str) -> None:
        self.batch.flush()
        with open(part, encoding="utf-8", newline="") as f:
            shutil.copyfileobj(f, self.out, 1 << 20)

    def close(self) -> None:
        self.batch.flush()


class Rows:
    """One row per value, a key without values as one row with empty value
    fields: the columns of CSV_COLUMNS, after a "hive" column when asked."""

    def __init__(self, with_hive: bool) -> None:
        self.with_hive = with_hive
        self.columns = (["hive"] if with_hive else []) + CSV_COLUMNS

    def rows(self, hive: str | None, path: str, key) -> list[list]:
        """The key's rows, all made before any is written, so that a value
        that cannot be read leaves no rows of its key behind."""
        lead = [hive, path] if self.with_hive else [path]
        lead.append(times.iso_or_empty(key.last_written_filetime()))
        values = key.values()
        if not values:
            return [lead + ["", "", None, ""]]
        rows = []
        for value in values:
            type_name, _, data, _ = describe(value)
            rows.append(lead + [value.name(), type_name, value.data_size(), text_cell(data)])
        return rows


class Csv(Rows):
    def __init__(self, out: TextIO, with_hive: bool, header: bool) -> None:
        super().__init__(with_hive)
        self.out = out
        self.writer = csv.writer(out, lineterminator="\n")
        if header:
            self.writer.writerow(self.columns)

    def key(self, hive: str | None, path: str, key) -> None:
        self.writer.writerows(self.rows(hive, path, key))

    def append_part(self, part: str) -> None:
        with open(part, encoding="utf-8", newline="") as f:
            shutil.copyfileobj(f, self.out, 1 << 20)

    def close(self) -> None:
        pass


class Parquet(Rows):
    """Rows gathered into column batches and written with pyarrow; the file
    is created on the first batch, or at the end with no rows."""

    def __init__(self, path: str | None, with_hive: bool) -> None:
        super().__init__(with_hive)
        pyarrow, parquet = load_parquet()
        self.pa, self.pq = pyarrow, parquet
        self.schema = pyarrow.schema([(name, pyarrow.int64() if name == "size" else pyarrow.string())
                                      for name in self.columns])
        self.path = path
        self.pending: list[list] = []
        self.writer = None

    def key(self, hive: str | None, path: str, key) -> None:
        self.pending.extend(self.rows(hive, path, key))
        if len(self.pending) >= ROWS_PER_BATCH:
            self.flush()

    def _writer(self):
        if self.writer is None:
            try:
                self.writer = self.pq.ParquetWriter(self.path, self.schema)
            except OSError as problem:
                raise FileFailure(self.path, problem) from None
        return self.writer

    def flush(self) -> None:
        if self.pending:
            # One column at a time, so the rows are not held twice over.
            arrays = [self._array([row[index] for row in self.pending], field.type)
                      for index, field in enumerate(self.schema)]
            self.pending.clear()
            self._writer().write_batch(self.pa.RecordBatch.from_arrays(arrays, schema=self.schema))

    def _array(self, column: list, kind):
        """One column as an Arrow array. pyarrow.array imports pandas (0.2 s
        and 50 MiB when it is installed) on the first list it converts, only
        to ask whether the list is a pandas object; text columns go through
        pyarrow's string builder instead, and the sizes into a buffer."""
        pa = self.pa
        builder = getattr(pa.lib, "StringBuilder", None)
        if builder is None:
            return pa.array(column, type=kind)
        if kind == pa.string():
            texts = builder()
            texts.append_values(column)
            return texts.finish()
        # The sizes: int64, null for a key without values.
        valid = bytearray((len(column) + 7) // 8)
        for row, size in enumerate(column):
            if size is not None:
                valid[row >> 3] |= 1 << (row & 7)
        data = array.array("q", (0 if size is None else size for size in column))
        return pa.Array.from_buffers(pa.int64(), len(column), [pa.py_buffer(valid), pa.py_buffer(data)])

    def append_part(self, part: str) -> None:
        self.flush()
        self._writer().write_table(self.pq.read_table(part, schema=self.schema))

    def close(self) -> None:
        self.flush()
        self._writer().close()


class _Closing:
    def __init__(self, writer, stream: TextIO | None) -> None:
        self.writer, self.stream = writer, stream

    def __enter__(self):
        return self.writer

    def __exit__(self, *exc) -> None:
        try:
            if exc[0] is None:
                self.writer.close()
        finally:
            if self.stream is not None:
                self.stream.close()


def open_writer(fmt: str, path: str | None, *, with_hive: bool = False, header: bool = True) -> _Closing:
    """A writer for `fmt` on path (None or "-": standard output), as a context manager."""
    if fmt == "parquet":
        load_parquet()
        if path is None or path == "-":
            raise UsageError("parquet output needs a file: -o FILE")
        return _Closing(Parquet(path, with_hive), None)
    stream = open_text(path)
    writer = JsonLines(stream) if fmt == "jsonl" else Csv(stream, with_hive, header)
    return _Closing(writer, stream)


FORMATS = {"jsonl": JsonLines, "csv": Csv, "parquet": Parquet}
