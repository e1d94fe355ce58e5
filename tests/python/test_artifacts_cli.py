"""orvane artifacts, run as a user runs it: each format, --list, --only,
a damaged hive read with --tolerant, and the exit codes."""

from __future__ import annotations

import csv
import io
import json
from datetime import datetime, timezone

import pytest
from cli_runner import run

import orvane
from orvane_cli.commands import artifacts as artifacts_command


@pytest.fixture(scope="module")
def system_hive(corpus_dir):
    return str(corpus_dir / "SYSTEM")


def test_list_names_every_extractor():
    done = run("artifacts", "--list")
    assert done.returncode == 0
    names = [line.split()[0] for line in done.stdout.splitlines()]
    assert {"shimcache", "usbstor", "sam_users", "machine_sid"} <= set(names)


@pytest.mark.parametrize("fmt, check", [
    ("text", lambda out: "== computer_name (1 record)" in out and "WKS-WIN732BITA" in out),
    ("jsonl", lambda out: [(r["hive"] != "", r["artifact"], r["computer_name"])
                           for r in map(json.loads, out.splitlines())][0][1:] == ("computer_name", "WKS-WIN732BITA")),
    ("csv", lambda out: next(csv.DictReader(io.StringIO(out)))["computer_name"] == "WKS-WIN732BITA"),
])
def test_formats_with_only(system_hive, fmt, check):
    done = run("artifacts", system_hive, "--only", "computer_name", "--format", fmt)
    assert done.returncode == 0, done.stderr
    assert check(done.stdout)


def test_jsonl_starts_each_record_with_hive_and_artifact(system_hive):
    done = run("artifacts", system_hive, "--only", "shimcache,usbstor", "--format", "jsonl")
    records = [json.loads(line) for line in done.stdout.splitlines()]
    assert {r["artifact"] for r in records} == {"shimcache", "usbstor"}
    assert all(list(r)[:2] == ["hive", "artifact"] for r in records)


def test_csv_of_several_artifacts_goes_to_a_folder(system_hive, tmp_path):
    assert run("artifacts", system_hive, "--format", "csv").returncode == 2
    done = run("artifacts", system_hive, "--format", "csv", "-o", tmp_path / "out")
    assert done.returncode == 0, done.stderr
    with open(tmp_path / "out" / "shimcache.csv", encoding="utf-8") as f:
        assert len(list(csv.DictReader(f))) == 330


def test_parquet_of_one_artifact(system_hive, tmp_path):
    pytest.importorskip("pyarrow.parquet")
    import pyarrow.parquet

    done = run("artifacts", system_hive, "--only", "services", "--format", "parquet", "-o", tmp_path / "s.parquet")
    assert done.returncode == 0, done.stderr
    assert pyarrow.parquet.read_table(tmp_path / "s.parquet").num_rows == 416


@pytest.mark.parametrize("artifact", ["services", "shimcache", "usbstor", "timezone", "mounted_devices"])
def test_parquet_columns_keep_the_field_types(system_hive, tmp_path, artifact):
    pytest.importorskip("pyarrow.parquet")
    import pyarrow
    import pyarrow.parquet

    import orvane_artifacts

    out = tmp_path / f"{artifact}.parquet"
    done = run("artifacts", system_hive, "--only", artifact, "--format", "parquet", "-o", out)
    assert done.returncode == 0, done.stderr
    table = pyarrow.parquet.read_table(out)
    extractor = next(e for e in orvane_artifacts.extractors() if e.name == artifact)
    records = orvane_artifacts.extract(orvane.Hive.open(system_hive), [artifact]).records[artifact]
    expected_types = {"str": pyarrow.string(), "int": pyarrow.int64(), "bool": pyarrow.bool_(),
                      "bytes": pyarrow.binary(), "list[str]": pyarrow.list_(pyarrow.string())}
    for field in extractor.fields:
        column = table.column(field.name)
        if field.type == "datetime":
            assert pyarrow.types.is_timestamp(column.type), field.name
        else:
            assert column.type == expected_types[field.type], field.name
        assert column.to_pylist() == [record[field.name] for record in records], field.name


@pytest.mark.parametrize("kind, values, arrow_type", [
    ("int", [1, None, -5], "int64"),
    ("int", [1 << 63, 0], "uint64"),              # a FILETIME of all ones does not fit int64
    ("int", [-1, 1 << 63], "string"),             # nor int64 nor uint64: text, nothing lost
    ("int", ["7"], "string"),                     # a value not of the declared type
    ("datetime", [datetime(2020, 1, 1), datetime(2020, 1, 1, tzinfo=timezone.utc)], "string"),
    ("datetime", [datetime(2020, 1, 1), None], "timestamp[us]"),
    ("list[str]", [["a", "b"], [], None], "list<item: string>"),
])
def test_parquet_column_types_and_their_fallback(kind, values, arrow_type):
    pyarrow = pytest.importorskip("pyarrow")
    column = artifacts_command._typed_column(pyarrow, kind, values)
    assert str(column.type) == arrow_type
    assert len(column) == len(values) and column.null_count == values.count(None)


def test_damaged_hive_with_tolerant(system_hive, tmp_path):
    from pathlib import Path

    data = bytearray(Path(system_hive).read_bytes())
    data[508] ^= 0xFF                          # the checksum no longer matches
    data[-0x3000:] = bytes(0x3000)             # the last bins wiped
    damaged = tmp_path / "SYSTEM"
    damaged.write_bytes(bytes(data))
    done = run("artifacts", damaged, "--tolerant", "--only", "computer_name,services", "--format", "jsonl")
    assert done.returncode in (0, 1)
    assert "Traceback" not in done.stderr
    assert any(json.loads(line)["artifact"] == "computer_name" for line in done.stdout.splitlines())


@pytest.mark.parametrize("args, status", [
    (["artifacts", "missing-hive"], 1),
    (["artifacts", "--only", "nope", "x"], 2),
    (["artifacts"], 2),
])
def test_exit_codes(args, status):
    assert run(*args).returncode == status


def test_timeline_merges_artifact_rows_in_time_order(corpus_dir):
    done = run("timeline", "--artifacts", corpus_dir / "SAM")
    assert done.returncode == 0, done.stderr
    rows = list(csv.reader(io.StringIO(done.stdout)))
    assert rows[0] == ["time", "hive", "artifact", "description"]
    body = rows[1:]
    assert [r[0] for r in body if r[0]] == sorted(r[0] for r in body if r[0])
    assert ["2010-11-20T21:48:12.5692440Z", str(corpus_dir / "SAM"), "sam_users",
            "last_logon: Administrator"] in body
    assert sum(r[2] == "key" for r in body) > 10
