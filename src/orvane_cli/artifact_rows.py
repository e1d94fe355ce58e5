"""The timeline rows of artifact records: one per aware time field of each
record (the key's own last-written time is already a key row)."""

from __future__ import annotations

from datetime import datetime, timezone

from orvane_cli.messages import error

_EPOCH = datetime(1601, 1, 1, tzinfo=timezone.utc)
# The field that names what a record is about, in order of preference.
_LABELS = ("normalized_path", "path", "program", "user_name", "friendly_name", "serial", "device", "name",
           "computer_name", "display_name", "control_set")


def ticks(moment: datetime) -> int:
    delta = moment - _EPOCH
    return (delta.days * 86_400 + delta.seconds) * 10_000_000 + delta.microseconds * 10


def rows(opened) -> list[tuple[int, tuple[str, str]]]:
    """(stored time, (artifact, description)) for every timestamped record."""
    import orvane_artifacts

    result = orvane_artifacts.extract(opened.hive)
    for line in result.problems:
        error(f"{opened.path}: {line}")
    by_name = {e.name: e for e in orvane_artifacts.extractors()}
    out = []
    for name, records in result.records.items():
        fields = [f.name for f in by_name[name].fields if f.type == "datetime" and f.name != "key_last_written"]
        if not fields:
            continue
        for record in records:
            label = next((str(record[f]) for f in _LABELS if record.get(f)), record.get("key_path") or "")
            for field in fields:
                moment = record[field]
                if isinstance(moment, datetime) and moment.tzinfo is not None:
                    out.append((ticks(moment), (name, f"{field}: {label}")))
    return out
