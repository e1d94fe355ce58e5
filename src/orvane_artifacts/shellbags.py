"""ShellBags: folders the user browsed in Explorer, rebuilt into paths from
the tree of BagMRU keys (UsrClass.dat, and NTUSER.DAT for the desktop,
network places and Windows XP).

Each BagMRU node holds one shell item per numbered value; the child in value
N owns subkey N, so a node's path is its parent's path and its item's name.
A node's last-written time dates the child at its MRU position 0, not the
node; times inside items are file-system times from when the item was built.
"""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts import shell_items
from orvane_artifacts.binary import filetime
from orvane_artifacts.framework import (
    INT, KEY_PATH, NTUSER, STR, TIME, USRCLASS, Context, Extractor, Field,
)
from orvane_artifacts.keys import find, number_of
from orvane_artifacts.mru import ordered_values

BAG_MRU_KEYS = (
    "Local Settings\\Software\\Microsoft\\Windows\\Shell\\BagMRU",
    "Wow6432Node\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\BagMRU",
    "Software\\Microsoft\\Windows\\Shell\\BagMRU",
    "Software\\Microsoft\\Windows\\ShellNoRoam\\BagMRU",
    "Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\BagMRU",
)
MAX_DEPTH = 64


def _node_slot(values) -> int | None:
    for value in values:
        if value.name().lower() == "nodeslot":
            return number_of(value)
    return None


def _walk(hive, context: Context, root_path: str) -> Iterator[dict]:
    root = find(hive, root_path)
    if root is None:
        return
    seen = {root.offset()}
    # (key, key path, display path, item, MRU position, depth); the root has no item.
    stack = [(root, root_path, "", None, None, 0)]
    while stack:
        key, path, shown, item, position, depth = stack.pop()
        values = key.values() if key is not None else []
        if item is not None:
            yield {
                "path": shown,
                "name": item.name,
                "item_type": item.type_name,
                "mru_position": position,
                "node_slot": _node_slot(values),
                "created": item.created,
                "modified": item.modified,
                "accessed": item.accessed,
                "mft_entry": item.mft_entry,
                "mft_sequence": item.mft_sequence,
                "key_path": path,
                "key_last_written": filetime(key.last_written_filetime()) if key is not None else None,
            }
        if key is None:
            continue
        if depth >= MAX_DEPTH:
            context.problem(f"{path}: deeper than {MAX_DEPTH} levels, not followed")
            continue
        children = {sub.name(): sub for sub in key.subkeys()} if key.subkey_count() else {}
        entries = ordered_values(key, context.problem, path, values=values)
        entries.sort(key=lambda entry: int(entry[0].name()))
        pushed = []
        for value, place in entries:
            number = value.name()
            problems: list[str] = []
            child_item = shell_items.decode_item(value.raw_data(), problems=problems)
            for text in problems:
                context.problem(f"{path} value {number}: {text}")
            sub = children.get(number)
            if sub is not None:
                if sub.offset() in seen:
                    context.problem(f"{path}\\{number}: key seen before, not followed")
                    continue
                seen.add(sub.offset())
            pushed.append((sub, f"{path}\\{number}", shell_items.join_path(shown, child_item), child_item, place,
                           depth + 1))
        stack.extend(reversed(pushed))


def _shellbags(hive, context: Context) -> Iterator[dict]:
    for root_path in BAG_MRU_KEYS:
        yield from _walk(hive, context, root_path)


EXTRACTORS = (
    Extractor("shellbags", (USRCLASS, NTUSER), "folders browsed in Explorer, rebuilt from the BagMRU tree", (
        Field("path", STR, "the folder's path rebuilt from the shell items of its node and the nodes above"),
        Field("name", STR, "this node's item name"),
        Field("item_type", STR, "the item's kind and type byte, e.g. file_entry (0x31)"),
        Field("mru_position", INT, "place in the parent's MRUListEx (0 = most recent); None when not listed"),
        Field("node_slot", INT, "NodeSlot: the Bags subkey holding the view settings"),
        Field("created", TIME, "created time stored in the item (file system time when the item was built)"),
        Field("modified", TIME, "modified time stored in the item (file system time when the item was built)"),
        Field("accessed", TIME, "accessed time stored in the item (file system time when the item was built)"),
        Field("mft_entry", INT, "NTFS MFT entry of the folder, from the item"),
        Field("mft_sequence", INT, "NTFS sequence number of the folder, from the item"),
        KEY_PATH,
        Field("key_last_written", TIME, "the node key's last written time: when its children's order last changed"),
    ), _shellbags),
)
