#!/usr/bin/env python3
"""Benchmarks: opening, full walks, memory and scaling, on the corpus hives and
on large synthetic hives (bench/make_hive.py, written to a temporary folder).

    ./dev.sh bench                 everything (a few minutes)
    ./dev.sh bench --quick         smaller hives and fewer rounds

Reports, for each hive: the time of Hive.open, a full walk from Python
(bench/walk.py) and in C++ alone (bench/cpp_walk.cpp), keys and values per
second, the interpreter's share of the Python walk (bench/walk_floor.py), the scan
for deleted records against the C++ walk (bench/deleted_scan.py),
and memory measured in a fresh process (resident anonymous and
file-backed memory after opening and after a full walk, and the peak). Then how
the walk time grows from 25k to 200k keys, what a second thread or process
brings (bench/cpp_threads.cpp, and bench/py_threads.py also under a
free-threaded interpreter given with --free-threaded), the open-time figures of bench/open_hive.py, the time to recover
UsrClass.dat from its two Windows logs, and path lookups and Hive.walk() against
the same work done with subkeys() (bench/lookup_walk.py). BENCHMARKS.md records
one run.
"""

from __future__ import annotations

import argparse
import json
import lzma
import os
import platform
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import cli as cli_bench  # noqa: E402
import lookup_walk  # noqa: E402
import orvane  # noqa: E402
from timing import best_of  # noqa: E402
import deleted_scan  # noqa: E402
import walk as walk_bench  # noqa: E402
import walk_floor  # noqa: E402
from walk import walk_keys  # noqa: E402
from open_hive import time_open  # noqa: E402

CORPUS = HERE.parent / "tests" / "data" / "corpus"
CORPUS_HIVES = ["NTUSER.DAT", "UsrClass.dat", "amcache.hve", "SAM", "SECURITY", "BCD"]


def proc_status() -> dict[str, int]:
    """Resident memory of this process in bytes: RssAnon, RssFile, VmHWM."""
    fields = {}
    for line in Path("/proc/self/status").read_text().splitlines():
        name, _, rest = line.partition(":")
        if name in ("RssAnon", "RssFile", "VmHWM", "VmRSS"):
            fields[name] = int(rest.split()[0]) * 1024
    return fields


def measure_memory(path: str, warm_up: str) -> dict[str, int]:
    """Run in a fresh process: memory before and after opening, after a full
    walk (hive and key cache still alive), and the peak. A small hive is walked
    first, so that the module's own code pages are in before the baseline."""
    walk_keys([orvane.Hive.open(warm_up).root_key()])
    before = proc_status()
    hive = orvane.Hive.open(path)
    opened = proc_status()
    keys, values = walk_keys([hive.root_key()])
    walked = proc_status()
    return {"keys": keys, "values": values, "size": os.path.getsize(path),
            "open_anon": opened["RssAnon"] - before["RssAnon"], "open_file": opened["RssFile"] - before["RssFile"],
            "walk_anon": walked["RssAnon"] - before["RssAnon"], "walk_file": walked["RssFile"] - before["RssFile"],
            "peak": walked["VmHWM"] - before["VmRSS"]}


def memory_in_child(path: str, warm_up: str) -> dict[str, int]:
    out = subprocess.run([sys.executable, __file__, "--memory-of", path, warm_up], check=True, capture_output=True,
                         text=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))).stdout
    return json.loads(out)


def in_threads(jobs: list) -> float:
    """Runs each job (a no-argument callable) in its own thread; the wall time."""
    threads = [threading.Thread(target=job) for job in jobs]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.perf_counter() - start


def walk_in_processes(path: str, count: int) -> float:
    """Wall time of `count` processes each opening and walking `path` (after start-up)."""
    code = ("import sys, time; sys.path.insert(0, %r); import walk; sys.stdin.readline(); "
            "walk.walk(%r); print('done', flush=True)") % (str(HERE), path)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    procs = [subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True, env=env) for _ in range(count)]
    time.sleep(1.0)  # let each import orvane before the clock starts
    start = time.perf_counter()
    for p in procs:
        p.stdin.write("go\n")
        p.stdin.flush()
    for p in procs:
        p.stdout.readline()
    elapsed = time.perf_counter() - start
    for p in procs:
        p.wait()
    return elapsed


def cpp_threads(cpp_walk: Path, path: str, rounds: int) -> dict[str, float]:
    """Runs bench/cpp_threads.cpp (built beside cpp_walk when missing)."""
    program = Path(cpp_walk).parent / "cpp_threads"
    if not program.exists():
        subprocess.run(["cmake", "--build", str(Path(cpp_walk).parent.parent), "--target", "cpp_threads"],
                       check=True, stdout=subprocess.DEVNULL)
    return figures_of([str(program), path, str(rounds)])


def py_threads(python: str, module_path: str, path: str, rounds: int) -> dict[str, float]:
    """Runs bench/py_threads.py under `python`, importing orvane from `module_path`."""
    return figures_of([python, str(HERE / "py_threads.py"), path, str(rounds)],
                      env=dict(os.environ, PYTHONPATH=module_path))


