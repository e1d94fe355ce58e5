"""The orvane command line, run as a user runs it: the installed script in a
subprocess, on builder hives with known contents and on the corpus."""

from __future__ import annotations

import csv
import io
import json
import os
import shutil
import struct
import subprocess
import sys
from datetime import datetime, timedelta

import pytest
from cli_runner import SRC, run
from hive_builder import (
    REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_LINK, REG_MULTI_SZ, REG_QWORD, REG_SZ, HiveBuilder, Key, Value,
    checksum, multi_sz, sz,
)

sys.path.insert(0, str(SRC))  # orvane_cli, for the unit tests of its time texts

T_ROOT, T_SOFTWARE, T_RUN = 132000000001234567, 132000000011234567, 133000000000000001
ISO_ROOT, ISO_SOFTWARE, ISO_RUN = "2019-04-17T18:40:00.1234567Z", "2019-04-17T18:40:01.1234567Z", \
    "2022-06-18T04:26:40.0000001Z"

SOFTWARE_VALUES = [
    Value("Path", REG_SZ, sz("C:\\Temp")),
    Value("Count", REG_DWORD, struct.pack("<I", 7)),
    Value("Big", REG_DWORD_BIG_ENDIAN, bytes([0, 0, 1, 2])),
    Value("Wide", REG_QWORD, struct.pack("<Q", 1 << 40)),
    Value("List", REG_MULTI_SZ, multi_sz("a", "b, c")),
    Value("Blob", REG_BINARY, bytes([0x0A, 0xFF, 0x00])),
    Value("Odd", REG_SZ, b"a\0b"),
    Value("Short", REG_DWORD, b"\x01\x02"),
    Value("Empty", REG_SZ, b""),
    Value("Link", REG_LINK, b"xy"),
]


def sample_tree(run_written: int = T_RUN, extra_values=()) -> Key:
    return Key("ROOT", [], [
        Key("Software", SOFTWARE_VALUES, [Key("Run", list(extra_values), last_written=run_written)],
            last_written=T_SOFTWARE),
        Key("System", last_written=0),
    ], last_written=T_ROOT)


@pytest.fixture
def sample(write_hive):
    builder = HiveBuilder()
    builder.tree(sample_tree())
    return write_hive(builder, "sample.hive")


def lines(text: str) -> list[str]:
    return text.splitlines()


