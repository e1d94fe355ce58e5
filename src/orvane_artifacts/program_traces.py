"""Programs the user ran or installed for themselves: MUICache names and
the Windows Subsystem for Linux distributions (Lxss)."""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts.framework import (
    BOOL, INT, KEY_LAST_WRITTEN, KEY_PATH, NTUSER, STR, USRCLASS, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, find, join, last_written, subkeys, text_of

MUICACHE_KEYS = (
    "Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache",
    "Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache",
    "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache",
)
LXSS = "Software\\Microsoft\\Windows\\CurrentVersion\\Lxss"
_SUFFIXES = (".FriendlyAppName", ".ApplicationCompany")


def _muicache(hive, context: Context) -> Iterator[dict]:
    for path in MUICACHE_KEYS:
        key = find(hive, path)
        if key is None:
            continue
        written = last_written(key)
        for value in key.values():
            name = value.name()
            if name.startswith("@") or name.lower() == "langid":
                continue  # resource strings and the cache's language, not programs
            program, kind = name, "description"
            for suffix in _SUFFIXES:
                if name.endswith(suffix):
                    program, kind = name[:-len(suffix)], suffix[1:]
            yield {"program": program, "property": kind, "text": text_of(value), "value_name": name,
                   "key_path": path, "key_last_written": written}


def _wsl(hive, context: Context) -> Iterator[dict]:
    root = find(hive, LXSS)
    if root is None:
        return
    default = (Values(root).text("DefaultDistribution") or "").upper()
    for distribution in subkeys(root):
        values = Values(distribution)
        yield {"guid": distribution.name(), "name": values.text("DistributionName"),
               "base_path": values.text("BasePath"), "version": values.number("Version"),
               "state": values.number("State"), "default_uid": values.number("DefaultUid"),
               "package_family": values.text("PackageFamilyName"),
               "is_default": distribution.name().upper() == default,
               "key_path": join(LXSS, distribution.name()), "key_last_written": last_written(distribution)}


EXTRACTORS = (
    Extractor("muicache", (USRCLASS, NTUSER), "programs' display names cached by the shell (MUICache)", (
        Field("program", STR, "the program's path"),
        Field("property", STR, "FriendlyAppName, ApplicationCompany, or description (Windows XP)"),
        Field("text", STR, "the cached name"),
        Field("value_name", STR, "the value name as stored"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _muicache),
    Extractor("wsl", (NTUSER,), "Windows Subsystem for Linux distributions of this user (Lxss)", (
        Field("guid", STR, "the distribution's key name"),
        Field("name", STR, "DistributionName"),
        Field("base_path", STR, "BasePath: where its files are"),
        Field("version", INT, "Version (1 or 2)"),
        Field("state", INT, "State (1 installed)"),
        Field("default_uid", INT, "DefaultUid: the Linux user id it starts as"),
        Field("package_family", STR, "PackageFamilyName of the store package"),
        Field("is_default", BOOL, "whether Lxss DefaultDistribution names it"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _wsl),
)
