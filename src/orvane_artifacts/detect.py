"""Which kind of hive this is, told from its own contents.

The root key's subkeys (and a few keys below them) identify every kind; the
base block's file name is only a hint for a hive whose root says too
little (it is often stale or empty).
"""

from __future__ import annotations

from orvane_artifacts.framework import AMCACHE, BCD, NTUSER, SAM, SECURITY, SOFTWARE, SYSTEM, USRCLASS
from orvane_artifacts.keys import find

_FILE_HINTS = (
    ("usrclass", USRCLASS), ("ntuser", NTUSER), ("amcache", AMCACHE), ("bcd", BCD),
    ("software", SOFTWARE), ("security", SECURITY), ("system", SYSTEM), ("sam", SAM),
)


def _root_names(hive) -> set[str]:
    try:
        return {key.name().lower() for key in hive.root_key().subkeys()}
    except (OSError, ValueError):
        return set()


def hive_kind(hive) -> str | None:
    """SYSTEM, SOFTWARE, NTUSER, USRCLASS, SAM, SECURITY, AMCACHE, BCD or None."""
    names = _root_names(hive)
    try:
        kind = _kind_from_names(hive, names)
    except (OSError, ValueError):
        kind = None
    return kind or _kind_from_file_name(hive)


def _kind_from_names(hive, names: set[str]) -> str | None:
    if "select" in names and any(name.startswith("controlset") for name in names):
        return SYSTEM
    if "objects" in names and "description" in names:
        return BCD
    if "policy" in names and ("rxact" in names or "cache" in names or "sam" in names):
        return SECURITY
    if "sam" in names and find(hive, "SAM\\Domains") is not None:
        return SAM
    if "root" in names and any(find(hive, f"Root\\{sub}") is not None
                               for sub in ("InventoryApplicationFile", "File", "Programs", "InventoryApplication")):
        return AMCACHE
    if "software" in names and ("control panel" in names or "environment" in names or "appevents" in names):
        return NTUSER
    if "local settings" in names or ("clsid" in names and any(name.startswith(".") for name in names)):
        return USRCLASS
    # Classes and WOW6432Node beside Microsoft only occur in SOFTWARE; they
    # still tell it when a damaged hive has lost CurrentVersion.
    if "microsoft" in names and ("classes" in names or "wow6432node" in names
                                 or find(hive, "Microsoft\\Windows NT\\CurrentVersion") is not None):
        return SOFTWARE
    if "select" in names or "mounteddevices" in names:
        return SYSTEM
    return None


def _kind_from_file_name(hive) -> str | None:
    try:
        name = hive.base_block().file_name.replace("/", "\\").rsplit("\\", 1)[-1].lower()
    except (OSError, ValueError):
        return None
    for hint, kind in _FILE_HINTS:
        if name.startswith(hint):
            return kind
    return None
