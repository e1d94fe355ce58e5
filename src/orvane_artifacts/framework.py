"""The extractor description, the context an extractor reports problems to,
and the guarded run that keeps a failing extractor from stopping the others."""

from __future__ import annotations

from collections.abc import Callable, Iterable, Iterator
from typing import NamedTuple

# Field types; every field may also be None (not stored, or did not decode).
STR = "str"
INT = "int"
BOOL = "bool"
BYTES = "bytes"
STRS = "list[str]"
TIME = "datetime"  # timezone-aware UTC, unless the field's meaning says local time (then naive)
TYPES = (STR, INT, BOOL, BYTES, STRS, TIME)

# Hive kinds, as hive_kind() names them.
SYSTEM = "SYSTEM"
SOFTWARE = "SOFTWARE"
NTUSER = "NTUSER"
USRCLASS = "USRCLASS"
SAM = "SAM"
SECURITY = "SECURITY"
AMCACHE = "AMCACHE"
BCD = "BCD"
KINDS = (SYSTEM, SOFTWARE, NTUSER, USRCLASS, SAM, SECURITY, AMCACHE, BCD)


class Field(NamedTuple):
    name: str
    type: str
    meaning: str


# The fields most records share, written once.
KEY_PATH = Field("key_path", STR, "path of the key the record comes from, from the hive root")
KEY_LAST_WRITTEN = Field("key_last_written", TIME, "last written time of that key")
CONTROL_SET = Field("control_set", STR, "control set read (ControlSetNNN)")


class Context:
    """What one run of an extractor is given besides the hive: the options
    and the list its problems go to, each line prefixed with its name."""

    __slots__ = ("name", "problems", "all_control_sets")

    def __init__(self, name: str = "", problems: list[str] | None = None, all_control_sets: bool = False) -> None:
        self.name = name
        self.problems = [] if problems is None else problems
        self.all_control_sets = all_control_sets

    def problem(self, text: str) -> None:
        self.problems.append(f"{self.name}: {text}" if self.name else text)

    def at(self, path: str) -> Callable[[str], None]:
        """A problem reporter for the key at path: its lines start with it."""
        return lambda text: self.problem(f"{path}: {text}")


Run = Callable[[object, Context], Iterable[dict]]


class Extractor:
    """One artifact: its name (snake_case, part of the interface), the hive
    kinds it applies to, a one-line description, the ordered fields of its
    records, and the function that yields them."""

    __slots__ = ("name", "hive_kinds", "description", "fields", "field_names", "_run")

    def __init__(self, name: str, hive_kinds: Iterable[str], description: str, fields: Iterable[Field],
                 run: Run) -> None:
        self.name = name
        self.hive_kinds = tuple(hive_kinds)
        self.description = description
        self.fields = tuple(fields)
        self.field_names = tuple(field.name for field in self.fields)
        self._run = run

    def __repr__(self) -> str:
        return f"Extractor({self.name!r}, {'/'.join(self.hive_kinds)})"

    def applies_to(self, kind: str | None) -> bool:
        return kind in self.hive_kinds

    def extract(self, hive, problems: list[str] | None = None, *, all_control_sets: bool = False) -> Iterator[dict]:
        """Yields the records found in hive. Bad artifact data becomes a line
        in `problems` and the extractor goes on; a failing hive read (the
        orvane exception) ends this extractor, said in one line there too."""
        context = Context(self.name, problems, all_control_sets)
        try:
            yield from self._run(hive, context)
        except (OSError, ValueError) as failure:
            context.problem(f"reading stopped: {one_line(failure)}")
        except Exception as failure:  # a decoder fault must not cost the other extractors
            context.problem(f"stopped by an internal error: {type(failure).__name__}: {one_line(failure)}")


def one_line(error: BaseException) -> str:
    text = str(error).strip() or type(error).__name__
    return " ".join(text.splitlines())
