"""USB devices from SYSTEM's Enum tree: mass-storage instances (Enum\\USBSTOR)
and every USB device instance (Enum\\USB), with the times Windows keeps as
device properties.

The times live below the instance at Properties\\{83da6326-...}\\<pid>: on
8 and later as the key's default value, of registry type 0xFFFF0010 (a
device-property FILETIME); on 7 in a subkey 00000000 whose Data value holds
the FILETIME. Both forms are read. The fields are named after the
properties (0064 InstallDate, 0065 FirstInstallDate, 0066 LastArrivalDate,
0067 LastRemovalDate), not after the labels tools disagree on.
"""

from __future__ import annotations

import re
from collections.abc import Iterator

from orvane_artifacts.binary import filetime_at
from orvane_artifacts.control_sets import control_sets
from orvane_artifacts.framework import (
    CONTROL_SET, KEY_LAST_WRITTEN, KEY_PATH, STR, SYSTEM, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, join, last_written, subkeys

USBSTOR = "Enum\\USBSTOR"
USB = "Enum\\USB"
DEVICE_TIMES = "Properties\\{83da6326-97a6-4088-9453-a1923f573b29}"
TIME_PROPERTIES = (("install_date", "0064"), ("first_install_date", "0065"),
                   ("last_arrival_date", "0066"), ("last_removal_date", "0067"))
_SERIAL_SUFFIX = re.compile(r"&\d+$")
_VID_PID = re.compile(r"VID_([0-9A-Fa-f]{4})(?:&PID_([0-9A-Fa-f]{4}))?(?:&MI_([0-9A-Fa-f]{2}))?", re.IGNORECASE)


def serial_of(instance: str) -> str | None:
    """The device's serial number from its instance name, or None when
    Windows made the name up (a '&' as second character: no unique serial)."""
    if len(instance) > 1 and instance[1] == "&":
        return None
    return _SERIAL_SUFFIX.sub("", instance)


def _property_time(properties, pid: str, context: Context, where: str):
    key = child(properties, pid)
    if key is None:
        return None
    values = Values(key)
    raw = values.raw("")
    if raw is None:  # the Windows 7 form
        raw = Values(child(key, "00000000")).raw("Data")
    if raw is None:
        return None
    if len(raw) != 8:
        context.problem(f"{where}: property {pid} holds {len(raw)} bytes, not a FILETIME")
        return None
    return filetime_at(raw)[1]


def device_times(instance, context: Context, where: str) -> dict:
    properties = child(instance, DEVICE_TIMES)
    if properties is None:
        return {field: None for field, _ in TIME_PROPERTIES}
    return {field: _property_time(properties, pid, context, where) for field, pid in TIME_PROPERTIES}


def split_storage_id(name: str) -> dict:
    """Disk&Ven_<v>&Prod_<p>&Rev_<r> into its parts (any may be missing)."""
    parts = name.split("&")
    found = {"device_class": parts[0] or None, "vendor": None, "product": None, "revision": None}
    for part in parts[1:]:
        head, _, rest = part.partition("_")
        field = {"ven": "vendor", "prod": "product", "rev": "revision"}.get(head.lower())
        if field:
            found[field] = rest.replace("_", " ").strip() or None
    return found


def _usbstor(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        for device in subkeys(child(control_set, USBSTOR)):
            identity = split_storage_id(device.name())
            for instance in subkeys(device):
                values = Values(instance)
                path = join(set_name, USBSTOR, device.name(), instance.name())
                yield {
                    "control_set": set_name,
                    **identity,
                    "instance": instance.name(),
                    "serial": serial_of(instance.name()),
                    "friendly_name": values.text("FriendlyName"),
                    "device_desc": values.text("DeviceDesc"),
                    "parent_id_prefix": values.text("ParentIdPrefix"),
                    "container_id": values.text("ContainerID"),
                    **device_times(instance, context, path),
                    "key_path": path,
                    "key_last_written": last_written(instance),
                }


def _usb_devices(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        for device in subkeys(child(control_set, USB)):
            match = _VID_PID.match(device.name())
            vid, pid, interface = match.groups() if match else (None, None, None)
            for instance in subkeys(device):
                values = Values(instance)
                path = join(set_name, USB, device.name(), instance.name())
                yield {
                    "control_set": set_name,
                    "device": device.name(),
                    "vid": vid.upper() if vid else None,
                    "pid": pid.upper() if pid else None,
                    "interface": interface,
                    "instance": instance.name(),
                    "serial": serial_of(instance.name()),
                    "device_desc": values.text("DeviceDesc"),
                    "friendly_name": values.text("FriendlyName"),
                    "service": values.text("Service"),
                    "container_id": values.text("ContainerID"),
                    **device_times(instance, context, path),
                    "key_path": path,
                    "key_last_written": last_written(instance),
                }


_TIME_FIELDS = (
    Field("install_date", TIME, "device property 0064 InstallDate: the last driver install (often called first install)"),
    Field("first_install_date", TIME, "device property 0065 FirstInstallDate"),
    Field("last_arrival_date", TIME, "device property 0066 LastArrivalDate: last connected (8 and later)"),
    Field("last_removal_date", TIME, "device property 0067 LastRemovalDate: last removed (8 and later)"),
)

EXTRACTORS = (
    Extractor("usbstor", (SYSTEM,), "USB mass-storage device instances (Enum\\USBSTOR) and their times", (
        CONTROL_SET,
        Field("device_class", STR, "the class part of the device key name (Disk, CdRom, ...)"),
        Field("vendor", STR, "Ven_ part of the device key name"),
        Field("product", STR, "Prod_ part of the device key name"),
        Field("revision", STR, "Rev_ part of the device key name"),
        Field("instance", STR, "the instance key name"),
        Field("serial", STR, "serial number (the instance name without &N); None when Windows made it up"),
        Field("friendly_name", STR, "FriendlyName"),
        Field("device_desc", STR, "DeviceDesc as stored (may be an @file,-NNN reference)"),
        Field("parent_id_prefix", STR, "ParentIdPrefix (XP)"),
        Field("container_id", STR, "ContainerID, joining the device's other instances"),
        *_TIME_FIELDS,
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _usbstor),
    Extractor("usb_devices", (SYSTEM,), "USB device instances (Enum\\USB): VID, PID, serial and their times", (
        CONTROL_SET,
        Field("device", STR, "the device key name (VID_xxxx&PID_yyyy[&MI_nn])"),
        Field("vid", STR, "vendor ID, four hex digits"),
        Field("pid", STR, "product ID, four hex digits"),
        Field("interface", STR, "MI_ interface number of a composite device"),
        Field("instance", STR, "the instance key name"),
        Field("serial", STR, "serial number; None when Windows made the instance name up"),
        Field("device_desc", STR, "DeviceDesc as stored"),
        Field("friendly_name", STR, "FriendlyName"),
        Field("service", STR, "the driver service"),
        Field("container_id", STR, "ContainerID"),
        *_TIME_FIELDS,
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _usb_devices),
)
