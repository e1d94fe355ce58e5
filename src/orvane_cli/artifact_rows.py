"""The timeline rows of artifact records: one per aware time field of each
record (the key's own last-written time is already a key row)."""

from __future__ import annotations

from datetime import datetime, timezone

from orvane_cli.messages import error

_EPOCH = datetime(1601, 1, 1, tzinfo=timezone.utc)
# The field that names what a record is about, in order of preference.
_LABELS = ("normalized_path", "path", "program", "user_name", "friendly_name", "serial", "device", "name",
           "profile_path", "computer_name", "display_name", "control_set")


def ticks(moment: datetime) -> int:
    delta = moment - _EPOCH
    return (delta.days * 86_400 + delta.seconds) * 10_000_000 + delta.microseconds * 10


def time_fields(extractor) -> list[str]:
    """The fields of an extractor's records that hold a time of their own."""
    return [f.name for f in extractor.fields if f.type == "datetime" and f.name != "key_last_written"]


def events(fields: list[str], record: dict):
    """(stored time, description) for each aware time among `fields` of an
    artifact record; the timeline and the report show these."""
    label = None
    for field in fields:
        moment = record.get(field)
        if isinstance(moment, datetime) and moment.tzinfo is not None:
            if label is None:
                label = next((str(record[f]) for f in _LABELS if record.get(f)), record.get("key_path") or "")
            yield ticks(moment), f"{field}: {label}"


def rows(opened) -> list[tuple[int, tuple[str, str]]]:
    """(stored time, (artifact, description)) for every timestamped record."""
    import orvane_artifacts

    result = orvane_artifacts.extract(opened.hive)
    for line in result.problems:
        error(f"{opened.path}: {line}")
    by_name = {e.name: e for e in orvane_artifacts.extractors()}
    out = []
    for name, records in result.records.items():
        fields = time_fields(by_name[name])
        if not fields:
            continue
        for record in records:
            out.extend((filetime, (name, text)) for filetime, text in events(fields, record))
    return out
