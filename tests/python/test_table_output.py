"""dump --tables and the partitioned Parquet dataset, read back by pyarrow,
DuckDB and Spark; the tables handed to DuckDB straight from the hive."""

from __future__ import annotations

import csv
import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from cli_runner import SRC, run

import orvane

EXAMPLE = SRC.parent / "examples" / "spark_hives.py"


def arrow():
    return pytest.importorskip("pyarrow")


def copy(corpus_dir, tmp_path, name, folder="."):
    target = tmp_path / folder / name
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy(corpus_dir / name, target)
    return target


@pytest.mark.parametrize("tables", ["keys", "values", "keys,values"])
def test_parquet_tables_of_one_hive_are_the_hive_tables(corpus_dir, tmp_path, tables):
    pq = pytest.importorskip("pyarrow.parquet")
    result = run("dump", "--tables", tables, "--format", "parquet", "-o", tmp_path / "out", corpus_dir / "SAM")
    assert result.returncode == 0, result.stderr
    hive = orvane.Hive.open(str(corpus_dir / "SAM"))
    for name in ("keys", "values"):
        written = tmp_path / "out" / f"{name}.parquet"
        assert written.exists() == (name in tables)
        if written.exists():
            expected = arrow().table(getattr(hive, f"{name}_table")())
            assert pq.read_table(written).equals(expected)


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_several_hives_make_a_dataset_partitioned_by_hive(corpus_dir, tmp_path, jobs):
    dataset = pytest.importorskip("pyarrow.dataset")
    # Two hives of one name from two machines stay two partitions.
    hives = [copy(corpus_dir, tmp_path, "SAM", "pc1"), copy(corpus_dir, tmp_path, "SAM", "pc2"),
             copy(corpus_dir, tmp_path, "BCD", "pc1")]
    out = tmp_path / "out"
    out.mkdir()
    result = run("dump", "--format", "parquet", "--jobs", jobs, "-o", out, *hives)  # a folder: both tables
    assert result.returncode == 0, result.stderr
    for name in ("keys", "values"):
        table = dataset.dataset(out / name, partitioning="hive").to_table()
        counts = {hive: 0 for hive in map(str, hives)}
        for hive in table.column("hive").to_pylist():
            counts[hive] += 1
        assert counts == {str(h): getattr(orvane.Hive.open(str(h)), f"{name}_table")().num_rows for h in hives}


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_text_tables_hold_every_column(corpus_dir, tmp_path, fmt):
    hives = [corpus_dir / "SAM", corpus_dir / "BCD"]
    result = run("dump", "--tables", "values,keys", "--format", fmt, "-o", tmp_path / "out", *hives)
    assert result.returncode == 0, result.stderr
    table = orvane.Hive.open(str(hives[1])).values_table()
    text = (tmp_path / "out" / f"values.{fmt}").read_text(encoding="utf-8")
    if fmt == "csv":
        rows = list(csv.DictReader(text.splitlines()))
    else:
        rows = [json.loads(line) for line in text.splitlines()]
    bcd = [row for row in rows if row["hive"] == str(hives[1])]
    assert len(rows) == sum(orvane.Hive.open(str(h)).values_table().num_rows for h in hives)
    assert [row["data"] for row in bcd] == [data.hex() for data in table.column("data")]
    strings = [row["strings"] for row in bcd]
    expected = table.column("strings")
    if fmt == "csv":
        assert strings == ["" if s is None else json.dumps(s, ensure_ascii=False) for s in expected]
    else:
        assert strings == expected
    keys = (tmp_path / "out" / f"keys.{fmt}").read_text(encoding="utf-8")
    assert "last_written_filetime" in keys.splitlines()[0]


@pytest.mark.parametrize("args, message", [
    (["--tables", "cells"], "--tables takes keys, values or both (keys,values), not 'cells'"),
    (["--tables", "keys"], "--tables writes one file per table: -o DIR"),
])
def test_table_usage_errors(corpus_dir, args, message):
    result = run("dump", *args, corpus_dir / "SAM")
    assert result.returncode == 2
    assert message in result.stderr


def test_duckdb_reads_the_tables_and_the_dataset(corpus_dir, tmp_path):
    duckdb = pytest.importorskip("duckdb")
    arrow()
    values = orvane.Hive.open(str(corpus_dir / "SAM")).values_table()
    counted = duckdb.sql("select count(*), count(distinct type_name) from values").fetchall()[0]
    assert counted[0] == values.num_rows and counted[1] == len(set(values.column("type_name")))
    out = tmp_path / "out"
    out.mkdir()
    assert run("dump", "--format", "parquet", "-o", out, corpus_dir / "SAM", corpus_dir / "BCD").returncode == 0
    per_hive = dict(duckdb.sql(f"select hive, count(*) from read_parquet('{out}/values/*/*.parquet', "
                               "hive_partitioning = true) group by hive").fetchall())
    assert per_hive == {str(corpus_dir / n): orvane.Hive.open(str(corpus_dir / n)).values_table().num_rows
                        for n in ("SAM", "BCD")}


def test_spark_example_writes_every_hive_and_finds_the_run_keys(corpus_dir, tmp_path):
    pytest.importorskip("pyspark")
    pq = pytest.importorskip("pyarrow.parquet")
    if shutil.which("java") is None:
        pytest.skip("Spark needs Java")
    hives = [copy(corpus_dir, tmp_path, name) for name in ("NTUSER.DAT", "SAM")]
    out = tmp_path / "dataset"
    env_path = f"{Path(orvane.__file__).parent}:{SRC}"
    result = subprocess.run([sys.executable, str(EXAMPLE), str(out), *map(str, hives)], capture_output=True,
                            text=True, timeout=600, env={"PATH": "/usr/bin:/bin", "PYTHONPATH": env_path})
    assert result.returncode == 0, result.stderr[-3000:]
    assert (f"{hives[0]}\tSoftware\\Microsoft\\Windows\\CurrentVersion\\Run\tSidebar\t"
            "%ProgramFiles%\\Windows Sidebar\\Sidebar.exe /autoRun") in result.stdout
    keys = pq.read_table(out / "keys")
    for hive in hives:
        assert keys.column("hive").to_pylist().count(str(hive)) == orvane.Hive.open(str(hive)).keys_table().num_rows


def test_polars_takes_the_tables_as_they_are(corpus_dir):
    polars = pytest.importorskip("polars")
    hive = orvane.Hive.open(str(corpus_dir / "SYSTEM"))
    keys = polars.DataFrame(hive.keys_table())
    assert keys["path"].to_list() == hive.keys_table().column("path")
    assert str(keys.schema["last_written"]) == "Datetime(time_unit='us', time_zone='UTC')"
    values = polars.DataFrame(hive.values_table("Select"))
    assert dict(zip(values["name"].to_list(), values["integer"].to_list()))["Current"] == 1


def test_a_hive_that_fails_part_way_leaves_no_table_file(write_hive, tmp_path):
    pytest.importorskip("pyarrow.parquet")
    from hive_builder import HiveBuilder, Key
    builder = HiveBuilder()
    builder.tree(Key("ROOT", subkeys=[Key("A"), Key("Broken", subkey_count=2, subkey_list=0x7FFF0)], list_kind="li"))
    out = tmp_path / "out"
    result = run("dump", "--tables", "keys", "--format", "parquet", "-o", out, write_hive(builder))
    assert result.returncode == 1
    assert "Invalid offset 0x7fff0" in result.stderr
    assert not (out / "keys.parquet").exists()
