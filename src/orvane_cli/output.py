"""Where results go: standard output or -o FILE, written in large chunks."""

from __future__ import annotations

import sys
from typing import TextIO

from orvane_cli.messages import FileFailure

CHUNK = 1 << 20


def open_text(path: str | None) -> TextIO:
    """A UTF-8 text stream with a 1 MiB buffer; "\\n" line ends. Text that
    cannot be encoded (a lone surrogate) is written as a backslash escape
    rather than failing the run."""
    if path is None or path == "-":
        sys.stdout.flush()
        return open(sys.stdout.fileno(), "w", encoding="utf-8", errors="backslashreplace",
                    newline="", buffering=CHUNK, closefd=False)
    try:
        return open(path, "w", encoding="utf-8", errors="backslashreplace", newline="", buffering=CHUNK)
    except OSError as problem:
        raise FileFailure(path, problem) from None


class Batch:
    """Collects lines and writes them in chunks of about 1 MiB."""

    def __init__(self, out: TextIO, limit: int = 4096) -> None:
        self.out = out
        self.lines: list[str] = []
        self.limit = limit

    def add(self, line: str) -> None:
        self.lines.append(line)
        if len(self.lines) >= self.limit:
            self.flush()

    def flush(self) -> None:
        if self.lines:
            self.out.write("".join(self.lines))
            self.lines.clear()