class TestErrorsAndUsage:
    def test_a_bad_file_is_one_line_and_exit_1(self, write_hive):
        path = write_hive(b"\0" * 4096, "NTUSER.DAT")
        result = run("info", path)
        assert result.returncode == 1
        assert result.stdout == ""
        assert result.stderr == f'orvane: {path}: Invalid signature: expected "regf", found "\\0\\0\\0\\0"\n'

    def test_missing_file(self, tmp_path):
        result = run("ls", tmp_path / "nothing")
        assert result.returncode == 1
        assert result.stderr.startswith(f"orvane: {tmp_path / 'nothing'}: ")
        assert len(result.stderr.splitlines()) == 1 and "Traceback" not in result.stderr

    @pytest.mark.parametrize("args", [[], ["frobnicate"], ["dump"], ["dump", "x", "--jobs", "0"],
                                      ["timeline", "x", "--since", "yesterday"], ["diff", "only-one"],
                                      ["info", "a", "b", "--logs", "a.LOG1"]],
                             ids=["nothing", "unknown", "no hive", "jobs 0", "bad time", "one hive", "logs for two"])
    def test_usage_errors_exit_2(self, args):
        result = run(*args)
        assert result.returncode == 2
        assert "Traceback" not in result.stderr

    def test_python_m_is_the_same_program(self):
        assert run("--version", as_module=True).stdout == run("--version").stdout == "orvane 0.1.0\n"

    def test_a_reader_that_goes_away_ends_the_run_quietly(self, corpus_dir):
        import os
        import subprocess

        from cli_runner import SRC, command
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in (str(SRC), os.environ.get("PYTHONPATH")) if p))
        process = subprocess.Popen([*command(), "dump", "--logs", "none", corpus_dir / "UsrClass.dat",
                                    corpus_dir / "NTUSER.DAT"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=env)
        process.stdout.read(10)
        process.stdout.close()
        with process.stderr:
            stderr = process.stderr.read().decode()
        assert process.wait(timeout=120) == 1
        assert "Traceback" not in stderr and "Broken pipe" not in stderr

    def test_key_not_found(self, sample):
        result = run("ls", sample, "Software\\Nope")
        assert (result.returncode, result.stderr) == (1, f"orvane: {sample}: Not found: Key 'Software\\Nope'\n")


class TestInfo:
    def test_builder_hive(self, write_hive):
        builder = HiveBuilder()
        root = builder.tree(sample_tree())
        path = write_hive(builder, "sample.hive")
        result = run("info", path)
        assert result.returncode == 0, result.stderr
        assert lines(result.stdout) == [
            path,
            "  signature:           regf",
            "  sequence numbers:    1 / 1 (clean)",
            "  timestamp:           (none)",
            "  version:             1.5",
            "  file type:           0",
            "  file format:         1",
            f"  root cell offset:    {root:#x}",
            "  hive bins data size: 0x1000 (4,096 bytes)",
            "  file name:           SYSTEM",
            f"  checksum in file:    {checksum(builder.build()):#010x} (matches)",
            "  hive bins:           1 (0x1000 bytes)",
            "  keys:                4",
            "  values:              10",
            "  deepest path:        2 levels",
        ]

    def test_json_on_the_corpus(self, corpus_dir):
        result = run("info", "--format", "json", corpus_dir / "BCD", corpus_dir / "SAM")
        assert result.returncode == 0, result.stderr
        bcd, sam = map(json.loads, lines(result.stdout))
        assert (bcd["keys"], bcd["values"], sam["keys"], sam["values"]) == (132, 103, 65, 70)
        assert (bcd["version"], bcd["dirty"], bcd["checksum_matches"]) == ("1.3", False, True)
        assert bcd["timestamp"] == "2021-08-05T16:16:12.7906426Z"

    def test_a_damaged_hive_among_good_ones(self, corpus_dir, write_hive):
        bad = write_hive(b"regf" + bytes(100), "short.hive")
        result = run("info", "--format", "json", corpus_dir / "BCD", bad, corpus_dir / "SAM")
        assert result.returncode == 1
        assert [json.loads(line)["keys"] for line in lines(result.stdout)] == [132, 65]
        assert result.stderr == f"orvane: {bad}: Hive too small: 104 bytes (minimum: 4096 bytes)\n"


class TestLs:
    def test_a_key(self, sample):
        result = run("ls", sample, "software")
        assert result.returncode == 0, result.stderr
        assert lines(result.stdout) == [
            "Software\\",
            f"Run\\  {ISO_RUN}      0 subkeys      0 values",
            "Path   REG_SZ                C:\\Temp",
            "Count  REG_DWORD             7 (0x7)",
            "Big    REG_DWORD_BIG_ENDIAN  258 (0x102)",
            "Wide   REG_QWORD             1099511627776 (0x10000000000)",
            "List   REG_MULTI_SZ          a, b, c",
            "Blob   REG_BINARY            0a ff 00",
            "Odd    REG_SZ                <undecodable> 61 00 62",
            "Short  REG_DWORD             <undecodable> 01 02",
            "Empty  REG_SZ",
            "Link   REG_LINK              78 79",
        ]

    def test_root_lists_never_written_keys(self, sample):
        assert lines(run("ls", sample).stdout) == [
            "\\",
            f"Software\\  {ISO_SOFTWARE}      1 subkeys     10 values",
            "System\\    (never written)                   0 subkeys      0 values",
        ]

    def test_recursive_draws_a_tree(self, write_hive):
        builder = HiveBuilder()
        builder.tree(Key("ROOT", [Value("Top", REG_DWORD, struct.pack("<I", 1))], [
            Key("A", [], [Key("A1", [Value("x", REG_SZ, sz("1"))]), Key("A2")]),
            Key("B", [Value("y", REG_SZ, sz("line\nbreak"))]),
        ]))
        result = run("ls", "-r", write_hive(builder))
        assert result.returncode == 0, result.stderr
        assert result.stdout == (
            "\\\n"
            "├── Top  (REG_DWORD)  1 (0x1)\n"
            "├── A\\\n"
            "│   ├── A1\\\n"
            "│   │   └── x  (REG_SZ)  1\n"
            "│   └── A2\\\n"
            "└── B\\\n"
            "    └── y  (REG_SZ)  line\\nbreak\n")


class TestDump:
    def test_jsonl_records(self, sample):
        result = run("dump", sample)
        assert result.returncode == 0, result.stderr
        records = [json.loads(line) for line in lines(result.stdout)]
        assert [r["path"] for r in records] == ["", "Software", "Software\\Run", "System"]
        assert [r["last_written"] for r in records] == [ISO_ROOT, ISO_SOFTWARE, ISO_RUN, None]
        assert records[1]["subkey_count"] == 1 and records[1]["class_name"] is None
        assert records[1]["values"] == [
            {"name": "Path", "type": "REG_SZ", "data": "C:\\Temp", "size": 16},
            {"name": "Count", "type": "REG_DWORD", "data": 7, "size": 4},
            {"name": "Big", "type": "REG_DWORD_BIG_ENDIAN", "data": 258, "size": 4},
            {"name": "Wide", "type": "REG_QWORD", "data": 1 << 40, "size": 8},
            {"name": "List", "type": "REG_MULTI_SZ", "data": ["a", "b, c"], "size": 16},
            {"name": "Blob", "type": "REG_BINARY", "data": "0aff00", "data_encoding": "hex", "size": 3},
            {"name": "Odd", "type": "REG_SZ", "data": "610062", "data_encoding": "hex", "size": 3},
            {"name": "Short", "type": "REG_DWORD", "data": "0102", "data_encoding": "hex", "size": 2},
            {"name": "Empty", "type": "REG_SZ", "data": None, "size": 0},
            {"name": "Link", "type": "REG_LINK", "data": "7879", "data_encoding": "hex", "size": 2},
        ]
        assert "hive" not in records[0]

    def test_csv_rows_and_key_option(self, sample):
        result = run("dump", sample, "--format", "csv", "--key", "SOFTWARE")
        assert result.returncode == 0, result.stderr
        rows = list(csv.reader(io.StringIO(result.stdout)))
        assert rows[0] == ["path", "last_written", "value_name", "type", "size", "data"]
        assert rows[1:4] == [["Software", ISO_SOFTWARE, "Path", "REG_SZ", "16", "C:\\Temp"],
                             ["Software", ISO_SOFTWARE, "Count", "REG_DWORD", "4", "7"],
                             ["Software", ISO_SOFTWARE, "Big", "REG_DWORD_BIG_ENDIAN", "4", "258"]]
        assert rows[5] == ["Software", ISO_SOFTWARE, "List", "REG_MULTI_SZ", "16", '["a","b, c"]']
        assert rows[-1] == ["Software\\Run", ISO_RUN, "", "", "", ""]
        assert len(rows) == 1 + 10 + 1

    def test_several_hives_one_damaged(self, corpus_dir, write_hive):
        bad = write_hive(b"\0" * 4096, "bad.hive")
        args = [corpus_dir / "BCD", bad, corpus_dir / "SAM"]
        result = run("dump", *args)
        assert result.returncode == 1
        assert result.stderr == f'orvane: {bad}: Invalid signature: expected "regf", found "\\0\\0\\0\\0"\n'
        records = [json.loads(line) for line in lines(result.stdout)]
        assert [r["hive"] for r in records] == [str(args[0])] * 132 + [str(args[2])] * 65
        assert sum(len(r["values"]) for r in records) == 103 + 70

    @pytest.mark.parametrize("fmt", ["jsonl", "csv"])
    def test_jobs_keep_the_order_of_the_arguments(self, corpus_dir, write_hive, tmp_path, fmt):
        bad = write_hive(b"\0" * 4096, "bad.hive")
        args = [corpus_dir / "SAM", corpus_dir / "BCD", bad, corpus_dir / "SECURITY"]
        serial = run("dump", "--format", fmt, *args)
        parallel = run("dump", "--format", fmt, "--jobs", "3", "-o", tmp_path / "out", *args)
        assert (serial.returncode, parallel.returncode) == (1, 1)
        assert (tmp_path / "out").read_text(encoding="utf-8") == serial.stdout
        assert parallel.stderr == serial.stderr

    def test_output_file_that_cannot_be_written(self, sample, tmp_path):
        result = run("dump", sample, "-o", tmp_path / "no" / "such" / "dir")
        assert (result.returncode, result.stderr) == (
            1, f"orvane: {tmp_path / 'no' / 'such' / 'dir'}: No such file or directory\n")


class TestParquet:
    def test_rows_as_in_csv(self, sample, corpus_dir, tmp_path):
        pq = pytest.importorskip("pyarrow.parquet")
        out = tmp_path / "out.parquet"
        result = run("dump", "--format", "parquet", "-o", out, "--jobs", "2", sample, corpus_dir / "BCD")
        assert result.returncode == 0, result.stderr
        table = pq.read_table(out)
        assert table.column_names == ["hive", "path", "last_written", "value_name", "type", "size", "data"]
        text = run("dump", "--format", "csv", sample, corpus_dir / "BCD").stdout
        expected = list(csv.reader(io.StringIO(text)))[1:]
        got = [[row[name] if name != "size" or row[name] is None else str(row[name]) for name in table.column_names]
               for row in table.to_pylist()]
        assert [[cell or "" for cell in row] for row in got] == expected

    @pytest.mark.parametrize("sizes", [[], [None], [5, None, 7], [None] * 8 + [3], [1] * 9 + [None] * 8 + [2]])
    def test_columns_as_pyarrow_makes_them(self, tmp_path, sizes):
        pa = pytest.importorskip("pyarrow")
        from orvane_cli.formats import Parquet

        writer = Parquet(str(tmp_path / "out.parquet"), False)
        texts = [None if size is None else f"t\u00e9{size}" for size in sizes]
        assert writer._array(list(sizes), pa.int64()).equals(pa.array(sizes, type=pa.int64()))
        assert writer._array(list(texts), pa.string()).equals(pa.array(texts, type=pa.string()))

    def test_rows_written_without_importing_pandas(self, sample, tmp_path):
        pytest.importorskip("pyarrow")
        pytest.importorskip("pandas")
        code = ("import sys; from orvane_cli.app import main; main(['dump', '--format', 'parquet', '-o', sys.argv[2], "
                "sys.argv[1]]); print('pandas' in sys.modules)")
        paths = os.pathsep.join(p for p in (str(SRC), os.environ.get("PYTHONPATH")) if p)
        result = subprocess.run([sys.executable, "-c", code, str(sample), str(tmp_path / "out.parquet")],
                                capture_output=True, text=True, env={**os.environ, "PYTHONPATH": paths}, timeout=300)
        assert (result.returncode, result.stdout) == (0, "False\n"), result.stderr

    def test_without_pyarrow_a_clear_error(self, sample, tmp_path):
        blocker = tmp_path / "blocker" / "pyarrow"
        blocker.mkdir(parents=True)
        (blocker / "__init__.py").write_text("raise ImportError('no pyarrow here')\n")
        result = run("dump", "--format", "parquet", "-o", tmp_path / "x.parquet", sample,
                     extra_path=str(blocker.parent))
        assert result.returncode == 2
        assert result.stderr.endswith("error: parquet output needs pyarrow: pip install 'orvane[parquet]'\n")
        assert not (tmp_path / "x.parquet").exists()


class TestTimeline:
    def test_sorted_oldest_first_with_never_written_first(self, sample):
        result = run("timeline", sample)
        assert result.returncode == 0, result.stderr
        assert lines(result.stdout) == [
            "last_written,hive,path",
            f",{sample},System",
            f"{ISO_ROOT},{sample},",
            f"{ISO_SOFTWARE},{sample},Software",
            f"{ISO_RUN},{sample},Software\\Run",
        ]

    @pytest.mark.parametrize("bounds, paths", [
        (["--since", "2019-04-17T18:40:01.1234567Z"], ["Software", "Software\\Run"]),
        (["--since", "2019-04-17T18:40:01.1234568"], ["Software\\Run"]),
        (["--until", "2019-04-17T20:40:01.1234567+02:00"], ["System", "", "Software"]),
        (["--since", "2019-04-17", "--until", "2020-01-01"], ["", "Software"]),
    ], ids=["since inclusive", "since one tick later", "until with zone", "both"])
    def test_since_and_until(self, sample, bounds, paths):
        result = run("timeline", sample, *bounds)
        assert [row[2] for row in csv.reader(io.StringIO(result.stdout))][1:] == paths

    def test_several_hives_interleave_by_time(self, write_hive, tmp_path):
        first, second = HiveBuilder(), HiveBuilder()
        first.tree(Key("R", [], [Key("Old", last_written=10_000_000), Key("New", last_written=30_000_000)],
                       last_written=50_000_000))
        second.tree(Key("R", [], [Key("Mid", last_written=20_000_000)], last_written=50_000_000))
        a, b = write_hive(first, "a"), write_hive(second, "b")
        result = run("timeline", a, b, "-o", tmp_path / "t.csv")
        assert result.returncode == 0, result.stderr
        assert lines((tmp_path / "t.csv").read_text()) == [
            "last_written,hive,path",
            f"1601-01-01T00:00:01.0000000Z,{a},Old",
            f"1601-01-01T00:00:02.0000000Z,{b},Mid",
            f"1601-01-01T00:00:03.0000000Z,{a},New",
            f"1601-01-01T00:00:05.0000000Z,{a},",
            f"1601-01-01T00:00:05.0000000Z,{b},",
        ]


@pytest.fixture
def dirty_copy(corpus_dir, tmp_path):
    """UsrClass.dat and its two logs in a folder of their own, log names in another letter case."""
    folder = tmp_path / "profile"
    folder.mkdir()
    shutil.copy(corpus_dir / "UsrClass.dat", folder / "UsrClass.dat")
    shutil.copy(corpus_dir / "UsrClass.dat.LOG1", folder / "UsrClass.dat.log1")
    shutil.copy(corpus_dir / "UsrClass.dat.LOG2", folder / "USRCLASS.DAT.LOG2")
    return folder / "UsrClass.dat"


class TestLogs:
    def test_found_beside_the_hive(self, dirty_copy):
        result = run("info", "--format", "json", dirty_copy)
        assert result.returncode == 0, result.stderr
        facts = json.loads(result.stdout)
        assert (facts["primary_sequence"], facts["secondary_sequence"], facts["dirty"]) == (300, 300, False)
        assert (facts["keys"], facts["values"], facts["hive_bins_data_size"]) == (6238, 12531, 0x2b3000)
        folder = dirty_copy.parent
        assert result.stderr == (f"orvane: {dirty_copy}: logs applied: {folder / 'UsrClass.dat.log1'}, "
                                 f"{folder / 'USRCLASS.DAT.LOG2'}; clean (sequence numbers 300/300)\n")

    def test_none_reads_the_file_as_it_is(self, dirty_copy):
        result = run("info", "--logs", "none", "--format", "json", dirty_copy)
        facts = json.loads(result.stdout)
        assert (facts["primary_sequence"], facts["secondary_sequence"], facts["dirty"]) == (256, 255, True)
        assert result.stderr == f"orvane: {dirty_copy}: dirty (sequence numbers 256/255), read without logs\n"

    def test_named_logs(self, dirty_copy):
        log1 = dirty_copy.parent / "UsrClass.dat.log1"
        result = run("info", "--format", "json", dirty_copy, "--logs", log1)
        assert result.stderr.startswith(f"orvane: {dirty_copy}: logs applied: {log1}; ")
        assert json.loads(result.stdout)["primary_sequence"] == json.loads(result.stdout)["secondary_sequence"]


    def test_a_damaged_log_found_beside_is_left_out(self, sample):
        from log_builder import LogBuilder
        LogBuilder(2).block().page(0x20000000 - 1, b"\0\0").write(sample + ".LOG1")
        result = run("info", "--format", "json", sample)
        assert result.returncode == 0
        assert json.loads(result.stdout)["keys"] == 4
        assert result.stderr == (
            f"orvane: {sample}: logs left out ({sample}.LOG1): Invalid format: Dirty page 0 would extend hive "
            f"beyond maximum size: 0x20000001 > 0x20000000; clean (sequence numbers 1/1)\n")
        named = run("info", sample, "--logs", sample + ".LOG1")
        assert (named.returncode, named.stdout) == (1, "")
        assert named.stderr.startswith(f"orvane: {sample}: Invalid format: Dirty page 0 ")


class TestRecover:
    def test_recovers_and_reports_sequence_numbers(self, dirty_copy, tmp_path):
        out = tmp_path / "recovered.dat"
        result = run("recover", dirty_copy, "-o", out)
        assert result.returncode == 0, result.stderr
        assert lines(result.stderr)[-1] == f"orvane: {out}: saved; sequence numbers 256/255 before, 300/300 after"
        facts = json.loads(run("info", "--format", "json", out).stdout)
        assert (facts["keys"], facts["values"], facts["dirty"], facts["checksum_matches"]) == (6238, 12531, False, True)

    @pytest.mark.parametrize("target", ["UsrClass.dat", "UsrClass.dat.log1", "USRCLASS.DAT.LOG2"])
    def test_refuses_to_write_over_its_input(self, dirty_copy, target):
        victim = dirty_copy.parent / target
        before = victim.read_bytes()
        result = run("recover", dirty_copy, "-o", victim)
        assert result.returncode == 2
        assert result.stderr == f"orvane recover: error: refusing to write over {victim}\n"
        assert victim.read_bytes() == before

    def test_still_dirty_without_logs(self, corpus_dir, tmp_path):
        lone = tmp_path / "lone.dat"
        shutil.copy(corpus_dir / "UsrClass.dat", lone)
        result = run("recover", lone, "-o", tmp_path / "out.dat")
        assert result.returncode == 1
        assert lines(result.stderr) == [
            f"orvane: {lone}: no transaction logs found beside it",
            f"orvane: {lone}: dirty (sequence numbers 256/255), read without logs",
            f"orvane: {tmp_path / 'out.dat'}: saved; sequence numbers 256/255 before, 256/255 after",
            f"orvane: {tmp_path / 'out.dat'}: still dirty: no usable log brought it up to date",
        ]


class TestDiff:
    def test_same_hive_is_no_difference(self, sample):
        result = run("diff", sample, sample)
        assert (result.returncode, result.stdout, result.stderr) == (0, "", "")

    def test_each_kind_of_change(self, write_hive):
        old, new = HiveBuilder(), HiveBuilder()
        old.tree(Key("R", [Value("Keep", REG_DWORD, struct.pack("<I", 1)), Value("Gone", REG_SZ, sz("x")),
                           Value("Retyped", REG_DWORD, struct.pack("<I", 2))],
                     [Key("Removed", [Value("v", REG_SZ, sz("old"))]), Key("Same", last_written=5)]))
        new.tree(Key("R", [Value("Keep", REG_DWORD, struct.pack("<I", 1)), Value("Retyped", REG_BINARY,
                                                                                struct.pack("<I", 2)),
                           Value("New", REG_QWORD, struct.pack("<Q", 3))],
                     [Key("Added"), Key("Same", last_written=10_000_005)]))
        a, b = write_hive(old, "old"), write_hive(new, "new")
        result = run("diff", a, b)
        assert result.returncode == 1, result.stderr
        assert lines(result.stdout) == [
            "- \\: Gone = REG_SZ: x",
            "~ \\: Retyped = REG_DWORD: 2 (0x2) -> REG_BINARY: 02 00 00 00",
            "+ \\: New = REG_QWORD: 3 (0x3)",
            "+ Added\\",
            "- Removed\\",
            "- Removed\\: v = REG_SZ: old",
            "~ Same\\ last written 1601-01-01T00:00:00.0000005Z -> 1601-01-01T00:00:01.0000005Z",
        ]
        records = [json.loads(line) for line in lines(run("diff", "--format", "jsonl", a, b).stdout)]
        assert records[1] == {"change": "~", "kind": "value", "path": "", "name": "Retyped",
                              "old": {"type": "REG_DWORD", "data": 2, "size": 4},
                              "new": {"type": "REG_BINARY", "data": "02000000", "data_encoding": "hex", "size": 4}}
        assert records[3] == {"change": "+", "kind": "key", "path": "Added"}
        assert records[-1] == {"change": "~", "kind": "last_written", "path": "Same",
                               "old": "1601-01-01T00:00:00.0000005Z", "new": "1601-01-01T00:00:01.0000005Z"}

    def test_a_hive_against_its_recovered_self(self, dirty_copy, tmp_path):
        out = tmp_path / "recovered.dat"
        assert run("recover", dirty_copy, "-o", out).returncode == 0
        result = run("diff", "--logs", "none", dirty_copy, out)
        assert result.returncode == 1
        changes = lines(result.stdout)
        added_keys = [line for line in changes if line.startswith("+ ") and line.endswith("\\")]
        removed_keys = [line for line in changes if line.startswith("- ") and line.endswith("\\")]
        assert len(added_keys) - len(removed_keys) == 6238 - 6205
        # With the logs applied to both sides, nothing differs.
        assert run("diff", dirty_copy, out).returncode == 0

    def test_unreadable_hive_is_trouble(self, sample, write_hive):
        bad = write_hive(b"\0" * 4096, "bad")
        result = run("diff", sample, bad)
        assert result.returncode == 2
        assert result.stderr == f'orvane: {bad}: Invalid signature: expected "regf", found "\\0\\0\\0\\0"\n'


class TestDeleted:
    """On the scene of test_deleted.py: a deleted key Tool (two values) with a
    deleted subkey below the live key Software, a deleted key Orphan whose
    parent is gone with a subkey Leaf, and two deleted values no deleted key
    lists (Backdoor, and Stale whose data cell has been reused)."""

    TEXT = [
        "key Software\\Tool  2022-06-18T04:26:40.0000000Z",
        "  Path  (REG_SZ)  C:\\tool",
        "  Count  (REG_DWORD)  7 (0x7)",
        "key Software\\Tool\\Config  (never written)",
        "key Orphan  (never written)",
        "key Orphan\\Leaf  (never written)",
        "value Backdoor  (REG_SZ)  C:\\evil.exe  at 0x1b0",
        "value Stale  (REG_BINARY)  at 0x3a8",
    ]

    @pytest.fixture
    def scene_hive(self, write_hive):
        from test_deleted import scene
        return write_hive(scene(), "deleted.hive")

    def test_text(self, scene_hive):
        result = run("deleted", scene_hive)
        assert (result.returncode, result.stderr) == (0, "")
        assert lines(result.stdout) == self.TEXT

    def test_jsonl_of_several_hives_and_one_unreadable(self, scene_hive, write_hive, tmp_path):
        bad, out = write_hive(b"\0" * 4096, "bad"), tmp_path / "out.jsonl"
        result = run("deleted", "--format", "jsonl", scene_hive, bad, scene_hive, "-o", out)
        assert result.returncode == 1
        assert result.stderr == f'orvane: {bad}: Invalid signature: expected "regf", found "\\0\\0\\0\\0"\n'
        records = [json.loads(line) for line in out.read_text().splitlines()]
        assert len(records) == 12 and records[:6] == records[6:]
        assert records[0] == {
            "hive": scene_hive, "kind": "key", "path": "Software\\Tool", "last_written": "2022-06-18T04:26:40.0000000Z",
            "offset": 0x238, "values": [{"name": "Path", "type": "REG_SZ", "data": "C:\\tool", "size": 16},
                                        {"name": "Count", "type": "REG_DWORD", "data": 7, "size": 4}]}
        assert [(r["kind"], r.get("path", r.get("name")), r["offset"]) for r in records[1:6]] == [
            ("key", "Software\\Tool\\Config", 0x290), ("key", "Orphan", 0x2f8), ("key", "Orphan\\Leaf", 0x350),
            ("value", "Backdoor", 0x1b0), ("value", "Stale", 0x3a8)]
        assert records[4] == {"hive": scene_hive, "kind": "value", "name": "Backdoor", "type": "REG_SZ",
                              "data": "C:\\evil.exe", "size": 24, "offset": 0x1b0}
        assert records[5]["data"] == "" and records[5]["size"] == 0

    def test_several_hives_in_text(self, scene_hive, sample):
        result = run("deleted", sample, scene_hive)
        assert result.returncode == 0
        assert lines(result.stdout) == [f"==> {sample} <==", f"==> {scene_hive} <==", *self.TEXT]

    def test_corpus_hive(self, corpus_dir):
        result = run("deleted", "--logs", "none", corpus_dir / "SAM")
        assert result.returncode == 0
        assert sum(line.startswith("key ") for line in lines(result.stdout)) == 3


def independent_iso(filetime: int) -> str:
    """Reference text by the datetime module, shifted by whole 400-year cycles
    (the calendar repeats every 146097 days) to reach years beyond 9999."""
    seconds, ticks = divmod(filetime, 10_000_000)
    days, rest = divmod(seconds, 86_400)
    cycles, days = divmod(days, 146_097)
    moment = datetime(1601, 1, 1) + timedelta(days=days, seconds=rest)
    return f"{moment.year + 400 * cycles:04d}{moment.strftime('-%m-%dT%H:%M:%S')}.{ticks:07d}Z"


class TestTimes:
    @pytest.mark.parametrize("filetime", [1, 9_999_999, 116444736000000000, 125911584000000000, 132000000001234567,
                                          2650467743999999999, 2650467744000000000, 2**63 - 1, 2**64 - 1])
    def test_iso_text(self, filetime):
        from orvane_cli import times
        assert times.iso(filetime) == independent_iso(filetime)

    @pytest.mark.parametrize("text, filetime", [
        ("1601-01-01", 0), ("1601-01-01T00:00:00.0000001Z", 1), ("1970-01-01T00:00:00Z", 116444736000000000),
        ("1970-01-01T01:00:00+01:00", 116444736000000000), ("1970-01-01 00:00:00.5", 116444736005000000),
    ])
    def test_parse(self, text, filetime):
        from orvane_cli import times
        assert times.parse_iso(text) == filetime

    @pytest.mark.parametrize("text", ["", "yesterday", "1600-12-31", "2020-13-01", "2020-01-01T00:00:00.12345678"])
    def test_parse_refuses(self, text):
        from orvane_cli import times
        with pytest.raises(ValueError):
            times.parse_iso(text)


class TestProgress:
    def run_with_terminal_stderr(self, *args) -> str:
        import os
        import pty
        import subprocess

        from cli_runner import SRC, command
        primary, secondary = pty.openpty()
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in (str(SRC), os.environ.get("PYTHONPATH")) if p))
        process = subprocess.Popen([*command(), *map(str, args)], stdout=subprocess.DEVNULL, stderr=secondary,
                                   env=env)
        os.close(secondary)
        chunks = []
        while True:
            try:
                chunk = os.read(primary, 4096)
            except OSError:  # the terminal closed
                break
            if not chunk:
                break
            chunks.append(chunk)
        process.wait(timeout=120)
        os.close(primary)
        return b"".join(chunks).decode()

    def test_several_hives_at_a_terminal(self, corpus_dir):
        shown = self.run_with_terminal_stderr("dump", corpus_dir / "BCD", corpus_dir / "SAM")
        assert "orvane: 2/2 hives, 197 keys" in shown
        assert shown.endswith("\r\x1b[K")

    def test_none_when_stderr_is_not_a_terminal(self, corpus_dir):
        assert run("dump", corpus_dir / "BCD", corpus_dir / "SAM").stderr == ""


