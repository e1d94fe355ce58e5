"""Opening the hives named on the command line, with their transaction logs.

With `--logs auto` a hive is read together with the logs found beside it
(NAME.LOG1, NAME.LOG2, NAME.LOG, in any letter case); with `--logs none` as it
is; otherwise with the logs named. `--tolerant` reads a damaged hive file as
far as it can be read, without logs (their replay has no tolerant form), and
what it skipped or repaired is told on stderr after the hive's work. A hive
that cannot be read becomes a FileFailure carrying one line of text, never a
traceback.
"""

from __future__ import annotations

import os
from typing import NamedTuple

import orvane
from orvane_cli.messages import FileFailure, error, reason

AUTO = "auto"
NONE = "none"
LOG_SUFFIXES = (".LOG1", ".LOG2", ".LOG")
MAX_LOGS = 2  # Hive.open_with_logs takes two


def find_logs(hive_path: str) -> list[str]:
    """The logs beside a hive, LOG1 before LOG2 before LOG, at most two."""
    folder, name = os.path.split(hive_path)
    try:
        entries = os.listdir(folder or ".")
    except OSError:
        return []
    by_upper = {entry.upper(): entry for entry in sorted(entries)}
    found = [by_upper.get(name.upper() + suffix) for suffix in LOG_SUFFIXES]
    return [os.path.join(folder, entry) for entry in found if entry][:MAX_LOGS]


# Named tuples rather than dataclasses: importing dataclasses costs a start of
# the command line a tenth of its time.
class Reading(NamedTuple):
    """How the hives of a run are read: their logs (AUTO, NONE or paths) and
    whether tolerantly."""
    logs: str | list[str] = AUTO
    tolerant: bool = False


class OpenedHive(NamedTuple):
    hive: orvane.Hive
    path: str
    note: str | None  # a line for stderr about logs and dirty state, if any


def sequence_text(block: orvane.BaseBlock) -> str:
    return f"sequence numbers {block.primary_sequence}/{block.secondary_sequence}"


def open_hive(path: str, reading: Reading = Reading()) -> OpenedHive:
    """Opens one hive; raises FileFailure when it cannot be read. Logs found
    beside the hive that make the replay fail are left out, and said so;
    logs the user named are not: their failure is the hive's."""
    logs = reading.logs
    log_paths = find_logs(path) if logs == AUTO else [] if logs == NONE else list(logs)
    try:
        if reading.tolerant:
            return _open_tolerant(path, log_paths)
        if log_paths:
            try:
                hive = orvane.Hive.open_with_logs(path, *log_paths)
                applied = hive.applied_logs()
                return OpenedHive(hive, path, f"{path}: logs applied: {', '.join(applied) or 'none'}; "
                                              f"{_state(hive)}")
            except ValueError as problem:
                if logs != AUTO:
                    raise
                hive = orvane.Hive.open(path)
                return OpenedHive(hive, path, f"{path}: logs left out ({', '.join(log_paths)}): "
                                              f"{reason(problem)}; {_state(hive)}")
        hive = orvane.Hive.open(path)
    except (OSError, ValueError) as problem:
        raise FileFailure(path, problem) from None
    if not _is_dirty(hive):
        return OpenedHive(hive, path, None)
    why = "no logs found beside it" if logs == AUTO else "read without logs"
    return OpenedHive(hive, path, f"{path}: dirty ({sequence_text(hive.base_block())}), {why}")


def _open_tolerant(path: str, log_paths: list[str]) -> OpenedHive:
    hive = orvane.Hive.open_tolerant(path)
    if log_paths:
        return OpenedHive(hive, path, f"{path}: logs not applied in a tolerant reading "
                                      f"({', '.join(log_paths)}); {_state(hive)}")
    if _is_dirty(hive):
        return OpenedHive(hive, path, f"{path}: dirty ({sequence_text(hive.base_block())}), read tolerantly "
                                      "without logs")
    return OpenedHive(hive, path, None)


def problem_lines(opened: OpenedHive) -> list[str]:
    """What a tolerant reading of the hive skipped or repaired, as lines for
    stderr (none for a hive read strictly)."""
    return [f"{opened.path}: {line}" for line in opened.hive.problems()]


def _is_dirty(hive: orvane.Hive) -> bool:
    block = hive.base_block()
    return block.primary_sequence != block.secondary_sequence


def _state(hive: orvane.Hive) -> str:
    return f"{'still dirty' if _is_dirty(hive) else 'clean'} ({sequence_text(hive.base_block())})"


def run_each(paths: list[str], reading: Reading, work) -> int:
    """Opens each hive in turn and hands it to work(opened); a hive that
    fails is reported and the others still go through. What a tolerant
    reading skipped is told after the hive's work. Returns the exit status:
    0, or 1 when any hive failed."""
    status = 0
    for path in paths:
        opened = None
        try:
            opened = open_hive(path, reading)
            if opened.note:
                error(opened.note)
            work(opened)
        except FileFailure as failure:
            error(str(failure))
            status = 1
        except BrokenPipeError:  # the output's reader went away: the whole run ends
            raise
        except (OSError, ValueError, RuntimeError) as problem:
            report_problems(opened)
            error(f"{path}: {reason(problem)}")
            status = 1
        else:
            report_problems(opened)
    return status


def report_problems(opened: OpenedHive | None) -> None:
    for line in problem_lines(opened) if opened else []:
        error(line)


def join_path(prefix: str, relative: str) -> str:
    return f"{prefix}\\{relative}" if prefix and relative else prefix or relative


def start_key(hive: orvane.Hive, key_path: str | None) -> orvane.RegistryKey:
    return hive.key(key_path) if key_path else hive.root_key()


def walk(hive: orvane.Hive, key_path: str | None = None):
    """(path from the root, key) for the key at key_path and every key below
    it, depth first; a key met twice (a damaged list) is given once."""
    key = start_key(hive, key_path)
    prefix = key.path() if key_path else ""
    if not prefix:
        yield from key.walk()
        return
    for relative, sub in key.walk():
        yield join_path(prefix, relative), sub
