"""Settings of a SYSTEM hive that change what evidence exists or how to read
it: code pages, NTFS last-access updates, crash dumps, page files, the
processor, safe-boot services, WDigest, LSA packages, persistent routes,
backup and shadow-copy exclusions and renames pending for the next boot.
One record per setting (per list entry where entries mean different things).
"""

from __future__ import annotations

from collections.abc import Iterator
from typing import NamedTuple

from orvane_artifacts.control_sets import control_sets
from orvane_artifacts.framework import (
    CONTROL_SET, KEY_LAST_WRITTEN, KEY_PATH, STR, SYSTEM, Context, Extractor, Field,
)
from orvane_artifacts.keys import REG_MULTI_SZ, Values, child, describe, join, last_written, subkeys, type_id

CODE_PAGE = "Control\\Nls\\CodePage"
FILE_SYSTEM = "Control\\FileSystem"
CRASH_CONTROL = "Control\\CrashControl"
SESSION_MANAGER = "Control\\Session Manager"
MEMORY = "Control\\Session Manager\\Memory Management"
PREFETCH = "Control\\Session Manager\\Memory Management\\PrefetchParameters"
ENVIRONMENT = "Control\\Session Manager\\Environment"
SAFE_BOOT = "Control\\SafeBoot"
WDIGEST = "Control\\SecurityProviders\\WDigest"
LSA = "Control\\Lsa"
ROUTES = "Services\\Tcpip\\Parameters\\PersistentRoutes"
BACKUP_RESTORE = "Control\\BackupRestore"

CODE_PAGES = {
    437: "OEM United States", 737: "OEM Greek", 775: "OEM Baltic", 850: "OEM Western European",
    852: "OEM Central European", 855: "OEM Cyrillic", 857: "OEM Turkish", 866: "OEM Russian",
    874: "Thai", 932: "Japanese (Shift-JIS)", 936: "Simplified Chinese (GBK)", 949: "Korean",
    950: "Traditional Chinese (Big5)", 1250: "Central European", 1251: "Cyrillic", 1252: "Western European",
    1253: "Greek", 1254: "Turkish", 1255: "Hebrew", 1256: "Arabic", 1257: "Baltic", 1258: "Vietnamese",
    65001: "UTF-8",
}
# NtfsDisableLastAccessUpdate: bit 0 set = no updates; 10 1803 and later add
# the high bit and bit 1 (managed by the system rather than set by the user).
LAST_ACCESS = {
    0: "last-access times updated", 1: "last-access times not updated",
    0x80000000: "last-access times updated (set by the user)",
    0x80000001: "last-access times not updated (set by the user)",
    0x80000002: "last-access times updated (managed by the system)",
    0x80000003: "last-access times not updated (managed by the system)",
}
CRASH_DUMPS = {0: "no memory dump", 1: "complete memory dump", 2: "kernel memory dump",
               3: "small memory dump (minidump)", 7: "automatic memory dump"}
PREFETCHER = {0: "prefetching off", 1: "prefetching of applications", 2: "prefetching of boot",
              3: "prefetching of applications and boot"}
ARCHITECTURES = {"x86": "32-bit x86", "amd64": "64-bit x64", "ia64": "Itanium", "arm": "32-bit ARM",
                 "arm64": "64-bit ARM"}
LSA_PACKAGES = (
    ("lsa_security_packages", "Security Packages", "security support providers LSASS loads"),
    ("lsa_authentication_packages", "Authentication Packages", "authentication packages LSASS loads"),
    ("lsa_notification_packages", "Notification Packages", "password filters told of every password change"),
)
EXCLUSIONS = (
    ("FilesNotToSnapshot", "files_not_to_snapshot", "files left out of volume shadow copies"),
    ("FilesNotToBackup", "files_not_to_backup", "files left out of backups"),
    ("KeysNotToRestore", "keys_not_to_restore", "registry keys not restored from a backup"),
)
RENAMES = ("PendingFileRenameOperations", "PendingFileRenameOperations2")


class Place(NamedTuple):
    """One key of one control set, its values read once."""
    set_name: str
    path: str
    key: object
    values: Values
    context: Context

    def record(self, name: str, value: str | None, meaning: str | None, value_name: str | None,
               key=None, path: str | None = None) -> dict:
        return {"control_set": self.set_name, "name": name, "value": value, "meaning": meaning,
                "value_name": value_name, "key_path": path or self.path,
                "key_last_written": last_written(self.key if key is None else key)}

    def report(self, text: str) -> None:
        self.context.at(self.path)(text)


def _code_pages(place: Place) -> Iterator[dict]:
    for value_name, name in (("ACP", "ansi_code_page"), ("OEMCP", "oem_code_page")):
        number = place.values.number(value_name, place.report)
        if number is not None:
            yield place.record(name, str(number), CODE_PAGES.get(number), value_name)