@pytest.fixture
def damaged(write_hive):
    """ROOT with subkeys A and C around an entry whose cell has size 0."""
    from test_tolerant import among_siblings, zero_sized_cell
    image, middle = among_siblings(zero_sized_cell)
    return write_hive(image, "damaged.hive"), f"Skipped subkey at offset {middle:#x}: Invalid cell size 0 at offset {middle:#x}"


@pytest.fixture
def unreadable_lists(write_hive):
    """ROOT's subkeys A, Broken (its subkey list past the end), Lost (its
    value list past the end) and C with C\\D: the keys after the damage are
    what a reader must still reach."""
    builder = HiveBuilder()
    builder.tree(Key("ROOT", subkeys=[
        Key("A", values=[Value("x", REG_SZ, sz("one"))]),
        Key("Broken", subkey_count=2, subkey_list=0x7FFF0),
        Key("Lost", value_count=3, value_list=0x7FFF0),
        Key("C", subkeys=[Key("D", values=[Value("y", REG_SZ, sz("two"))])], last_written=T_RUN),
    ], list_kind="li"))
    return write_hive(builder, "lists.hive")


class TestReadsPastUnreadableLists:
    SUBKEYS = "Broken: subkeys not read: Invalid offset 0x7fff0 (hive size: 0x2000)"
    VALUES = "Lost: values not read: Invalid offset 0x7fff0 (hive size: 0x2000)"

    @pytest.mark.parametrize("command, copies, after_damage, told", [
        (["ls", "--recursive"], 1, "        └── y  (REG_SZ)  two", [SUBKEYS, VALUES]),
        (["dump"], 1, '{"path":"C\\\\D","last_written":null,"class_name":null,"subkey_count":0,'
                      '"values":[{"name":"y","type":"REG_SZ","data":"two","size":8}]}', [SUBKEYS, VALUES]),
        (["dump", "--format", "csv"], 1, "C\\D,,y,REG_SZ,8,two", [SUBKEYS, VALUES]),
        (["dump", "--format", "csv", "--jobs", "2"], 2, "hive,C\\D,,y,REG_SZ,8,two", [SUBKEYS, VALUES] * 2),
        (["timeline"], 1, f"{ISO_RUN},hive,C", [SUBKEYS]),
        (["info", "--format", "json"], 1, '"keys": 6', [SUBKEYS]),
    ], ids=["ls", "dump", "csv", "dump_in_processes", "timeline", "info"])
    def test_output_goes_on_past_the_damage_and_the_run_fails(self, unreadable_lists, command, copies,
                                                               after_damage, told):
        result = run(*command, *[unreadable_lists] * copies)
        assert result.returncode == 1
        assert after_damage in result.stdout.replace(unreadable_lists, "hive")
        assert lines(result.stderr) == [f"orvane: {unreadable_lists}: {line}" for line in told]

    def test_report_holds_the_keys_after_the_damage_and_the_run_fails(self, unreadable_lists, tmp_path):
        page = tmp_path / "case.html"
        result = run("report", unreadable_lists, "-o", page)
        assert result.returncode == 1
        assert lines(result.stderr) == [f"orvane: {unreadable_lists}: {self.SUBKEYS}"]
        assert "C\\\\D" in page.read_text(encoding="utf-8")

    def test_ls_of_the_damaged_key_lists_what_it_can(self, unreadable_lists):
        result = run("ls", unreadable_lists, "Lost")
        assert (result.returncode, result.stdout) == (1, "Lost\\\n")
        assert lines(result.stderr) == [f"orvane: {unreadable_lists}: {self.VALUES}"]

    def test_diff_compares_what_it_read_and_says_it_is_incomplete(self, unreadable_lists):
        result = run("diff", unreadable_lists, unreadable_lists)
        assert (result.returncode, result.stdout) == (2, "")
        assert lines(result.stderr) == [f"orvane: {unreadable_lists}: {line}" for line in [self.SUBKEYS, self.VALUES] * 2]

    def test_tolerant_reading_gives_the_same_keys_and_succeeds(self, unreadable_lists):
        strict, tolerant = run("dump", unreadable_lists), run("dump", "--tolerant", unreadable_lists)
        assert tolerant.returncode == 0
        assert tolerant.stdout == strict.stdout

    def test_tolerant_walks_end_with_the_orphan_keys(self, write_hive):
        from test_evidence import orphan_hive
        path = write_hive(orphan_hive()[0], "orphans.hive")
        dumped = run("dump", "--tolerant", path)
        assert [json.loads(line)["path"] for line in lines(dumped.stdout)] == ["", "<orphans>\\A", "<orphans>\\A\\B"]
        drawn = run("ls", "--recursive", "--tolerant", path)
        assert drawn.stdout == "\\\n└── <orphans>\\\n    └── A\\\n        └── B\\\n"


