"""Files the user opened or saved: Explorer's RecentDocs and the common
file dialogs' ComDlg32 lists (NTUSER.DAT)."""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts import shell_items, user_values
from orvane_artifacts.framework import (
    INT, KEY_LAST_WRITTEN, KEY_PATH, NTUSER, STR, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import find, join, last_written, subkeys, text_of
from orvane_artifacts.mru import MRU_LIST, ordered_values

EXPLORER = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"
RECENT_DOCS = f"{EXPLORER}\\RecentDocs"
COMDLG32 = f"{EXPLORER}\\ComDlg32"


def _newest(position, written):
    """The key's last-written time dates only its MRU position 0."""
    return written if position == 0 else None


def _recent_docs(hive, context: Context) -> Iterator[dict]:
    root = find(hive, RECENT_DOCS)
    if root is None:
        return
    # Each key keeps its own numbering and order: never merge them by number.
    for key, extension in [(root, None)] + [(sub, sub.name()) for sub in subkeys(root)]:
        path = RECENT_DOCS if extension is None else join(RECENT_DOCS, extension)
        written = last_written(key)
        for value, position in ordered_values(key, context.problem, path):
            doc = user_values.recent_doc(value.raw_data())
            for text in doc.problems:
                context.problem(f"{path} value {value.name()}: {text}")
            yield {
                "name": doc.name,
                "extension": extension,
                "mru_position": position,
                "target": doc.target,
                "opened": _newest(position, written),
                "value_name": value.name(),
                "key_path": path,
                "key_last_written": written,
            }


def _open_save(hive, context: Context) -> Iterator[dict]:
    root = find(hive, COMDLG32)
    if root is None:
        return
    lists = {sub.name().lower(): sub for sub in subkeys(root)}
    open_save = lists.get("opensavepidlmru")
    for key in subkeys(open_save):
        path = join(COMDLG32, open_save.name(), key.name())
        written = last_written(key)
        for value, position in ordered_values(key, context.problem, path):
            result = shell_items.parse_id_list(value.raw_data())
            for text in result.problems:
                context.problem(f"{path} value {value.name()}: {text}")
            yield _record(open_save.name(), key.name(), None, result.path, position, written, value, path)
    for name in ("lastvisitedpidlmru", "lastvisitedpidlmrulegacy", "cidsizemru"):
        key = lists.get(name)
        if key is None:
            continue
        path = join(COMDLG32, key.name())
        written = last_written(key)
        for value, position in ordered_values(key, context.problem, path):
            found = user_values.program_and_id_list(value.raw_data())
            folder = None
            if name != "cidsizemru":
                for text in found.problems:
                    context.problem(f"{path} value {value.name()}: {text}")
                folder = found.id_list.path if found.id_list is not None else None
            yield _record(key.name(), None, found.program, folder, position, written, value, path)
    yield from _windows_xp_lists(lists, context)


def _windows_xp_lists(lists: dict, context: Context) -> Iterator[dict]:
    """Windows XP kept text instead of ID lists: OpenSaveMRU per-extension paths
    and LastVisitedMRU "program NUL folder" pairs, ordered by MRUList."""
    open_save = lists.get("opensavemru")
    for key in subkeys(open_save):
        path = join(COMDLG32, open_save.name(), key.name())
        written = last_written(key)
        for value, position in ordered_values(key, context.problem, path, order_value=MRU_LIST):
            yield _record(open_save.name(), key.name(), None, text_of(value), position, written, value, path)
    visited = lists.get("lastvisitedmru")
    if visited is None:
        return
    path = join(COMDLG32, visited.name())
    written = last_written(visited)
    for value, position in ordered_values(visited, context.problem, path, order_value=MRU_LIST):
        program, folder = user_values.program_and_folder(value.raw_data())
        yield _record(visited.name(), None, program, folder, position, written, value, path)


def _record(list_name, extension, program, path, position, written, value, key_path) -> dict:
    return {
        "list": list_name,
        "extension": extension,
        "program": program,
        "path": path,
        "mru_position": position,
        "used": _newest(position, written),
        "value_name": value.name(),
        "key_path": key_path,
        "key_last_written": written,
    }


EXTRACTORS = (
    Extractor("recent_docs", (NTUSER,), "documents and folders opened from Explorer (RecentDocs), per extension", (
        Field("name", STR, "the document's name"),
        Field("extension", STR, "the extension subkey (.pdf, Folder, ...); None for the list of all documents"),
        Field("mru_position", INT, "place in the key's MRUListEx (0 = most recent); None when not listed"),
        Field("target", STR, "name from the shell item stored with it (the shortcut in the Recent folder)"),
        Field("opened", TIME, "for the most recent entry of its key: the key's last written time; else None"),
        Field("value_name", STR, "the value holding the entry"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _recent_docs),
    Extractor("open_save_mru", (NTUSER,), "files and folders of the open/save dialogs (ComDlg32)", (
        Field("list", STR, "OpenSavePidlMRU, LastVisitedPidlMRU(Legacy), CIDSizeMRU; OpenSaveMRU, LastVisitedMRU (XP)"),
        Field("extension", STR, "the extension subkey of OpenSavePidlMRU (* = all)"),
        Field("program", STR, "the program that showed the dialog (LastVisitedPidlMRU, CIDSizeMRU)"),
        Field("path", STR, "the file or folder rebuilt from the stored ID list"),
        Field("mru_position", INT, "place in the key's MRUListEx (0 = most recent); None when not listed"),
        Field("used", TIME, "for the most recent entry of its key: the key's last written time; else None"),
        Field("value_name", STR, "the value holding the entry"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _open_save),
)