def figures_of(command: list[str], env: dict[str, str] | None = None) -> dict[str, float]:
    """The NAME=NUMBER pairs a benchmark program prints."""
    out = subprocess.run(command, check=True, capture_output=True, text=True, env=env).stdout
    return {name: float(value) for name, value in (item.split("=") for item in out.split())}


def py_thread_rows(label: str, py: dict[str, float]) -> list[list[str]]:
    lock = "with the GIL" if py["gil"] else "free-threaded"
    return [
        [f"{label} ({lock}): one hive, 1 thread", f"{py['one_thread']:.2f}", "1.00"],
        [f"{label} ({lock}): one hive, 2 threads (half the subtrees each)", f"{py['two_threads']:.2f}",
         f"{py['one_thread'] / py['two_threads']:.2f}"],
        [f"{label} ({lock}): two hives, one after the other", f"{py['two_hives_sequential']:.2f}", "1.00"],
        [f"{label} ({lock}): two hives, 2 threads", f"{py['two_hives_parallel']:.2f}",
         f"{py['two_hives_sequential'] / py['two_hives_parallel']:.2f}"],
    ]


def mib(n: int) -> str:
    return f"{n / 2**20:.1f}"


def table(header: list[str], rows: list[list[str]]) -> None:
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print()


def machine() -> None:
    model = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                  if line.startswith("model name")), platform.processor())
    print(f"Machine: {os.cpu_count()} CPUs (nproc), {model}; Python {platform.python_version()}; "
          f"orvane {orvane.__version__}; load average at start {os.getloadavg()[0]:.2f}\n")


