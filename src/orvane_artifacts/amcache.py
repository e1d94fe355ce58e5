"""Files and programs recorded in Amcache.hve, in both layouts (a hive may
hold both): Windows 10 and later Root\\InventoryApplicationFile and
Root\\InventoryApplication with named values; the older Root\\File\\{volume
GUID}\\<file reference> and Root\\Programs whose value names are short hex
numbers (0 product, 1 company, 5 version, 6 size, f link time, 11 last
modified, 15 path, 100 program ID, 101 SHA-1 ...). Entries prove a file was
there, not that it ran.
"""

from __future__ import annotations

from collections.abc import Iterator
from datetime import datetime, timezone

from orvane_artifacts.binary import filetime, unix_time
from orvane_artifacts.framework import AMCACHE, INT, KEY_LAST_WRITTEN, KEY_PATH, STR, TIME, Context, Extractor, Field
from orvane_artifacts.keys import Report, Values, entries, find, join, last_written, subkeys

INVENTORY_FILES = "Root\\InventoryApplicationFile"
OLD_FILES = "Root\\File"
INVENTORY_PROGRAMS = "Root\\InventoryApplication"
OLD_PROGRAMS = "Root\\Programs"
_TEXT_TIME_FORMATS = ("%m/%d/%Y %H:%M:%S", "%m/%d/%Y")


def _text(values: Values, name: str, report: Report) -> str | None:
    # Amcache writes every value of a record, empty when it has nothing to say.
    return values.text(name, report) or None


def sha1_of(file_id: str | None, report: Report, name: str) -> str | None:
    """FileId / 101: "0000" and the SHA-1 in 40 hex digits (of the first
    31,457,280 bytes for bigger files); lower case, without the 0000."""
    if not file_id:
        return None
    text = file_id.strip().lower()
    if len(text) == 44 and text.startswith("0000"):
        text = text[4:]
    if len(text) != 40 or any(c not in "0123456789abcdef" for c in text):
        report(f"{name} {file_id!r} is not 0000 and a SHA-1")
        return None
    return text


def text_time(text: str | None, report: Report, name: str) -> datetime | None:
    """The MM/DD/YYYY HH:MM:SS texts of the Inventory keys, as UTC; an empty
    text is no time, any other form a problem."""
    if text is None or not text.strip():
        return None
    for form in _TEXT_TIME_FORMATS:
        try:
            return datetime.strptime(text.strip(), form).replace(tzinfo=timezone.utc)
        except ValueError:
            continue
    report(f"{name} {text!r} is not MM/DD/YYYY HH:MM:SS")
    return None


def _file(layout, key, key_path, path, sha1, size, product, publisher, version, link_date, last_modified,
          program_id, volume_guid, file_reference) -> dict:
    return {"layout": layout, "path": path, "sha1": sha1, "size": size, "product": product, "publisher": publisher,
            "version": version, "link_date": link_date, "last_modified": last_modified, "program_id": program_id,
            "volume_guid": volume_guid, "file_reference": file_reference, "key_path": key_path,
            "key_last_written": last_written(key)}


def _inventory_files(hive, context: Context) -> Iterator[dict]:
    for key, key_path, values, report in entries(hive, INVENTORY_FILES, context):
        yield _file("InventoryApplicationFile", key, key_path, _text(values, "LowerCaseLongPath", report),
                    sha1_of(_text(values, "FileId", report), report, "FileId"), values.number("Size", report),
                    _text(values, "ProductName", report), _text(values, "Publisher", report),
                    _text(values, "Version", report) or _text(values, "ProductVersion", report),
                    text_time(_text(values, "LinkDate", report), report, "LinkDate"), None,
                    _text(values, "ProgramId", report), None, None)


