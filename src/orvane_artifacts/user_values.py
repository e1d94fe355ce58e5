"""Binary values of Explorer's per-user lists: a UTF-16 text with its NUL,
then (for some) a shell item or an item ID list.

- RecentDocs `0`, `1`...: the document's name, then one shell item of the
  shortcut Windows made for it in the Recent folder (its long name is the
  shortcut's), then leftovers.
- ComDlg32 LastVisitedPidlMRU and CIDSizeMRU: the program's file name, then
  the ID list of the folder last used (LastVisited) or window geometry.
- WordWheelQuery: the search term.
"""

from __future__ import annotations

from typing import NamedTuple

from orvane_artifacts import shell_items


def utf16_prefix(data: bytes) -> tuple[str, int | None]:
    """The UTF-16LE text up to the first NUL unit and the offset after it
    (None when the data holds no NUL: then the text is all of it)."""
    at = data.find(b"\0\0")
    while at >= 0 and at & 1:
        at = data.find(b"\0\0", at + 1)
    if at < 0:
        return data[:len(data) & ~1].decode("utf-16-le", "replace"), None
    return data[:at].decode("utf-16-le", "replace"), at + 2


class RecentDoc(NamedTuple):
    name: str
    target: str | None  # the shell item's name (the shortcut's long name)
    item: shell_items.ShellItem | None
    problems: list[str]


def recent_doc(data: bytes) -> RecentDoc:
    name, after = utf16_prefix(data)
    problems: list[str] = []
    if after is None:
        return RecentDoc(name, None, None, ["the name has no terminating NUL"])
    result = shell_items.parse_id_list(data, after)
    problems.extend(result.problems)
    item = result.items[0] if result.items else None
    if item is None:
        return RecentDoc(name, None, None, problems or ["no shell item follows the name"])
    return RecentDoc(name, item.name if item.kind != shell_items.UNKNOWN else None, item, problems)


class ProgramFolder(NamedTuple):
    program: str
    id_list: shell_items.IdList | None
    problems: list[str]


def program_and_id_list(data: bytes) -> ProgramFolder:
    """LastVisitedPidlMRU data: program name, then the folder's ID list."""
    program, after = utf16_prefix(data)
    if after is None:
        return ProgramFolder(program, None, ["the program name has no terminating NUL"])
    result = shell_items.parse_id_list(data, after)
    return ProgramFolder(program, result, result.problems)


def program_and_folder(data: bytes) -> tuple[str, str | None]:
    """Windows XP LastVisitedMRU data: "program NUL folder NUL" in UTF-16."""
    program, after = utf16_prefix(data)
    if after is None:
        return program, None
    folder, _ = utf16_prefix(data[after:])
    return program, folder or None


def search_term(data: bytes) -> tuple[str, str | None]:
    """(term, problem or None) of a WordWheelQuery value."""
    term, after = utf16_prefix(data)
    if after is None:
        return term, f"the term of {len(data)} bytes has no terminating NUL"
    return term, None
