"""Background and desktop activity moderator entries: per user SID, the
programs it ran and when (FILETIME at the start of each value's data).

The keys moved between builds (Services\\bam\\UserSettings, later
Services\\bam\\State\\UserSettings; dam likewise): every form is read.
Version and SequenceNumber values and data under 8 bytes are bookkeeping.
"""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts.binary import filetime_at
from orvane_artifacts.control_sets import control_sets
from orvane_artifacts.framework import (
    CONTROL_SET, INT, KEY_LAST_WRITTEN, KEY_PATH, STR, SYSTEM, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import child, join, last_written, subkeys

LOCATIONS = ("Services\\bam\\State\\UserSettings", "Services\\bam\\UserSettings",
             "Services\\dam\\State\\UserSettings", "Services\\dam\\UserSettings")
SKIPPED = frozenset({"version", "sequencenumber"})


def _extract(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        for location in LOCATIONS:
            for user in subkeys(child(control_set, location)):
                written = last_written(user)
                for value in user.values():
                    name = value.name()
                    data = value.raw_data()
                    if name.lower() in SKIPPED or len(data) < 8:
                        continue
                    ticks, moment = filetime_at(data)
                    yield {
                        "control_set": set_name,
                        "source": location.split("\\")[1],
                        "sid": user.name(),
                        "program": name,
                        "last_run": moment,
                        "last_run_filetime": ticks,
                        "key_path": join(set_name, location, user.name()),
                        "key_last_written": written,
                    }


EXTRACTORS = (
    Extractor("bam", (SYSTEM,), "background/desktop activity moderator: programs each user ran, and when", (
        CONTROL_SET,
        Field("source", STR, "bam or dam"),
        Field("sid", STR, "the user's SID (the key name)"),
        Field("program", STR, "the program: an NT device path or a package family name, as stored"),
        Field("last_run", TIME, "last execution"),
        Field("last_run_filetime", INT, "that time as stored (100 ns since 1601)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _extract),
)