def last_access_meaning(number: int) -> str:
    known = LAST_ACCESS.get(number)
    if known:
        return known
    return f"last-access times {'not ' if number & 1 else ''}updated (unknown form {number:#x})"


def _file_system(place: Place) -> Iterator[dict]:
    number = place.values.number("NtfsDisableLastAccessUpdate", place.report)
    if number is not None:
        shown = f"{number:#x}" if number > 3 else str(number)
        yield place.record("ntfs_last_access_updates", shown, last_access_meaning(number),
                           "NtfsDisableLastAccessUpdate")


def _crash_control(place: Place) -> Iterator[dict]:
    values = place.values
    kind = values.number("CrashDumpEnabled", place.report)
    if kind is not None:
        meaning = CRASH_DUMPS.get(kind, f"unknown dump type {kind}")
        if kind == 1 and values.number("FilterPages") == 1:
            meaning = "active memory dump"
        yield place.record("crash_dump", str(kind), meaning, "CrashDumpEnabled")
    for value_name, name, meaning in (("DumpFile", "crash_dump_file", "where a complete or kernel dump is written"),
                                      ("MinidumpDir", "minidump_directory", "where small dumps are written")):
        text = values.text(value_name, place.report)
        if text is not None:
            yield place.record(name, text, meaning, value_name)


def page_file_meaning(entry: str) -> str:
    """A PagingFiles entry: "C:\\pagefile.sys 1024 2048" (initial and maximum
    MB), "... 0 0" or no sizes (sized by the system), "?:\\..." (every drive)."""
    parts = entry.split()
    sizes = parts[-2:] if len(parts) >= 3 and all(p.isdigit() for p in parts[-2:]) else None
    if entry.startswith("?:"):
        return "page files on any drive, managed by the system"
    if sizes is None or sizes == ["0", "0"]:
        return "page file sized by the system"
    return f"page file of {sizes[0]} MB initially, {sizes[1]} MB at most"


def _memory(place: Place) -> Iterator[dict]:
    values = place.values
    for entry in values.strings("PagingFiles", place.report) or []:
        yield place.record("page_file", entry, page_file_meaning(entry), "PagingFiles")
    for entry in values.strings("ExistingPageFiles", place.report) or []:
        yield place.record("existing_page_file", entry, "page file in use at the last boot", "ExistingPageFiles")
    clear = values.flag("ClearPageFileAtShutdown", place.report)
    if clear is not None:
        yield place.record("clear_page_file_at_shutdown", str(int(clear)),
                           "page file wiped at shutdown" if clear else "page file left as it was at shutdown",
                           "ClearPageFileAtShutdown")


def _prefetch(place: Place) -> Iterator[dict]:
    number = place.values.number("EnablePrefetcher", place.report)
    if number is not None:
        yield place.record("prefetcher", str(number), PREFETCHER.get(number, f"unknown setting {number}"),
                           "EnablePrefetcher")


def _environment(place: Place) -> Iterator[dict]:
    values = place.values
    architecture = values.text("PROCESSOR_ARCHITECTURE", place.report)
    if architecture is not None:
        yield place.record("processor_architecture", architecture, ARCHITECTURES.get(architecture.lower()),
                           "PROCESSOR_ARCHITECTURE")
    count = values.number("NUMBER_OF_PROCESSORS", place.report)
    if count is not None:
        yield place.record("processor_count", str(count), "logical processors", "NUMBER_OF_PROCESSORS")
    identifier = values.text("PROCESSOR_IDENTIFIER", place.report)
    if identifier is not None:
        yield place.record("processor_identifier", identifier, "processor family, model and maker",
                           "PROCESSOR_IDENTIFIER")


def _safe_boot(place: Place) -> Iterator[dict]:
    shell = place.values.text("AlternateShell", place.report)
    if shell is not None:
        yield place.record("safe_boot_alternate_shell", shell, "the shell of safe mode with command prompt",
                           "AlternateShell")
    for mode in ("Minimal", "Network"):
        for entry in subkeys(child(place.key, mode)):
            kind = Values(entry).text("")
            meaning = f"started in safe mode{' with networking' if mode == 'Network' else ''}"
            yield place.record(f"safe_boot_{mode.lower()}", entry.name(), f"{meaning} ({kind})" if kind else meaning,
                               None, key=entry, path=join(place.path, mode, entry.name()))


def _wdigest(place: Place) -> Iterator[dict]:
    number = place.values.number("UseLogonCredential", place.report)
    if number is not None:
        yield place.record("wdigest_use_logon_credential", str(number),
                           "clear-text passwords kept in LSASS memory" if number else
                           "no clear-text passwords kept in LSASS memory", "UseLogonCredential")


