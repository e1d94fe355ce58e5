"""orvane_artifacts: forensic artifacts read from registry hives.

    import orvane, orvane_artifacts

    hive = orvane.Hive.open("SYSTEM")
    result = orvane_artifacts.extract(hive)            # every extractor that applies
    for record in result.records["usbstor"]:
        print(record["serial"], record["last_arrival"])
    for line in result.problems:
        print(line)                                    # "shimcache: entry 17 at 0x2a0: path runs past the data"

Standard library only, on the public `orvane` API.

The contract every extractor follows
------------------------------------
- An extractor is an `Extractor(name, hive_kinds, description, fields, run)`
  (framework.py): `name` is snake_case and part of the interface; `hive_kinds`
  are names from `KINDS`; `description` is one line; `fields` an ordered tuple of
  `Field(name, type, meaning)` with `type` one of `TYPES` ("str", "int", "bool",
  "bytes", "list[str]", "datetime"); `run(hive, context)` yields records.
- A record is a plain dict with exactly the declared fields, in their order.
  Any field may be None (not stored, or did not decode). Times are aware UTC
  datetimes (binary.filetime, binary.unix_time, binary.systemtime), None for
  zero, all ones and out-of-range values, never 1601-01-01; the raw stored
  count sits beside a decoded time where the digit lost matters (`*_filetime`).
  A field of local time says so in its meaning and holds a naive datetime.
- Every record carries `key_path` (from the hive root) and, where meaningful,
  `key_last_written`; SYSTEM records carry `control_set` and are read through
  control_sets.control_sets(hive, context) (the current set, or every set
  with `all_control_sets`).
- Bad artifact data never raises: a malformed or truncated record becomes one
  line through `context.problem("entry 17 at 0x2a0: path runs past the data")`
  (the extractor's name is put in front) and the extractor goes on with the
  next record. binary.Reader raises binary.Overrun for a field past the end
  of its data: catch it per record. A missing key or value gives no record:
  look up with keys.find/keys.child (None when absent) and read values through
  keys.Values (one call per key; text, number, strings, dword, raw, by type).
  Given `report=context.at(path)`, a read makes a value stored with the wrong
  type or size a problem line; keys.entries(hive, path, context) gives each
  subkey with its path, values and such a reporter.
  Use key lookups, never a walk of the hive, unless the artifact is a whole subtree.
- Only a failing hive read (the orvane OSError/ValueError) ends an extractor;
  Extractor.extract turns it into a problem line and the other extractors
  still run. Hives from Hive.open_tolerant work the same way.
- A family of extractors is one module exposing EXTRACTORS (a tuple), listed
  by one line in registry.py (SYSTEM_WIDE or USER_ACTIVITY).
"""

from __future__ import annotations

from typing import NamedTuple

from orvane_artifacts.detect import hive_kind
from orvane_artifacts.framework import KINDS, TYPES, Context, Extractor, Field
from orvane_artifacts.registry import by_name
from orvane_artifacts.registry import extractors as _registered

__all__ = ["Extraction", "Extractor", "Field", "Context", "KINDS", "TYPES", "extract", "extractors", "hive_kind"]


class Extraction(NamedTuple):
    """What extract() found: records by extractor name (in the order of
    extractors()), the problems met (one line each), the hive kind."""
    records: dict[str, list[dict]]
    problems: list[str]
    kind: str | None


def extractors() -> list[Extractor]:
    """Every extractor, system-wide ones first."""
    return list(_registered())


def select(kind: str | None, names=None) -> list[Extractor]:
    """The extractors to run on a hive of this kind: those that apply, or,
    with names, those named that apply (all named ones when the kind is
    unknown). Raises ValueError for a name no extractor has."""
    if names is None:
        return [extractor for extractor in _registered() if extractor.applies_to(kind)]
    known = by_name()
    wanted = []
    for name in names:
        if name not in known:
            raise ValueError(f"unknown artifact: {name!r} (known: {', '.join(known)})")
        wanted.append(known[name])
    return [extractor for extractor in wanted if kind is None or extractor.applies_to(kind)]


def extract(hive, names=None, all_control_sets: bool = False) -> Extraction:
    """Runs the extractors that apply to the hive (or those of `names`) and
    returns their records by name with the problems met. Never raises for
    bad artifact data or a failing hive read; a name that no extractor has
    raises ValueError."""
    kind = hive_kind(hive)
    problems: list[str] = []
    records = {extractor.name: list(extractor.extract(hive, problems, all_control_sets=all_control_sets))
               for extractor in select(kind, names)}
    return Extraction(records, problems, kind)
