"""Services and drivers: one record per Services\\<name> key that has a Type
(keys without one are parameter containers, not services)."""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts.binary import flag_names
from orvane_artifacts.control_sets import control_sets
from orvane_artifacts.framework import (
    CONTROL_SET, INT, KEY_LAST_WRITTEN, KEY_PATH, STR, STRS, SYSTEM, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, join, last_written, subkeys

SERVICES = "Services"

START_NAMES = {0: "SERVICE_BOOT_START", 1: "SERVICE_SYSTEM_START", 2: "SERVICE_AUTO_START",
               3: "SERVICE_DEMAND_START", 4: "SERVICE_DISABLED"}
TYPE_BITS = {0x1: "SERVICE_KERNEL_DRIVER", 0x2: "SERVICE_FILE_SYSTEM_DRIVER", 0x4: "SERVICE_ADAPTER",
             0x8: "SERVICE_RECOGNIZER_DRIVER", 0x10: "SERVICE_WIN32_OWN_PROCESS",
             0x20: "SERVICE_WIN32_SHARE_PROCESS", 0x40: "SERVICE_USER_SERVICE",
             0x80: "SERVICE_USERSERVICE_INSTANCE", 0x100: "SERVICE_INTERACTIVE_PROCESS"}
ERROR_CONTROL_NAMES = {0: "SERVICE_ERROR_IGNORE", 1: "SERVICE_ERROR_NORMAL", 2: "SERVICE_ERROR_SEVERE",
                       3: "SERVICE_ERROR_CRITICAL"}


def start_name(start: int | None, delayed: bool) -> str | None:
    if start is None:
        return None
    name = START_NAMES.get(start, f"{start:#x}")
    return f"{name} (delayed)" if start == 2 and delayed else name


def _extract(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        for key in subkeys(child(control_set, SERVICES)):
            values = Values(key)
            kind = values.number("Type")
            if kind is None:
                continue
            start = values.number("Start")
            error_control = values.number("ErrorControl")
            service_dll = values.text("ServiceDll")
            if service_dll is None:
                service_dll = Values(child(key, "Parameters")).text("ServiceDll")
            yield {
                "control_set": set_name,
                "name": key.name(),
                "display_name": values.text("DisplayName"),
                "type": kind,
                "type_names": flag_names(kind, TYPE_BITS),
                "start": start,
                "start_name": start_name(start, values.number("DelayedAutostart") == 1),
                "error_control": error_control,
                "error_control_name": None if error_control is None
                else ERROR_CONTROL_NAMES.get(error_control, f"{error_control:#x}"),
                "image_path": values.text("ImagePath"),
                "service_dll": service_dll,
                "object_name": values.text("ObjectName"),
                "group": values.text("Group"),
                "description": values.text("Description"),
                "key_path": join(set_name, SERVICES, key.name()),
                "key_last_written": last_written(key),
            }


EXTRACTORS = (
    Extractor("services", (SYSTEM,), "services and drivers: how they start and what they run", (
        CONTROL_SET,
        Field("name", STR, "the service's key name"),
        Field("display_name", STR, "DisplayName as stored (may be an @file,-NNN reference)"),
        Field("type", INT, "Type as stored (bits)"),
        Field("type_names", STRS, "the names of the Type bits set (SERVICE_KERNEL_DRIVER, ...)"),
        Field("start", INT, "Start as stored: 0 boot, 1 system, 2 automatic, 3 manual, 4 disabled"),
        Field("start_name", STR, "Start's name (SERVICE_AUTO_START, ...), '(delayed)' with DelayedAutostart"),
        Field("error_control", INT, "ErrorControl as stored"),
        Field("error_control_name", STR, "ErrorControl's name (SERVICE_ERROR_NORMAL, ...)"),
        Field("image_path", STR, "ImagePath, unexpanded"),
        Field("service_dll", STR, "ServiceDll, from the key or its Parameters subkey"),
        Field("object_name", STR, "the account it runs as (ObjectName)"),
        Field("group", STR, "the load order group"),
        Field("description", STR, "Description as stored"),
        KEY_PATH,
        Field("key_last_written", KEY_LAST_WRITTEN.type, "last written time of the service key (about its "
              "last configuration change)"),
    ), _extract),
)
