"""Most-recently-used orders: which value of a key was used last.

`MRUListEx` (binary) lists value names as u32 numbers, most recent first,
ended by 0xFFFFFFFF; `MRUList` (text) lists one-letter value names. An entry's
position is its place in that list (0 = newest); values the list does not
name have no position, names without a value are skipped with a problem.
Only position 0 is dated by the key's last-written time.
"""

from __future__ import annotations

import struct


_TERMINATOR = 0xFFFFFFFF
MRU_LIST_EX = "MRUListEx"
MRU_LIST = "MRUList"


def listex_order(data: bytes) -> tuple[list[str], list[str]]:
    """(value names in MRU order, problems) of MRUListEx data. Trailing bytes
    after the terminator are leftovers; a repeated number keeps its first
    place."""
    problems: list[str] = []
    whole = len(data) & ~3
    names: list[str] = []
    seen: set[int] = set()
    terminated = False
    for (number,) in struct.iter_unpack("<I", data[:whole]):
        if number == _TERMINATOR:
            terminated = True
            break
        if number in seen:
            problems.append(f"{MRU_LIST_EX} lists {number} more than once")
            continue
        seen.add(number)
        names.append(str(number))
    if not terminated:
        if whole != len(data):
            problems.append(f"{MRU_LIST_EX} of {len(data)} bytes ends inside an entry")
        else:
            problems.append(f"{MRU_LIST_EX} of {len(data)} bytes has no terminator")
    return names, problems


def list_order(text: str) -> tuple[list[str], list[str]]:
    """(value names in MRU order, problems) of MRUList text ("cab")."""
    problems: list[str] = []
    names: list[str] = []
    for letter in text:
        if letter in names:
            problems.append(f"{MRU_LIST} lists {letter!r} more than once")
            continue
        names.append(letter)
    return names, problems


def _is_number(name: str) -> bool:
    return name.isascii() and name.isdigit()


def _is_letter(name: str) -> bool:
    return len(name) == 1 and name.isascii() and name.isalpha()


def ordered_values(key, problem, where: str, *, order_value: str = MRU_LIST_EX, values=None):
    """[(value, position)] of a key's MRU entries: the listed ones newest
    first, then those the list does not name (position None) in name order.
    Entries are the values named by numbers (MRUListEx) or single letters
    (MRUList). `problem(text)` receives "WHERE: ..." lines. `values` may
    pass the key's values when the caller has read them already."""
    if values is None:
        values = key.values()
    is_entry = _is_number if order_value == MRU_LIST_EX else _is_letter
    entries: dict[str, object] = {}
    order_data = None
    for value in values:
        name = value.name()
        if is_entry(name):
            entries[name if order_value == MRU_LIST_EX else name.lower()] = value
        elif name.lower() == order_value.lower():
            order_data = value
    if order_data is None:
        names, problems = [], ([f"{order_value} is missing"] if entries else [])
    elif order_value == MRU_LIST_EX:
        names, problems = listex_order(order_data.raw_data())
    else:
        raw = order_data.raw_data()
        # Text stored as REG_SZ, REG_EXPAND_SZ or (seen) REG_BINARY.
        text = ""
        if order_data.value_type().type_id() in (1, 2, 3):
            text = raw[:len(raw) & ~1].decode("utf-16-le", "replace").split("\0", 1)[0]
        names, problems = list_order(text.lower())
    out = []
    placed = set()
    # A position is the place in the stored list, also when a name before
    # it has no value.
    for position, name in enumerate(names):
        value = entries.get(name)
        if value is None:
            problems.append(f"{order_value} names value {name}, which is missing")
            continue
        out.append((value, position))
        placed.add(name)
    rest = [name for name in entries if name not in placed]
    rest.sort(key=lambda n: (len(n), n))
    out.extend((entries[name], None) for name in rest)
    for text in problems:
        problem(f"{where}: {text}")
    return out
