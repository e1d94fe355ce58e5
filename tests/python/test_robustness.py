"""Damaged hives and logs: orvane raises OSError or ValueError, never anything
else, and never crashes.

Each scenario runs mutation_walk.py in a child process for a few seconds with
a fixed random seed, so a crash (a signal in the child) fails the test rather
than killing pytest, and a failure replays the same rounds. A longer or
different run: ORVANE_ROBUSTNESS_SECONDS=60 ORVANE_ROBUSTNESS_SEED=7 pytest
tests/python/test_robustness.py
"""

from __future__ import annotations

import os
import shutil
import signal
import subprocess
import sys
from pathlib import Path

import orvane
import pytest

HERE = Path(__file__).resolve().parent
CHILD = HERE / "mutation_walk.py"
FUZZ_SEEDS = HERE.parent.parent / "fuzz" / "seeds"
SECONDS = float(os.environ.get("ORVANE_ROBUSTNESS_SECONDS", "2"))
SEED = int(os.environ.get("ORVANE_ROBUSTNESS_SEED", "20240601"))

# scenario, then the sources: corpus files by name, fuzz seeds as "fuzz_hive/<name>".
SCENARIOS = {
    "real_hives": ("hives", ["SAM", "SECURITY", "BCD", "NTUSER.DAT"]),
    "built_hives": ("hives", ["fuzz_hive/lf_every_type", "fuzz_hive/ri_li_lists", "fuzz_hive/big_data"]),
    "windows_logs": ("logs", ["UsrClass.dat", "UsrClass.dat.LOG1", "UsrClass.dat.LOG2"]),
    "hvle_logs": ("logs", ["fuzz_hive/lf_every_type", "fuzz_transaction_log/hvle_three_pages",
                           "fuzz_transaction_log/hvle_skipped_records"]),
}


def source_path(name: str, corpus_dir: Path) -> str:
    return str(FUZZ_SEEDS / name if "/" in name else corpus_dir / name)


def how_it_ended(returncode: int) -> str:
    if returncode < 0:
        return f"killed by {signal.Signals(-returncode).name}"
    return f"exit status {returncode}"


@pytest.mark.parametrize("name", list(SCENARIOS), ids=list(SCENARIOS))
def test_damaged_input_raises_only_oserror_or_valueerror(name, corpus_dir, tmp_path):
    scenario, sources = SCENARIOS[name]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(Path(orvane.__file__).parent),
                                                       os.environ.get("PYTHONPATH", "")]))
    command = [sys.executable, str(CHILD), scenario, str(SEED), str(SECONDS), str(tmp_path),
               *(source_path(s, corpus_dir) for s in sources)]
    done = subprocess.run(command, capture_output=True, text=True, env=env, timeout=SECONDS + 120)
    if done.returncode != 0:
        round_file = tmp_path / "last_round.txt"
        last_round = round_file.read_text() if round_file.exists() else "(no round started)"
        kept = tmp_path.parent / f"robustness-failure-{name}"
        shutil.rmtree(kept, ignore_errors=True)
        shutil.copytree(tmp_path, kept)
        pytest.fail(f"{name}: the walk {how_it_ended(done.returncode)} in {last_round.strip()}\n"
                    f"inputs kept in {kept}\n{done.stderr[-3000:]}")
    # The run must have done real work: rounds that opened a hive and walked keys.
    summary = done.stdout.strip().splitlines()[-1]
    rounds, refused, keys = (int(summary.split()[i].rstrip(",")) for i in (1, 3, 5))
    assert rounds > refused, summary
    assert keys > 0, summary