def make_hives(folder: Path, sizes: list[int]) -> dict[int, str]:
    paths = {}
    for keys in sizes:
        path = folder / f"synthetic-{keys}.hive"
        out = subprocess.run([sys.executable, str(HERE / "make_hive.py"), str(path), "--keys", str(keys)],
                             check=True, capture_output=True, text=True).stdout
        print(f"- generated {out.strip()}")
        paths[keys] = str(path)
    print()
    return paths


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="hives up to 50k keys and fewer rounds")
    parser.add_argument("--cpp-walk", help="path of the cpp_walk program (default: built beside orvane)")
    parser.add_argument("--free-threaded", nargs=2, metavar=("PYTHON", "MODULE_DIR"),
                        help="also run the Python thread benchmark under this free-threaded interpreter, "
                             "with the orvane module built for it in MODULE_DIR")
    parser.add_argument("--memory-of", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_of:
        print(json.dumps(measure_memory(*args.memory_of)))
        return 0

    sizes = [6_250, 12_500, 25_000, 50_000] if args.quick else [25_000, 50_000, 100_000, 200_000]
    rounds = 2 if args.quick else 5
    program = walk_bench.find_cpp_walk(args.cpp_walk)
    machine()
    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(scratch)
        for name in CORPUS_HIVES + ["UsrClass.dat.LOG1", "UsrClass.dat.LOG2"]:
            (folder / name).write_bytes(lzma.decompress((CORPUS / f"{name}.xz").read_bytes()))
        print("Synthetic hives (bench/make_hive.py):")
        synthetic = make_hives(folder, sizes)
        largest = synthetic[sizes[-1]]
        hives = [(name, str(folder / name)) for name in CORPUS_HIVES] + [(f"synthetic {sizes[-1] // 1000}k", largest)]

        print("## Open and full walk\n")
        rows = []
        for name, path in hives:
            keys, values, py = walk_bench.time_python(path, rounds)
            cpp_keys, cpp_values, cpp = walk_bench.time_cpp(program, path, rounds)
            assert (keys, values) == (cpp_keys, cpp_values), (name, keys, values, cpp_keys, cpp_values)
            opened = time_open(path, 200 if args.quick else 2000)
            rows.append([name, f"{os.path.getsize(path) / 2**20:.1f}", f"{keys:,}", f"{values:,}",
                         f"{opened * 1e6:.1f}", f"{py * 1e3:.1f}", f"{cpp * 1e3:.1f}", f"{py / cpp:.1f}",
                         f"{keys / py:,.0f}", f"{values / py:,.0f}", f"{keys / cpp:,.0f}", f"{values / cpp:,.0f}"])
        table(["hive", "MiB", "keys", "values", "open µs", "walk py ms", "walk c++ ms", "py/c++",
               "py keys/s", "py values/s", "c++ keys/s", "c++ values/s"], rows)

        print("## The interpreter's floor under the Python walk (bench/walk_floor.py)\n")
        table(walk_floor.HEADER, walk_floor.rows(hives, program, rounds))

        print("## Scan for deleted records (bench/deleted_scan.py)\n")
        table(deleted_scan.HEADER, deleted_scan.rows(hives, program, rounds))

        print("## Memory (fresh process per hive, SECURITY walked first; deltas from just before Hive.open)\n")
        rows = []
        for name, path in hives:
            m = memory_in_child(path, str(folder / "SECURITY"))
            rows.append([name, mib(m["size"]), mib(m["open_anon"]), mib(m["open_file"]), mib(m["walk_anon"]),
                         mib(m["walk_file"]), mib(m["peak"]), f"{m['walk_anon'] / m['keys']:.0f}"])
        table(["hive", "file MiB", "open: anon MiB", "open: file MiB", "walked: anon MiB", "walked: file MiB",
               "peak RSS MiB", "anon bytes per key"], rows)

        print("## Scaling of the full walk\n")
        rows = []
        base = None
        for keys_wanted, path in synthetic.items():
            keys, values, py = walk_bench.time_python(path, rounds)
            _, _, cpp = walk_bench.time_cpp(program, path, rounds)
            per_key = (py / (keys + values), cpp / (keys + values))
            base = base or per_key
            rows.append([f"{keys:,}", f"{values:,}", f"{py:.2f}", f"{cpp:.3f}",
                         f"{per_key[0] * 1e9:.0f}", f"{per_key[1] * 1e9:.0f}",
                         f"{per_key[0] / base[0]:.2f}", f"{per_key[1] / base[1]:.2f}"])
        table(["keys", "values", "py s", "c++ s", "py ns per key+value", "c++ ns per key+value",
               "py vs smallest", "c++ vs smallest"], rows)

        print("## Threads and processes\n")
        py = py_threads(sys.executable, os.pathsep.join(sys.path), largest, rounds)
        one_process = min(walk_in_processes(largest, 1) for _ in range(rounds))
        two_processes = min(walk_in_processes(largest, 2) for _ in range(rounds))
        cpp = cpp_threads(program, largest, rounds)
        rows = py_thread_rows("Python", py)
        if args.free_threaded:
            rows += py_thread_rows("Python 3.13t", py_threads(*args.free_threaded, largest, rounds))
        table(["case", "wall s", "speed-up"], rows + [
            ["Python: one process (open + walk)", f"{one_process:.2f}", "1.00"],
            ["Python: two processes, one hive each", f"{two_processes:.2f}", f"{2 * one_process / two_processes:.2f}"],
            ["C++: one hive, 1 thread (empty key cache)", f"{cpp['one_thread']:.2f}", "1.00"],
            ["C++: one hive, 2 threads (empty key cache)", f"{cpp['two_threads']:.2f}",
             f"{cpp['one_thread'] / cpp['two_threads']:.2f}"],
            ["C++: one hive, 1 thread (full key cache)", f"{cpp['one_thread_warm']:.2f}", "1.00"],
            ["C++: one hive, 2 threads (full key cache)", f"{cpp['two_threads_warm']:.2f}",
             f"{cpp['one_thread_warm'] / cpp['two_threads_warm']:.2f}"],
            ["C++: two hives, one after the other", f"{cpp['two_hives_sequential']:.2f}", "1.00"],
            ["C++: two hives, 2 threads", f"{cpp['two_hives_parallel']:.2f}",
             f"{cpp['two_hives_sequential'] / cpp['two_hives_parallel']:.2f}"],
        ])

        print("## Windows log recovery (UsrClass.dat with LOG1 and LOG2)\n")
        usr, log1, log2 = (str(folder / n) for n in ("UsrClass.dat", "UsrClass.dat.LOG1", "UsrClass.dat.LOG2"))
        recover = best_of(20, orvane.Hive.open_with_logs, usr, log1, log2)
        plain = best_of(20, orvane.Hive.open_with_logs, usr)
        mapped = best_of(20, orvane.Hive.open, usr)
        recovered = orvane.Hive.open_with_logs(usr, log1, log2)
        keys, values = walk_keys([recovered.root_key()])
        block = recovered.base_block()
        table(["case", "ms"], [
            ["Hive.open (mapped)", f"{mapped * 1e3:.2f}"],
            ["open_with_logs, no logs (read into memory)", f"{plain * 1e3:.2f}"],
            ["open_with_logs, both logs (recovery)", f"{recover * 1e3:.2f}"],
        ])
        print(f"Recovered: sequence numbers {block.primary_sequence}/{block.secondary_sequence}, "
              f"hive bins data size {block.hive_bins_data_size:#x}, {keys} keys, {values} values.\n")

        print("## Command line: dump and timeline (bench/cli.py)\n")
        cli_bench.table([("UsrClass.dat", str(folder / "UsrClass.dat")), (f"synthetic {sizes[-1] // 1000}k", largest)],
                        rounds, str(folder / "cli-out"))

        print("## Keys by path, and walking with Hive.walk() (bench/lookup_walk.py)\n")
        sys.setrecursionlimit(10_000)
        lookup_walk.lookups(folder, rounds)
        lookup_walk.walks([str(folder / "UsrClass.dat"), largest], rounds)

    print("## Hive.open against file size (bench/open_hive.py)\n")
    print("```")
    print(subprocess.run([sys.executable, str(HERE / "open_hive.py")], check=True, capture_output=True,
                         text=True).stdout.rstrip())
    print("```")
    return 0


if __name__ == "__main__":
    sys.exit(main())
