"""What the page shows of each hive, read in one pass over it.

One walk of the key tree gives the timeline's key rows and the counts
`orvane info` prints; the deleted-record scan gives the deleted table; the
artifact extractors that apply to the hive's kind give one table each and the
timed rows of the timeline. Everything is turned into plain JSON values here
(times as ISO 8601 texts, bytes as hex), so the page builder only lays it out.
"""

from __future__ import annotations

from datetime import datetime
from typing import NamedTuple

from orvane_cli import artifact_rows, hives, times
from orvane_cli.commands import deleted, info
from orvane_cli.messages import FileFailure, error, reason
from orvane_cli.progress import Progress
from orvane_cli.values import value_line

PROGRESS_STEP = 4096
LARGEST_EXACT_INT = 1 << 53  # JavaScript numbers are exact up to here; larger ints go as text
TIMELINE_COLUMNS = ["time", "hive", "kind", "description"]
DELETED_COLUMNS = ["kind", "partial path", "last written", "offset", "values"]
KEY_KIND = "key"


class Window(NamedTuple):
    """The --since/--until bounds as stored times; until None means no bound."""
    since: int = 0
    until: int | None = None

    def holds(self, filetime: int) -> bool:
        return filetime >= self.since and (self.until is None or filetime <= self.until)


class Collected:
    """Everything read from the hives of one report, in argument order."""

    def __init__(self) -> None:
        self.hives: list[dict[str, object]] = []
        # (stored time, hive, kind, description); sorted by time when done.
        self.timeline: list[tuple[int, int, str, str]] = []
        self.key_times: list[list[int]] = []  # per hive, the written keys' times in the window
        self.event_times: list[int] = []
        self.deleted: list[list[list[object]]] = []  # per hive, the deleted table's rows
        # artifact name -> {"description", "columns", "rows"}, rows led by the hive index
        self.artifacts: dict[str, dict[str, object]] = {}


def _artifacts_module():
    try:
        import orvane_artifacts
    except ImportError:  # an installation without the extractors still gets the rest of the page
        return None
    return orvane_artifacts


def cell(value: object) -> object:
    """An artifact field as a JSON value the page can sort and show."""
    if isinstance(value, datetime):
        return time_text(value)
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value).hex()
    if isinstance(value, bool) or value is None or isinstance(value, (str, float)):
        return value
    if isinstance(value, int):
        return value if -LARGEST_EXACT_INT < value < LARGEST_EXACT_INT else str(value)
    if isinstance(value, (list, tuple)):
        return "; ".join(str(item) for item in value)
    return str(value)


def time_text(moment: datetime) -> str:
    """A datetime as the tables' ISO text: seven fractional digits, "Z" for
    UTC, none for a local time (a naive datetime), so that texts sort as times."""
    text = f"{moment.year:04d}-{moment:%m-%dT%H:%M:%S}.{moment.microsecond:06d}0"
    return text + "Z" if moment.tzinfo is not None else text


def read_hive(collected: Collected, opened: hives.OpenedHive, window: Window, meter: Progress) -> None:
    number = len(collected.hives)
    hive = opened.hive
    problems: list[str] = [opened.note] if opened.note else []

    def skipped(path: str, problem: BaseException) -> None:
        problems.append(f"subkeys of {path or '(root)'} skipped: {problem}")
        opened.damage(path, problem)

    rows = collected.timeline
    written: list[int] = []
    keys = values = depth = 0
    for path, key in hive.walk(skipped):
        keys += 1
        values += key.value_count()
        if path:
            depth = max(depth, path.count("\\") + 1)
        filetime = key.last_written_filetime()
        if window.holds(filetime):
            rows.append((filetime, number, KEY_KIND, path))
            if filetime:
                written.append(filetime)
        if not keys % PROGRESS_STEP:
            meter.add_keys(PROGRESS_STEP)
    meter.add_keys(keys % PROGRESS_STEP)
    collected.key_times.append(written)

    facts = info.facts(opened, (keys, values, depth))
    facts["logs_applied"] = hive.applied_logs()
    deleted_rows = _deleted_rows(hive)
    collected.deleted.append(deleted_rows)
    facts["deleted_keys"] = sum(1 for row in deleted_rows if row[0] == "key")
    facts["deleted_values"] = sum(1 for row in deleted_rows if row[0] == "value")
    facts["kind"] = _read_artifacts(collected, hive, number, window, problems)
    problems.extend(hive.problems())
    collected.hives.append({"label": opened.path, "facts": facts, "problems": problems})


