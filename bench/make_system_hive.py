#!/usr/bin/env python3
"""Writes a synthetic SYSTEM-shaped hive of about 43,000 keys for the
artifact benchmark: Select and one control set with 3,000 services (each
with a Parameters key), 3,000 USB and 1,000 USB storage instances with their
device-time properties, 5,000 class keys, a 1,024-entry Windows 10 cache,
network interfaces and 50 mounted devices.

    python bench/make_system_hive.py OUT
"""

from __future__ import annotations

import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))

from artifact_hives import binary, dword, text  # noqa: E402
from hive_builder import HiveBuilder, Key, Value  # noqa: E402

T = 132000000000000000
TIMES_GUID = "{83da6326-97a6-4088-9453-a1923f573b29}"


def device_instance(name: str, index: int) -> Key:
    props = Key(TIMES_GUID, [], [Key(pid, [Value("", 0xFFFF0010, struct.pack("<Q", T + index))])
                                 for pid in ("0064", "0065", "0066", "0067")])
    return Key(name, [text("FriendlyName", f"Device {index}"), text("DeviceDesc", "@usb.inf,%x%;USB"),
                      text("ContainerID", "{00000000-0000-0000-0000-000000000000}")],
               [Key("Properties", [], [props])])


def cache() -> bytes:
    entries = b""
    for i in range(1024):
        path = f"\\??\\C:\\Program Files\\App{i}\\app{i}.exe".encode("utf-16-le")
        body = struct.pack("<H", len(path)) + path + struct.pack("<QI", T + i, 4) + b"\0\0\0\1"
        entries += b"10ts" + struct.pack("<II", 0, len(body)) + body
    return struct.pack("<I", 0x34).ljust(0x24, b"\0") + struct.pack("<I", 1024).ljust(0x10, b"\0") + entries


def tree() -> Key:
    services = [Key(f"Service{i:04d}", [dword("Type", 0x10 if i % 2 else 1), dword("Start", i % 5),
                                        dword("ErrorControl", 1), text("ImagePath", f"C:\\svc\\s{i}.exe", 2),
                                        text("DisplayName", f"Service {i}"), text("ObjectName", "LocalSystem")],
                    [Key("Parameters", [text("ServiceDll", f"C:\\svc\\s{i}.dll", 2)])]) for i in range(3000)]
    services.append(Key("Tcpip", [], [Key("Parameters", [text("Hostname", "BENCH")], [
        Key("Interfaces", [], [Key(f"{{{i:08X}-0000-0000-0000-000000000000}}", [dword("EnableDHCP", 1),
                                   text("DhcpIPAddress", f"10.0.0.{i}")]) for i in range(20)])])]))
    usb = [Key(f"VID_{i:04X}&PID_{i:04X}", [], [device_instance(f"SERIAL{i:06d}", i)]) for i in range(3000)]
    usbstor = [Key(f"Disk&Ven_V{i}&Prod_P{i}&Rev_1.0", [], [device_instance(f"S{i:08d}&0", i)])
               for i in range(1000)]
    classes = [Key(f"{{{i:08X}-E325-11CE-BFC1-08002BE10318}}", [text("Class", f"C{i}")]) for i in range(5000)]
    control = Key("Control", [], [
        Key("Session Manager", [], [Key("AppCompatCache", [binary("AppCompatCache", cache())]),
                                    Key("Environment", [text("PROCESSOR_ARCHITECTURE", "AMD64")])]),
        Key("ComputerName", [], [Key("ComputerName", [text("ComputerName", "BENCH")])]),
        Key("TimeZoneInformation", [dword("Bias", 0xFFFFFFC4), text("TimeZoneKeyName", "W. Europe")]),
        Key("Windows", [binary("ShutdownTime", struct.pack("<Q", T))]),
        Key("Class", [], classes),
    ])
    control_set = Key("ControlSet001", [], [control, Key("Services", [], services),
                                            Key("Enum", [], [Key("USB", [], usb), Key("USBSTOR", [], usbstor)])])
    mounted = Key("MountedDevices", [binary(f"\\DosDevices\\{chr(67 + i % 20)}:{i}", struct.pack("<IQ", i, 1 << 20))
                                     for i in range(50)])
    select = Key("Select", [dword("Current", 1), dword("Default", 1)])
    return Key("ROOT", [], [select, control_set, mounted], list_kind="lh")


def main() -> None:
    builder = HiveBuilder()
    builder.tree(tree())
    Path(sys.argv[1]).write_bytes(builder.build())


if __name__ == "__main__":
    main()
