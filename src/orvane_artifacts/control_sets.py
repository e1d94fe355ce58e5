"""SYSTEM's control sets: which ControlSetNNN was current, and the helper
every SYSTEM extractor reads its control set through.

CurrentControlSet is a link Windows builds at boot; it is not stored in the
hive. `Select\\Current` names the set of the last boot; when that set is not
there the rule falls back to `Default`, then to the lowest set present.
"""

from __future__ import annotations

import re
from collections.abc import Iterator

from orvane_artifacts.framework import (
    BOOL, CONTROL_SET, INT, KEY_LAST_WRITTEN, KEY_PATH, STR, SYSTEM, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, find, last_written

_SET_NAME = re.compile(r"ControlSet(\d{3})", re.IGNORECASE)


def set_name(number: int) -> str:
    return f"ControlSet{number:03d}"


def stored_sets(hive) -> list[tuple[int, object]]:
    """(number, key) of every ControlSetNNN below the root, by number."""
    found = []
    for key in hive.root_key().subkeys():
        match = _SET_NAME.fullmatch(key.name())
        if match:
            found.append((int(match.group(1)), key))
    found.sort(key=lambda item: item[0])
    return found


def select_numbers(hive) -> dict[str, int | None]:
    values = Values(find(hive, "Select"))
    return {name: values.number(name) for name in ("Current", "Default", "LastKnownGood", "Failed")}


def current_set(hive, sets: list[tuple[int, object]] | None = None) -> tuple[int | None, str]:
    """(number of the current set, the rule that chose it): "Current",
    "Default" or "lowest present"; (None, "none") without any set."""
    sets = stored_sets(hive) if sets is None else sets
    present = {number for number, _ in sets}
    numbers = select_numbers(hive)
    for rule in ("Current", "Default"):
        if numbers[rule] in present:
            return numbers[rule], rule
    if sets:
        return sets[0][0], "lowest present"
    return None, "none"


def control_sets(hive, context: Context) -> Iterator[tuple[str, object]]:
    """(name, key) of the control set a SYSTEM extractor reads: the current
    one, or every ControlSetNNN with all_control_sets."""
    sets = stored_sets(hive)
    if context.all_control_sets:
        for number, key in sets:
            yield set_name(number), key
        return
    number, _ = current_set(hive, sets)
    for stored, key in sets:
        if stored == number:
            yield set_name(number), key
            return


def _extract(hive, context: Context) -> Iterator[dict]:
    sets = stored_sets(hive)
    numbers = select_numbers(hive)
    current, rule = current_set(hive, sets)
    for number, key in sets:
        yield {
            "control_set": set_name(number),
            "number": number,
            "is_current": number == current,
            "current": numbers["Current"],
            "default": numbers["Default"],
            "last_known_good": numbers["LastKnownGood"],
            "failed": numbers["Failed"],
            "current_rule": rule,
            "key_path": key.name(),
            "key_last_written": last_written(key),
        }


EXTRACTORS = (
    Extractor("control_sets", (SYSTEM,), "the control sets stored and which one was current (Select)", (
        CONTROL_SET,
        Field("number", INT, "the NNN of ControlSetNNN"),
        Field("is_current", BOOL, "whether this is the set the other SYSTEM artifacts are read from"),
        Field("current", INT, "Select\\Current: the set used at the last boot"),
        Field("default", INT, "Select\\Default: the set for the next boot"),
        Field("last_known_good", INT, "Select\\LastKnownGood: the set of the last good boot"),
        Field("failed", INT, "Select\\Failed: the set that failed (0 = none)"),
        Field("current_rule", STR, "how the current set was chosen: Current, Default or lowest present"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _extract),
)
