"""Threads without the interpreter lock: orvane leaves the GIL off on a
free-threaded interpreter, its one-time state is created once however many
threads race for it, and concurrent walks see exactly what one thread sees.
These tests run on every interpreter; on a GIL build they still check that the
answers do not depend on how the threads interleave."""

import subprocess
import sys
import sysconfig
import textwrap
import threading

import pytest

import orvane
from test_keys import walk

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
CORPUS = ["NTUSER.DAT", "UsrClass.dat", "amcache.hve", "SAM", "SECURITY", "BCD"]


def run_python(code: str) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-W", "error", "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=120)


def run_threads(targets):
    """Starts one thread per callable at the same moment; returns their results in order."""
    barrier = threading.Barrier(len(targets))
    results, errors = [None] * len(targets), []

    def run(i):
        try:
            barrier.wait()
            results[i] = targets[i]()
        except BaseException as error:  # reported below
            errors.append(error)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(targets))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    return results


@pytest.mark.skipif(not FREE_THREADED, reason="needs a free-threaded interpreter")
def test_import_leaves_the_gil_off():
    # -W error turns the RuntimeWarning CPython gives for a module that needs
    # the GIL into a failed import.
    result = run_python("""
        import sys
        assert not sys._is_gil_enabled()
        import orvane
        print("gil", sys._is_gil_enabled())
    """)
    assert (result.returncode, result.stdout.strip(), result.stderr) == (0, "gil False", "")


def test_racing_first_initialisations_make_one_module():
    # module_from_spec runs the extension's init without the import lock, so
    # eight threads enter it together in a fresh process.
    result = run_python("""
        import importlib.util, sys, threading
        spec = importlib.util.find_spec("orvane")
        barrier = threading.Barrier(8)
        modules = []
        def load():
            barrier.wait()
            modules.append(importlib.util.module_from_spec(spec))
        threads = [threading.Thread(target=load) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        import orvane
        assert len(modules) == 8 and all(m is orvane for m in modules), modules
        assert orvane.__all__.count("Hive") == 1
        print("one module", getattr(sys, "_is_gil_enabled", lambda: True)())
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == f"one module {not FREE_THREADED}"


class TestStress:
    def test_eight_threads_walking_one_hive(self, corpus_dir):
        hive = orvane.Hive.open(str(corpus_dir / "NTUSER.DAT"))
        expected = walk(orvane.Hive.open(str(corpus_dir / "NTUSER.DAT")).root_key(), [])
        results = run_threads([lambda: walk(hive.root_key(), [])] * 8)
        assert all(r == expected for r in results)

    def test_eight_threads_walking_different_hives(self, corpus_dir):
        names = [CORPUS[i % len(CORPUS)] for i in range(8)]
        expected = {name: walk(orvane.Hive.open(str(corpus_dir / name)).root_key(), []) for name in CORPUS}
        hives = [orvane.Hive.open(str(corpus_dir / name)) for name in names]
        results = run_threads([lambda h=h: walk(h.root_key(), []) for h in hives])
        assert [r == expected[name] for r, name in zip(results, names)] == [True] * 8

    def test_objects_shared_between_threads_outlive_their_hive(self, corpus_dir):
        # Keys made by one thread are walked by others while the hive object
        # itself is dropped: the keys' shared hold keeps it loaded.
        hive = orvane.Hive.open(str(corpus_dir / "UsrClass.dat"))
        subkeys = hive.root_key().subkeys()
        expected = [walk(k, []) for k in subkeys]
        del hive
        results = run_threads([lambda: [walk(k, []) for k in subkeys]] * 8)
        assert all(r == expected for r in results)


def test_tables_consumed_from_two_threads_at_once(corpus_dir):
    """Two threads read the same hive's tables at the same moment: through
    column() (no pyarrow, so on every interpreter) and, where this
    interpreter has pyarrow, through the Arrow stream of one table object."""
    hive = orvane.Hive.open(str(corpus_dir / "NTUSER.DAT"))
    values = hive.values_table()

    def columns():
        return values.column("path"), values.column("data"), hive.keys_table().column("last_written_filetime")

    first, second = run_threads([columns, columns])
    assert first == second
    try:
        import pyarrow
    except ImportError:
        return
    streamed = run_threads([lambda: pyarrow.table(values), lambda: pyarrow.table(values)])
    assert streamed[0].equals(streamed[1])
    assert streamed[0].column("path").to_pylist() == first[0]
