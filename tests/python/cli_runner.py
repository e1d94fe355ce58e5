"""Runs the installed `orvane` script in a subprocess, as a user would.

The script is the one `pip install .` put beside the interpreter (./dev.sh
test installs before it tests); the package source and the freshly built
module come first on PYTHONPATH, so the code under test is this tree's.
Without an installed script, `python -m orvane_cli` does the same.
"""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

SRC = Path(__file__).resolve().parent.parent.parent / "src"


def command() -> list[str]:
    script = Path(sys.executable).parent / "orvane"
    return [str(script)] if script.exists() else [sys.executable, "-m", "orvane_cli"]


def run(*args, cwd=None, extra_path: str | None = None, as_module: bool = False) -> subprocess.CompletedProcess:
    env = dict(os.environ)
    paths = [p for p in (extra_path, str(SRC), env.get("PYTHONPATH")) if p]
    env["PYTHONPATH"] = os.pathsep.join(paths)
    program = [sys.executable, "-m", "orvane_cli"] if as_module else command()
    return subprocess.run([*program, *map(str, args)], capture_output=True, text=True, cwd=cwd, env=env,
                          timeout=300)
