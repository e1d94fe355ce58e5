"""UserAssist: programs and shortcuts the user started from Explorer, with
run counts, focus time and the last run (NTUSER.DAT)."""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts import userassist_data as ua
from orvane_artifacts.binary import filetime
from orvane_artifacts.framework import (
    INT, KEY_LAST_WRITTEN, KEY_PATH, NTUSER, STR, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, find, join, last_written, subkeys

USERASSIST = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist"
SESSION = "UEME_CTLSESSION"


def _kind(name: str) -> str:
    if not name.startswith(ua.COUNTER_PREFIX):
        return "program"
    return "session" if name.startswith(SESSION) else "counter"


def _userassist(hive, context: Context) -> Iterator[dict]:
    root = find(hive, USERASSIST)
    if root is None:
        return
    # Settings\NoEncrypt = 1 makes Windows store the names as they are.
    plain = Values(child(root, "Settings")).number("NoEncrypt") == 1
    for guid_key in subkeys(root):
        guid = guid_key.name().upper()
        count = child(guid_key, "Count")
        if count is None:
            continue
        version = Values(guid_key).number("Version")
        path = join(USERASSIST, guid_key.name(), count.name())
        written = last_written(count)
        for value in count.values():
            stored = value.name()
            name = stored if plain else ua.rot13(stored)
            kind = _kind(name)
            data = value.raw_data()
            if kind == "session":
                # Session bookkeeping of varying size: no counters to read.
                counts = ua.Counts(None, None, None, None, None, None)
            else:
                counts, problem = ua.decode_counts(data, version)
                if problem:
                    context.problem(f"{path} value {stored!r}: {problem}")
            yield {
                "guid": guid,
                "guid_meaning": ua.GUID_MEANINGS.get(guid),
                "name": ua.expand_known_folders(name),
                "name_raw": name,
                "entry_kind": kind,
                "run_count": counts.run_count,
                "focus_count": counts.focus_count,
                "focus_time_ms": counts.focus_time_ms,
                "last_run": filetime(counts.last_run_filetime),
                "last_run_filetime": counts.last_run_filetime,
                "session_id": counts.session_id,
                "format_version": counts.format,
                "data": data,
                "value_name": stored,
                "key_path": path,
                "key_last_written": written,
            }


EXTRACTORS = (
    Extractor("userassist", (NTUSER,), "programs and shortcuts started from Explorer: run counts, focus time, last run", (
        Field("guid", STR, "the UserAssist GUID key the entry is under"),
        Field("guid_meaning", STR, "what that GUID counts (executables, shortcuts, ...); None when unknown"),
        Field("name", STR, "decoded name, known-folder GUIDs shown as their folder names"),
        Field("name_raw", STR, "decoded name with the GUIDs as stored"),
        Field("entry_kind", STR, "program; counter or session for Windows' UEME_CTL bookkeeping entries"),
        Field("run_count", INT, "times run (the 16-byte layout's stored count minus 5)"),
        Field("focus_count", INT, "times the program got the focus (72-byte layout)"),
        Field("focus_time_ms", INT, "time with the focus in milliseconds (72-byte layout)"),
        Field("last_run", TIME, "last run"),
        Field("last_run_filetime", INT, "last run as stored (FILETIME)"),
        Field("session_id", INT, "session number (16-byte layout)"),
        Field("format_version", INT, "record layout: 3 (16 bytes, 2000 to Vista) or 5 (72 bytes, 7 and later)"),
        Field("data", "bytes", "the record as stored"),
        Field("value_name", STR, "the value name as stored (ROT13)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _userassist),
)
