"""What the user typed: the Run dialog (RunMRU), Explorer's address bar
(TypedPaths), the legacy browser's address bar (TypedURLs with
TypedURLsTime) and Explorer's search box (WordWheelQuery); NTUSER.DAT."""

from __future__ import annotations

import re
from collections.abc import Iterator

from orvane_artifacts import user_values
from orvane_artifacts.binary import filetime_at
from orvane_artifacts.framework import (
    INT, KEY_LAST_WRITTEN, KEY_PATH, NTUSER, STR, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, find, join, last_written, subkeys, text_of
from orvane_artifacts.mru import MRU_LIST, ordered_values

EXPLORER = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"
RUN_MRU = f"{EXPLORER}\\RunMRU"
TYPED_PATHS = f"{EXPLORER}\\TypedPaths"
TYPED_URLS = "Software\\Microsoft\\Internet Explorer\\TypedURLs"
TYPED_URLS_TIME = "Software\\Microsoft\\Internet Explorer\\TypedURLsTime"
WORD_WHEEL_QUERY = f"{EXPLORER}\\WordWheelQuery"
_URL_NAME = re.compile(r"url(\d+)$", re.IGNORECASE)


def _newest(position, written):
    return written if position == 0 else None


def _run_mru(hive, context: Context) -> Iterator[dict]:
    key = find(hive, RUN_MRU)
    if key is None:
        return
    written = last_written(key)
    for value, position in ordered_values(key, context.problem, RUN_MRU, order_value=MRU_LIST):
        command = text_of(value)
        if command is None:
            context.problem(f"{RUN_MRU} value {value.name()}: not text")
        elif command.endswith("\\1"):
            command = command[:-2]  # Windows' own end mark, not typed
        yield {"command": command, "mru_position": position, "run": _newest(position, written),
               "value_name": value.name(), "key_path": RUN_MRU, "key_last_written": written}


def _numbered_urls(key) -> list[tuple[int, object]]:
    found = []
    for value in key.values():
        match = _URL_NAME.match(value.name())
        if match:
            found.append((int(match.group(1)), value))
    found.sort(key=lambda pair: pair[0])
    return found


def _typed_paths(hive, context: Context) -> Iterator[dict]:
    key = find(hive, TYPED_PATHS)
    if key is None:
        return
    written = last_written(key)
    for order, value in _numbered_urls(key):
        yield {"path": text_of(value), "order": order, "value_name": value.name(),
               "key_path": TYPED_PATHS, "key_last_written": written}


def _typed_urls(hive, context: Context) -> Iterator[dict]:
    key = find(hive, TYPED_URLS)
    if key is None:
        return
    written = last_written(key)
    times = Values(find(hive, TYPED_URLS_TIME))
    for order, value in _numbered_urls(key):
        raw_time = times.raw(value.name())
        ticks = typed = None
        if raw_time is not None:
            if len(raw_time) != 8:
                context.problem(f"{TYPED_URLS_TIME} value {value.name()}: {len(raw_time)} bytes, not a FILETIME")
            else:
                ticks, typed = filetime_at(raw_time)
        yield {"url": text_of(value), "order": order, "typed": typed, "typed_filetime": ticks,
               "value_name": value.name(), "key_path": TYPED_URLS, "key_last_written": written}


def _word_wheel_query(hive, context: Context) -> Iterator[dict]:
    root = find(hive, WORD_WHEEL_QUERY)
    if root is None:
        return
    for key, subkey in [(root, None)] + [(sub, sub.name()) for sub in subkeys(root)]:
        path = WORD_WHEEL_QUERY if subkey is None else join(WORD_WHEEL_QUERY, subkey)
        written = last_written(key)
        for value, position in ordered_values(key, context.problem, path):
            term, problem = user_values.search_term(value.raw_data())
            if problem:
                context.problem(f"{path} value {value.name()}: {problem}")
            yield {"term": term, "subkey": subkey, "mru_position": position,
                   "searched": _newest(position, written), "value_name": value.name(),
                   "key_path": path, "key_last_written": written}


_POSITION = Field("mru_position", INT, "place in the key's MRU order (0 = most recent); None when not listed")
_VALUE = Field("value_name", STR, "the value holding the entry")

EXTRACTORS = (
    Extractor("run_mru", (NTUSER,), "commands typed into the Run dialog (RunMRU)", (
        Field("command", STR, "the command as typed"),
        _POSITION,
        Field("run", TIME, "for the most recent command: the key's last written time; else None"),
        _VALUE, KEY_PATH, KEY_LAST_WRITTEN,
    ), _run_mru),
    Extractor("typed_paths", (NTUSER,), "paths typed into Explorer's address bar (TypedPaths)", (
        Field("path", STR, "the path as typed"),
        Field("order", INT, "the number of its urlN value (1 = most recent)"),
        _VALUE, KEY_PATH, KEY_LAST_WRITTEN,
    ), _typed_paths),
    Extractor("typed_urls", (NTUSER,), "addresses typed into the legacy browser (TypedURLs, TypedURLsTime)", (
        Field("url", STR, "the address as typed"),
        Field("order", INT, "the number of its urlN value (1 = most recent)"),
        Field("typed", TIME, "when it was typed (TypedURLsTime, Windows 8 and later)"),
        Field("typed_filetime", INT, "that time as stored (FILETIME)"),
        _VALUE, KEY_PATH, KEY_LAST_WRITTEN,
    ), _typed_urls),
    Extractor("word_wheel_query", (NTUSER,), "terms searched in Explorer's search box (WordWheelQuery)", (
        Field("term", STR, "the search term"),
        Field("subkey", STR, "the subkey the term is under; None for the main list"),
        _POSITION,
        Field("searched", TIME, "for the most recent term of its key: the key's last written time; else None"),
        _VALUE, KEY_PATH, KEY_LAST_WRITTEN,
    ), _word_wheel_query),
)
