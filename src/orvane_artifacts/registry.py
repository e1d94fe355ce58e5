"""Where the extractors are listed: one module per artifact family, each
exposing EXTRACTORS, a tuple of Extractor. Adding a family is one module and
one line in the tuple of its group; `extractors()` imports the modules on
first use, in this order."""

from __future__ import annotations

import importlib

from orvane_artifacts.framework import Extractor

# System-wide artifacts: SYSTEM, SOFTWARE, SAM, SECURITY, Amcache, BCD.
SYSTEM_WIDE = (
    "control_sets",
    "system_identity",
    "system_settings",
    "network_interfaces",
    "services",
    "usb",
    "mounted_devices",
    "shimcache",
    "bam",
    "sam",
    "bcd",
    "software",
    "autostart",
    "amcache",
)

# User activity: NTUSER.DAT and UsrClass.dat.
USER_ACTIVITY = (
    "userassist",
    "shellbags",
    "recent_files",
    "typed_input",
    "network_use",
    "program_traces",
    "remote_tools",
)

_loaded: tuple[Extractor, ...] | None = None


def extractors() -> tuple[Extractor, ...]:
    global _loaded
    if _loaded is None:
        found: list[Extractor] = []
        for module in SYSTEM_WIDE + USER_ACTIVITY:
            found.extend(importlib.import_module(f"orvane_artifacts.{module}").EXTRACTORS)
        _loaded = tuple(found)
    return _loaded


def by_name() -> dict[str, Extractor]:
    return {extractor.name: extractor for extractor in extractors()}
