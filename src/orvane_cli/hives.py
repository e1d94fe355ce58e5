"""Opening the hives named on the command line, with their transaction logs.

With `--logs auto` a hive is read together with the logs found beside it
(NAME.LOG1, NAME.LOG2, NAME.LOG, in any letter case); with `--logs none` as it
is; otherwise with the logs named. `--tolerant` reads a damaged hive file as
far as it can be read, without logs (their replay has no tolerant form), and
what it skipped or repaired is told on stderr after the hive's work. In
either mode the walks go on past a list they cannot read (see Damage), so the
output holds everything readable. A hive that cannot be read becomes a
FileFailure carrying one line of text, never a traceback.
"""

from __future__ import annotations

import os
import warnings
from typing import NamedTuple

import orvane
from orvane_cli.messages import FileFailure, error, reason

AUTO = "auto"
NONE = "none"
LOG_SUFFIXES = (".LOG1", ".LOG2", ".LOG")
MAX_LOGS = 2  # Hive.open_with_logs takes two


def find_logs(hive_path: str) -> list[str]:
    """The logs beside a hive, LOG1 before LOG2 before LOG, at most two: the
    ones orvane.open finds, listed before opening (so that recover can refuse
    to write over them)."""
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


class Damage:
    """The parts of a hive a walk could not read: each is told (on stderr,
    unless another sink is given) and counted, and the walk goes on, so the
    output holds everything readable and the run still ends with status 1."""

    __slots__ = ("path", "count", "tell")

    def __init__(self, path: str, tell=None) -> None:
        self.path, self.count = path, 0
        self.tell = error if tell is None else tell

    def __call__(self, key_path: str, problem: BaseException, what: str = "subkeys") -> None:
        """Takes what a walk's on_error is given: the key whose subkeys
        could not be read, and why."""
        self.count += 1
        self.tell(f"{self.path}: {key_path or '(root)'}: {what} not read: {reason(problem)}")


class OpenedHive(NamedTuple):
    hive: orvane.Hive
    path: str
    note: str | None  # a line for stderr about logs and dirty state, if any
    damage: Damage
    tolerant: bool = False  # read with open_tolerant


def sequence_text(block: orvane.BaseBlock) -> str:
    return f"sequence numbers {block.primary_sequence}/{block.secondary_sequence}"


def open_hive(path: str, reading: Reading = Reading()) -> OpenedHive:
    """Opens one hive with orvane.open, whose rules these are: logs found
    beside the hive that make the replay fail are left out, and said so;
    logs the user named are not: their failure is the hive's. What it warns
    about (a hive still dirty, logs left out) becomes the note; a hive that
    logs brought up to date is noted with the logs applied. Raises
    FileFailure when the hive cannot be read."""
    logs = reading.logs if reading.logs in (AUTO, NONE) else list(reading.logs)
    try:
        with warnings.catch_warnings(record=True) as told:
            warnings.simplefilter("always")
            hive = orvane.open(path, logs=logs, tolerant=reading.tolerant)
    except (OSError, ValueError) as problem:
        raise FileFailure(path, problem) from None
    if told:
        return OpenedHive(hive, path, "; ".join(str(warning.message) for warning in told), Damage(path),
                          reading.tolerant)
    applied = hive.applied_logs()
    if applied:
        return OpenedHive(hive, path, f"{path}: logs applied: {', '.join(applied)}; clean "
                                      f"({sequence_text(hive.base_block())})", Damage(path), reading.tolerant)
    return OpenedHive(hive, path, None, Damage(path), reading.tolerant)


def problem_lines(opened: OpenedHive) -> list[str]:
    """What a tolerant reading of the hive skipped or repaired, as lines for
    stderr (none for a hive read strictly)."""
    return [f"{opened.path}: {line}" for line in opened.hive.problems()]


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
            if opened.damage.count:
                status = 1
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


def walk(opened: OpenedHive, key_path: str | None = None):
    """(path from the root, key) for the key at key_path and every key below
    it, depth first; a key met twice (a damaged list) is given once. A subkey
    list that cannot be read goes to the hive's Damage and the walk goes on;
    the whole hive read tolerantly ends with its orphan keys."""
    if not key_path:
        yield from opened.hive.walk(opened.damage)
        return
    key = start_key(opened.hive, key_path)
    prefix = key.path()
    for relative, sub in key.walk(opened.damage):
        yield join_path(prefix, relative), sub


def readable_values(key: orvane.RegistryKey, path: str, damage: Damage) -> list:
    """The key's values that can be read, the list or the values that cannot
    told as damage. Slower than key.values(): for a key that failed."""
    try:
        values = key.values()
    except (OSError, ValueError) as problem:
        damage(path, problem, "values")
        return []
    readable = []
    for value in values:
        try:
            value.raw_data()
        except (OSError, ValueError) as problem:
            damage(path, problem, f"value {value.name()!r}")
        else:
            readable.append(value)
    return readable


class ReadableValues:
    """A key whose values cannot all be read, as the writers see it: the
    values that can be, the others told as damage. Made only after the key
    failed, so a sound walk pays nothing for it."""

    def __init__(self, opened: OpenedHive, path: str, key: orvane.RegistryKey) -> None:
        self._key, self._values = key, readable_values(key, path, opened.damage)

    def values(self) -> list:
        return self._values

    def __getattr__(self, name: str):
        return getattr(self._key, name)
