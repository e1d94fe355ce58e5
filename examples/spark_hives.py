#!/usr/bin/env python3
"""Many hives on a cluster: orvane inside Spark, one Parquet dataset for all.

    python examples/spark_hives.py OUT_DIR HIVE... [--master local[2]]

The hive paths must be readable by the Spark workers: a local folder here, a
shared file system or an object store mounted on every worker in production.
The paths are spread over Spark tasks; each task opens its hives with
`orvane.open` (logs beside them applied) and yields the Arrow record batches
of `keys_table()` and `values_table()` through `mapInArrow`, so no Python
object is made per key or value. Spark writes `OUT_DIR/keys` and
`OUT_DIR/values`, each with a `hive` column naming the file, and the example
ends with a query over every machine at once: the values of the Run keys.

Needs pyspark (`pip install 'orvane[spark]'`) and Java 17.
"""

from __future__ import annotations

import os
import sys
import time

import pyarrow

TABLES = ("keys", "values")


def spark_arrow_type(arrow_type: pyarrow.DataType) -> pyarrow.DataType:
    """The type Spark can take for one of the tables' columns: Spark has no
    unsigned integers (uint64 becomes decimal(20, 0), so no value is lost)
    and takes a dictionary-encoded column as its plain values."""
    if pyarrow.types.is_dictionary(arrow_type):
        return arrow_type.value_type
    if pyarrow.types.is_uint64(arrow_type):
        return pyarrow.decimal128(20, 0)
    if pyarrow.types.is_unsigned_integer(arrow_type):
        return pyarrow.int64()
    return arrow_type


def table_schema(table: str, sample_hive: str) -> pyarrow.Schema:
    """The Arrow schema Spark receives for `table`, with the `hive` column
    first; every hive's table has the same columns, so one hive tells them."""
    import orvane

    own = pyarrow.schema(getattr(orvane.Hive.open(sample_hive), f"{table}_table")())
    return pyarrow.schema([pyarrow.field("hive", pyarrow.string())] +
                          [pyarrow.field(f.name, spark_arrow_type(f.type), f.nullable) for f in own])


def batches_of(table: str, schema: pyarrow.Schema):
    """The function mapInArrow runs on the workers: for each hive path in
    its input, the table's batches with the hive's name beside them."""

    def run(paths):
        import warnings

        import orvane

        for batch in paths:
            for path in batch.column("path").to_pylist():
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")  # what was applied, or that a hive is dirty
                    hive = orvane.open(path)
                stream = pyarrow.RecordBatchReader.from_stream(getattr(hive, f"{table}_table")())
                for part in stream:
                    hive_column = pyarrow.array([path] * part.num_rows, pyarrow.string())
                    columns = [hive_column] + [column.cast(field.type) for column, field in
                                               zip(part.columns, list(schema)[1:])]
                    yield pyarrow.RecordBatch.from_arrays(columns, schema=schema)

    return run


def main(argv: list[str]) -> None:
    master = "local[2]"
    if "--master" in argv:
        at = argv.index("--master")
        master = argv[at + 1]
        del argv[at:at + 2]
    if len(argv) < 2:
        raise SystemExit(__doc__)
    out, paths = argv[0], argv[1:]

    # Local workers run this interpreter (with its orvane); on a cluster the
    # workers' own Python, with orvane installed, is set by PYSPARK_PYTHON.
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    from pyspark.sql import SparkSession
    from pyspark.sql.pandas.types import from_arrow_schema

    started = time.perf_counter()
    spark = (SparkSession.builder.master(master).appName("orvane hives")
             .config("spark.ui.showConsoleProgress", "false").getOrCreate())
    spark.sparkContext.setLogLevel("ERROR")
    ready = time.perf_counter()

    hives = spark.createDataFrame([(path,) for path in paths], "path string").repartition(
        min(len(paths), spark.sparkContext.defaultParallelism))
    for table in TABLES:
        schema = table_schema(table, paths[0])
        frame = hives.mapInArrow(batches_of(table, schema), from_arrow_schema(schema))
        frame.write.mode("overwrite").parquet(f"{out}/{table}")
    written = time.perf_counter()

    # Every value of a Run or RunOnce key, on every machine: what starts at logon.
    from pyspark.sql import functions

    values = spark.read.parquet(f"{out}/values")
    key = functions.lower(functions.col("path"))
    run_keys = (values.where(key.endswith("\\currentversion\\run") | key.endswith("\\currentversion\\runonce"))
                .select("hive", "path", "name", "string").orderBy("hive", "path", "name"))
    for row in run_keys.collect():
        print(f"{row.hive}\t{row.path}\t{row.name}\t{row.string}")
    print(f"spark start-up {ready - started:.1f} s; {len(paths)} hives written in {written - ready:.1f} s "
          f"({len(paths) / (written - ready):.2f} hives/s)", file=sys.stderr)
    spark.stop()


if __name__ == "__main__":
    main(sys.argv[1:])
