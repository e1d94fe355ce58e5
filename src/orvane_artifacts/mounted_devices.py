"""MountedDevices (at the SYSTEM root, outside the control sets): one record
per drive letter or volume GUID, its data decoded by form.

12 bytes: an MBR disk signature and the partition's start in bytes. 24 bytes
beginning "DMIO:ID:": a GPT partition GUID. Anything else: the device path
as UTF-16 text (\\??\\USBSTOR#Disk&Ven_...#<serial>&0#{...}). The 12 and
24 byte forms are never read as text.
"""

from __future__ import annotations

import re
import struct
from collections.abc import Iterator
from typing import NamedTuple

from orvane_artifacts.binary import guid, utf16z
from orvane_artifacts.framework import (
    BYTES, INT, KEY_LAST_WRITTEN, KEY_PATH, STR, SYSTEM, Context, Extractor, Field,
)
from orvane_artifacts.keys import find, last_written

MOUNTED_DEVICES = "MountedDevices"
GPT_PREFIX = b"DMIO:ID:"
_LETTER = re.compile(r"\\DosDevices\\([A-Za-z]:)$", re.IGNORECASE)
_VOLUME = re.compile(r"\\\?\?\\Volume(\{[0-9A-Fa-f-]{36}\})$")


class Mount(NamedTuple):
    form: str                    # "mbr", "gpt", "device path" or "unknown"
    disk_signature: int | None
    partition_offset: int | None
    partition_guid: str | None
    device_path: str | None


def decode_mount(data: bytes) -> Mount:
    """The data of one MountedDevices value, by its form. Never raises."""
    if len(data) == 12:
        signature, offset = struct.unpack("<IQ", data)
        return Mount("mbr", signature, offset, None, None)
    if len(data) == 24 and data.startswith(GPT_PREFIX):
        return Mount("gpt", None, None, guid(data, 8), None)
    if data and len(data) % 2 == 0:
        return Mount("device path", None, None, None, utf16z(data))
    return Mount("unknown", None, None, None, None)


def _extract(hive, context: Context) -> Iterator[dict]:
    key = find(hive, MOUNTED_DEVICES)
    if key is None:
        return
    written = last_written(key)
    for value in key.values():
        name = value.name()
        letter = _LETTER.match(name)
        volume = _VOLUME.match(name)
        data = value.raw_data()
        mount = decode_mount(data)
        if mount.form == "unknown":
            context.problem(f"value {name!r}: {len(data)} bytes of no known form")
        yield {
            "name": name,
            "drive_letter": letter.group(1).upper() if letter else None,
            "volume_guid": volume.group(1).upper() if volume else None,
            "form": mount.form,
            "disk_signature": mount.disk_signature,
            "partition_offset": mount.partition_offset,
            "partition_guid": mount.partition_guid,
            "device_path": mount.device_path,
            "data": data,
            "key_path": MOUNTED_DEVICES,
            "key_last_written": written,
        }


EXTRACTORS = (
    Extractor("mounted_devices", (SYSTEM,), "drive letters and volume GUIDs with the disk or device behind them", (
        Field("name", STR, "the value name (\\DosDevices\\C: or \\??\\Volume{GUID})"),
        Field("drive_letter", STR, "the drive letter, for a \\DosDevices\\ name"),
        Field("volume_guid", STR, "the volume GUID, for a \\??\\Volume name"),
        Field("form", STR, "how the data was read: mbr, gpt, device path or unknown"),
        Field("disk_signature", INT, "MBR disk signature (mbr form)"),
        Field("partition_offset", INT, "partition start in bytes (mbr form)"),
        Field("partition_guid", STR, "GPT partition GUID (gpt form)"),
        Field("device_path", STR, "the device path text (device path form)"),
        Field("data", BYTES, "the value's data as stored"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _extract),
)