def _deleted_rows(hive) -> list[list[object]]:
    rows: list[list[object]] = []
    for key, values in deleted.records(hive):
        lines = "; ".join(value_line(value) for value in values)
        if key is None:
            rows.append(["value", "", "", values[0].offset(), lines])
        else:
            rows.append(["key", key.partial_path(), times.iso_or_empty(key.last_written_filetime()),
                         key.offset(), lines])
    return rows


def _read_artifacts(collected: Collected, hive, number: int, window: Window, problems: list[str]) -> str | None:
    """Runs the extractors that apply; returns the hive kind detected. The
    records and their timeline descriptions are those of `orvane artifacts`
    and `orvane timeline --artifacts`."""
    artifacts = _artifacts_module()
    if artifacts is None:
        return None
    result = artifacts.extract(hive)
    problems.extend(result.problems)
    by_name = {extractor.name: extractor for extractor in artifacts.extractors()}
    for name, records in result.records.items():
        if not records:
            continue
        extractor = by_name[name]
        names = extractor.field_names
        fields = artifact_rows.time_fields(extractor)
        table = collected.artifacts.setdefault(name, {
            "description": extractor.description, "columns": ["hive", *names], "rows": []})
        for record in records:
            table["rows"].append([number, *(cell(record.get(field)) for field in names)])
            for filetime, description in artifact_rows.events(fields, record):
                if window.holds(filetime):
                    collected.timeline.append((filetime, number, name, description))
                    collected.event_times.append(filetime)
    return result.kind


def _roll_back(collected: Collected, marks) -> None:
    timeline, events, key_times, deleted_tables, artifact_rows = marks
    del collected.timeline[timeline:]
    del collected.event_times[events:]
    del collected.key_times[key_times:]
    del collected.deleted[deleted_tables:]
    for name in list(collected.artifacts):
        if name in artifact_rows:
            del collected.artifacts[name]["rows"][artifact_rows[name]:]
        else:
            del collected.artifacts[name]


def collect(paths: list[str], reading: hives.Reading, window: Window, meter: Progress,
            failed: list[str]) -> tuple[Collected, int]:
    """Reads every hive; one that cannot be read is told on stderr, named in
    `failed` for the page, and the others still go through. Returns what was
    read and the exit status (0, or 1 when any hive failed)."""
    collected = Collected()
    status = 0
    for path in paths:
        opened = None
        marks = (len(collected.timeline), len(collected.event_times), len(collected.key_times),
                 len(collected.deleted), {name: len(table["rows"]) for name, table in collected.artifacts.items()})
        try:
            opened = hives.open_hive(path, reading)
            if opened.note:
                error(opened.note)
            read_hive(collected, opened, window, meter)
        except FileFailure as failure:
            line = str(failure)
        except (OSError, ValueError, RuntimeError) as problem:
            line = f"{path}: {reason(problem)}"
        else:
            hives.report_problems(opened)
            meter.hive_done()
            if opened.damage.count:
                status = 1  # the page holds what could be read; the run still says it was not all
            continue
        _roll_back(collected, marks)  # a hive that fails leaves nothing half-read behind
        hives.report_problems(opened)
        error(line)
        failed.append(line)
        status = 1
        meter.hive_done()
    # Stable: keys of one time stay in hive and walk order, artifact events after them.
    collected.timeline.sort(key=lambda row: row[0])
    return collected, status