def _lsa(place: Place) -> Iterator[dict]:
    for name, value_name, meaning in LSA_PACKAGES:
        packages = place.values.strings(value_name, place.report)
        if packages is not None:
            yield place.record(name, "; ".join(packages), meaning, value_name)


def route_meaning(route: str) -> str | None:
    """A PersistentRoutes value name: destination,mask,gateway,metric."""
    parts = route.split(",")
    if len(parts) != 4 or not all(parts):
        return None
    destination, mask, gateway, metric = parts
    return f"to {destination} mask {mask} via {gateway}, " + (
        "automatic metric" if metric == "-1" else f"metric {metric}")


def _routes(place: Place) -> Iterator[dict]:
    for route in place.values.names():
        meaning = route_meaning(route)
        if meaning is None:
            place.report(f"route {route!r} is not destination,mask,gateway,metric")
        yield place.record("persistent_route", route, meaning, route)


def _exclusions(place: Place) -> Iterator[dict]:
    for subkey, name, meaning in EXCLUSIONS:
        key = child(place.key, subkey)
        if key is None:
            continue
        rule = Place(place.set_name, join(place.path, subkey), key, Values(key), place.context)
        for value_name in rule.values.names():
            entries = rule.values.strings(value_name, rule.report)
            if entries is not None:
                yield rule.record(name, "; ".join(entries), meaning, value_name)


def rename_pairs(data: bytes) -> tuple[list[tuple[str, str | None]], list[str]]:
    """PendingFileRenameOperations: source and target in turn, NUL separated.
    An empty target means "delete", so the list ends at an empty source, not
    at the first empty string. A source without its target is a problem."""
    text = data[:len(data) & ~1].decode("utf-16-le", "replace")
    # Each string ends with a NUL and the list with one more (which may be
    # missing): only then do the trailing empty strings stand for nothing.
    parts = text.split("\0")
    parts = parts[:-2] if text.endswith("\0\0") else parts[:-1] if text.endswith("\0") else parts
    pairs: list[tuple[str, str | None]] = []
    problems: list[str] = []
    for at in range(0, len(parts), 2):
        source = parts[at]
        if not source:
            break
        if at + 1 == len(parts):
            problems.append(f"{source!r} has no target")
            pairs.append((source, None))
            break
        pairs.append((source, parts[at + 1]))
    return pairs, problems


def rename_meaning(target: str | None) -> str | None:
    if target is None:
        return None
    if not target:
        return "deleted at the next boot"
    # "!" in front: the target may be replaced if it exists
    replace = target.startswith("!")
    return f"moved to {target[1:] if replace else target} at the next boot" + (
        " (replacing a file there)" if replace else "")


def _session_manager(place: Place) -> Iterator[dict]:
    for value_name in RENAMES:
        value = place.values.get(value_name)
        if value is None:
            continue
        if type_id(value) != REG_MULTI_SZ:
            place.report(f"{describe(value)}, not a list of strings")
            continue
        pairs, problems = rename_pairs(value.raw_data())
        for line in problems:
            place.report(f"{value_name}: {line}")
        for source, target in pairs:
            yield place.record("pending_file_rename", source, rename_meaning(target), value_name)


READERS = (
    (CODE_PAGE, _code_pages), (FILE_SYSTEM, _file_system), (CRASH_CONTROL, _crash_control),
    (MEMORY, _memory), (PREFETCH, _prefetch), (ENVIRONMENT, _environment), (SAFE_BOOT, _safe_boot),
    (WDIGEST, _wdigest), (LSA, _lsa), (ROUTES, _routes), (BACKUP_RESTORE, _exclusions),
    (SESSION_MANAGER, _session_manager),
)


def _extract(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        for path, read in READERS:
            key = child(control_set, path)
            if key is not None:
                yield from read(Place(set_name, join(set_name, path), key, Values(key), context))


EXTRACTORS = (
    Extractor("system_settings", (SYSTEM,), "settings that shape the evidence: dumps, page files, last access, "
              "LSA, safe boot, exclusions, pending renames", (
                  CONTROL_SET,
                  Field("name", STR, "the setting: ansi_code_page, ntfs_last_access_updates, crash_dump, page_file, "
                        "processor_architecture, safe_boot_minimal, wdigest_use_logon_credential, "
                        "lsa_security_packages, persistent_route, files_not_to_snapshot, pending_file_rename, ..."),
                  Field("value", STR, "the value as stored, as text (lists joined by '; '; a safe-boot entry's "
                        "key name; a rename's source path)"),
                  Field("meaning", STR, "what the value means (None when not known)"),
                  Field("value_name", STR, "the registry value read (None for a safe-boot entry's key)"),
                  KEY_PATH, KEY_LAST_WRITTEN,
              ), _extract),
)