def _old_files(hive, context: Context) -> Iterator[dict]:
    for volume in subkeys(find(hive, OLD_FILES)):
        for key, key_path, values, report in entries(hive, join(OLD_FILES, volume.name()), context):
            modified = values.number("11", report)
            if modified is None:
                modified = values.number("17", report)
            yield _file("File", key, key_path, _text(values, "15", report),
                        sha1_of(_text(values, "101", report), report, "101"), values.number("6", report),
                        _text(values, "0", report), _text(values, "1", report),
                        _text(values, "5", report) or _text(values, "2", report),
                        unix_time(values.number("f", report)), filetime(modified), _text(values, "100", report),
                        volume.name(), key.name())


def _files(hive, context: Context) -> Iterator[dict]:
    yield from _inventory_files(hive, context)
    yield from _old_files(hive, context)


def _program(layout, key, key_path, name, version, publisher, install_date, source, root_directory,
             uninstall_string) -> dict:
    return {"layout": layout, "program_id": key.name(), "name": name, "version": version, "publisher": publisher,
            "install_date": install_date, "source": source, "root_directory": root_directory,
            "uninstall_string": uninstall_string, "key_path": key_path, "key_last_written": last_written(key)}


def _programs(hive, context: Context) -> Iterator[dict]:
    for key, key_path, values, report in entries(hive, INVENTORY_PROGRAMS, context):
        yield _program("InventoryApplication", key, key_path, _text(values, "Name", report),
                       _text(values, "Version", report), _text(values, "Publisher", report),
                       text_time(_text(values, "InstallDate", report), report, "InstallDate"),
                       _text(values, "Source", report), _text(values, "RootDirPath", report),
                       _text(values, "UninstallString", report))
    for key, key_path, values, report in entries(hive, OLD_PROGRAMS, context):
        installed = values.number("a", report)  # a QWORD whose low 32 bits are Unix seconds
        folders = values.strings("d", report)
        yield _program("Programs", key, key_path, _text(values, "0", report), _text(values, "1", report),
                       _text(values, "2", report), None if installed is None else unix_time(installed & 0xFFFFFFFF),
                       _text(values, "6", report), "; ".join(folders) if folders else None, None)


EXTRACTORS = (
    Extractor("amcache_files", (AMCACHE,), "files Amcache recorded: path, SHA-1, size, version, link time", (
        Field("layout", STR, "InventoryApplicationFile (10 and later) or File (8 and early 10)"),
        Field("path", STR, "the file's full path (lower case in InventoryApplicationFile)"),
        Field("sha1", STR, "SHA-1 of the file (of its first 30 MiB when bigger), the stored 0000 removed"),
        Field("size", INT, "file size in bytes"),
        Field("product", STR, "product name from the file's version resource"),
        Field("publisher", STR, "publisher / company"),
        Field("version", STR, "file version"),
        Field("link_date", TIME, "the PE header's link time"),
        Field("last_modified", TIME, "the file's last-modified time (File layout only)"),
        Field("program_id", STR, "the program entry it belongs to (amcache_programs program_id)"),
        Field("volume_guid", STR, "the volume GUID key it is listed under (File layout)"),
        Field("file_reference", STR, "the key name: the NTFS file reference in hex (File layout)"),
        KEY_PATH,
        Field("key_last_written", TIME, "last written time of the entry's key (when it was recorded or "
              "refreshed)"),
    ), _files),
    Extractor("amcache_programs", (AMCACHE,), "programs Amcache recorded: name, version, publisher, install date", (
        Field("layout", STR, "InventoryApplication (10 and later) or Programs (8 and early 10)"),
        Field("program_id", STR, "the key name, which file entries name as their program_id"),
        Field("name", STR, "program name"),
        Field("version", STR, "program version"),
        Field("publisher", STR, "publisher"),
        Field("install_date", TIME, "install date (InstallDate text read as UTC; Programs: Unix seconds)"),
        Field("source", STR, "where it was found: AddRemoveProgram, AppxPackage, Msi, ..."),
        Field("root_directory", STR, "the program's folder (Programs: its folders joined by '; ')"),
        Field("uninstall_string", STR, "UninstallString (InventoryApplication)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _programs),
)
