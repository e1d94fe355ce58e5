"""Messages for people, on stderr, one line each."""

from __future__ import annotations

import sys

PROG = "orvane"


def error(message: str) -> None:
    sys.stderr.write(f"{PROG}: {message}\n")
    sys.stderr.flush()


class FileFailure(Exception):
    """One file could not be read or written; str() is "PATH: reason"."""

    def __init__(self, path: str, error: BaseException | str) -> None:
        super().__init__(f"{path}: {error if isinstance(error, str) else reason(error)}")


def reason(error: BaseException) -> str:
    """An exception as one line: the library's message, or the system's text
    for a failed file operation (without Python's "[Errno N]" decoration)."""
    if isinstance(error, OSError) and error.strerror:
        return error.strerror
    text = str(error).strip() or type(error).__name__
    return " ".join(text.splitlines())