class TestTolerant:
    @pytest.mark.parametrize("command, copies", [
        (["info"], 1), (["ls", "--recursive"], 1), (["dump"], 1), (["timeline"], 1), (["dump", "--jobs", "2"], 2),
    ], ids=["info", "ls", "dump", "timeline", "dump_in_processes"])
    def test_reads_around_the_damage_and_tells_it_once_per_hive(self, damaged, command, copies):
        path, problem = damaged
        strict = run(*command, *[path] * copies)
        assert strict.returncode == 1
        assert strict.stderr.endswith(problem.split(": ", 1)[1] + "\n")

        result = run(*command, "--tolerant", *[path] * copies)
        assert result.returncode == 0, result.stderr
        assert lines(result.stderr) == [f"orvane: {path}: {problem}"] * copies

    def test_dump_holds_every_good_key(self, damaged):
        path, _ = damaged
        result = run("dump", "--tolerant", path)
        assert [json.loads(line)["path"] for line in lines(result.stdout)] == ["", "A", "C"]

    def test_diff_against_itself_tells_each_side(self, damaged):
        path, problem = damaged
        result = run("diff", "--tolerant", path, path)
        assert (result.returncode, result.stdout) == (0, "")
        assert lines(result.stderr) == [f"orvane: {path}: {problem}"] * 2

    def test_a_bad_checksum_is_told_not_refused(self, write_hive):
        from test_tolerant import with_checksum
        path = write_hive(with_checksum(0x1234), "checksum.hive")
        assert run("info", path).returncode == 1
        result = run("info", "--format", "json", "--tolerant", path)
        assert result.returncode == 0, result.stderr
        assert json.loads(result.stdout)["keys"] == 4
        assert lines(result.stderr)[0].startswith(f"orvane: {path}: Checksum mismatch: expected 0x1234, calculated ")

    def test_logs_beside_are_not_applied(self, dirty_copy):
        result = run("info", "--format", "json", "--tolerant", dirty_copy)
        assert result.returncode == 0, result.stderr
        assert json.loads(result.stdout)["dirty"] is True
        assert result.stderr == (f"orvane: {dirty_copy}: logs not applied in a tolerant reading "
                                 f"({dirty_copy.parent / 'UsrClass.dat.log1'}, "
                                 f"{dirty_copy.parent / 'USRCLASS.DAT.LOG2'}); still dirty (sequence numbers 256/255)\n")

    def test_no_log_paths(self, sample):
        result = run("info", "--tolerant", sample, "--logs", sample + ".LOG1")
        assert result.returncode == 2
        assert "--tolerant reads the hive file alone and takes no log paths" in result.stderr

    def test_a_sound_hive_tells_nothing(self, sample):
        assert run("dump", "--tolerant", sample).stdout == run("dump", sample).stdout
        assert run("dump", "--tolerant", sample).stderr == ""
