"""Boot configuration objects (BCD store): one record per object, the boot
manager's default and display order marked on the objects they name.

Objects\\{GUID}\\Description holds Type (the object type); element values
sit at Objects\\{GUID}\\Elements\\<8-hex element type>\\Element, stored by
the element's format (bits 24-27): REG_SZ strings and object GUIDs,
REG_MULTI_SZ object lists, binary device descriptors (kept raw).
"""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts.framework import (
    BOOL, BYTES, INT, KEY_LAST_WRITTEN, KEY_PATH, STR, BCD, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, find, last_written, subkeys

BOOT_MANAGER_TYPE = 0x10100002
DISPLAY_ORDER, DEFAULT = "24000001", "23000003"
DESCRIPTION, APP_PATH, APP_DEVICE = "12000004", "12000002", "11000001"
OS_DEVICE, SYSTEM_ROOT = "21000001", "22000002"
OBJECT_TYPES = {
    0x10100001: "firmware boot manager", 0x10100002: "boot manager", 0x10200003: "OS loader",
    0x10200004: "resume", 0x10200005: "memory tester", 0x10300006: "legacy loader", 0x10400008: "boot sector",
    0x10400009: "startup module", 0x101FFFFF: "firmware application", 0x30000000: "device options",
}
_KINDS = {1: "application", 2: "inheritable settings", 3: "device"}


def type_name(object_type: int | None) -> str | None:
    if object_type is None:
        return None
    return OBJECT_TYPES.get(object_type) or _KINDS.get(object_type >> 28, f"{object_type:#010x}")


def _element(objects_key, guid: str, element: str):
    return Values(child(objects_key, f"{guid}\\Elements\\{element}"))


def _extract(hive, context: Context) -> Iterator[dict]:
    objects = find(hive, "Objects")
    if objects is None:
        return
    keys = subkeys(objects)
    types = {key.name(): Values(child(key, "Description")).number("Type") for key in keys}
    default, order = None, []
    for guid, object_type in types.items():
        if object_type == BOOT_MANAGER_TYPE:
            default = _element(objects, guid, DEFAULT).text("Element")
            order = _element(objects, guid, DISPLAY_ORDER).strings("Element") or []
    lowered = [g.lower() for g in order]
    for key in keys:
        guid = key.name()
        elements = {element.name().lower(): Values(element) for element in subkeys(child(key, "Elements"))}

        def text(element: str) -> str | None:
            values = elements.get(element)
            return None if values is None else values.text("Element")

        def raw(element: str) -> bytes | None:
            values = elements.get(element)
            return None if values is None else values.raw("Element")

        yield {
            "guid": guid,
            "object_type": types[guid],
            "object_type_name": type_name(types[guid]),
            "description": text(DESCRIPTION),
            "path": text(APP_PATH),
            "device": raw(APP_DEVICE),
            "os_device": raw(OS_DEVICE),
            "system_root": text(SYSTEM_ROOT),
            "is_default": default is not None and default.lower() == guid.lower(),
            "display_position": lowered.index(guid.lower()) if guid.lower() in lowered else None,
            "key_path": f"Objects\\{guid}",
            "key_last_written": last_written(key),
        }


EXTRACTORS = (
    Extractor("boot_entries", (BCD,), "boot configuration objects: loaders, boot managers, their default and order", (
        Field("guid", STR, "the object's GUID (the key name)"),
        Field("object_type", INT, "the object type as stored (Description\\Type)"),
        Field("object_type_name", STR, "that type's name (OS loader, boot manager, ...)"),
        Field("description", STR, "element 12000004: the description shown"),
        Field("path", STR, "element 12000002: the application path"),
        Field("device", BYTES, "element 11000001: the application device descriptor, raw"),
        Field("os_device", BYTES, "element 21000001: the OS device descriptor, raw (OS loaders)"),
        Field("system_root", STR, "element 22000002: the system root (OS loaders)"),
        Field("is_default", BOOL, "the boot manager's default object"),
        Field("display_position", INT, "place in the boot manager's display order (None when not listed)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _extract),
)
