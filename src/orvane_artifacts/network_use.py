"""Drives, shares and servers the user used: mapped network drives and
their MRU, MountPoints2 volumes and shares, and the remote desktop client's
history (NTUSER.DAT)."""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts.framework import (
    INT, KEY_LAST_WRITTEN, KEY_PATH, NTUSER, STR, STRS, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, find, join, last_written, subkeys, text_of
from orvane_artifacts.mru import MRU_LIST, ordered_values

EXPLORER = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer"
NETWORK = "Network"
MAP_DRIVE_MRU = f"{EXPLORER}\\Map Network Drive MRU"
MOUNT_POINTS2 = f"{EXPLORER}\\MountPoints2"
RDP_CLIENT = "Software\\Microsoft\\Terminal Server Client"


def _mapped_drives(hive, context: Context) -> Iterator[dict]:
    for drive in subkeys(find(hive, NETWORK)):
        values = Values(drive)
        yield {"source": "Network", "drive": f"{drive.name().upper()}:", "remote_path": values.text("RemotePath"),
               "user_name": values.text("UserName"), "provider_name": values.text("ProviderName"),
               "provider_type": values.number("ProviderType"), "connection_type": values.number("ConnectionType"),
               "mru_position": None, "key_path": join(NETWORK, drive.name()), "key_last_written": last_written(drive)}
    key = find(hive, MAP_DRIVE_MRU)
    if key is None:
        return
    written = last_written(key)
    for value, position in ordered_values(key, context.problem, MAP_DRIVE_MRU, order_value=MRU_LIST):
        yield {"source": "Map Network Drive MRU", "drive": None, "remote_path": text_of(value), "user_name": None,
               "provider_name": None, "provider_type": None, "connection_type": None, "mru_position": position,
               "key_path": MAP_DRIVE_MRU, "key_last_written": written}


def _mount_points2(hive, context: Context) -> Iterator[dict]:
    for point in subkeys(find(hive, MOUNT_POINTS2)):
        name = point.name()
        values = Values(point)
        guid = name if name.startswith("{") and name.endswith("}") else None
        remote = name.replace("#", "\\") if name.startswith("##") else None
        # Shell\<verb>\command below a volume: autorun entries the volume set.
        commands = []
        for verb in subkeys(child(point, "Shell")):
            found = Values(child(verb, "command"))
            # The default value: orvane names it "(default)".
            command = found.text("(default)") if "(default)" in found else found.text("")
            if command is not None:
                commands.append(f"{verb.name()}: {command}")
        yield {"name": name, "volume_guid": guid, "remote_path": remote,
               "label": values.text("_LabelFromReg") or values.text("_LabelFromDesktopINI"),
               "base_class": values.text("BaseClass"), "commands": commands,
               "key_path": join(MOUNT_POINTS2, name), "key_last_written": last_written(point)}


def _rdp_history(hive, context: Context) -> Iterator[dict]:
    default = find(hive, join(RDP_CLIENT, "Default"))
    if default is not None:
        written = last_written(default)
        entries = []
        for value in default.values():
            name = value.name()
            if name.upper().startswith("MRU") and name[3:].isdigit():
                entries.append((int(name[3:]), value))
        for number, value in sorted(entries, key=lambda pair: pair[0]):
            yield {"source": "Default", "server": text_of(value), "mru_position": number, "username_hint": None,
                   "key_path": join(RDP_CLIENT, "Default"), "key_last_written": written}
    for server in subkeys(find(hive, join(RDP_CLIENT, "Servers"))):
        yield {"source": "Servers", "server": server.name(), "mru_position": None,
               "username_hint": Values(server).text("UsernameHint"),
               "key_path": join(RDP_CLIENT, "Servers", server.name()), "key_last_written": last_written(server)}


EXTRACTORS = (
    Extractor("mapped_drives", (NTUSER,), "persistent network drive mappings and the Map Network Drive MRU", (
        Field("source", STR, "Network (a persistent mapping) or Map Network Drive MRU"),
        Field("drive", STR, "the drive letter of a mapping"),
        Field("remote_path", STR, "the share (\\\\server\\share)"),
        Field("user_name", STR, "the user name the mapping connects as"),
        Field("provider_name", STR, "the network provider"),
        Field("provider_type", INT, "the provider type (0x20000 LanMan)"),
        Field("connection_type", INT, "1 drive, 2 printer"),
        Field("mru_position", INT, "place in the MRUList (0 = most recent)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _mapped_drives),
    Extractor("mount_points2", (NTUSER,), "volumes and shares this user had mounted (MountPoints2)", (
        Field("name", STR, "the subkey name: a volume GUID, a drive letter or ##server#share"),
        Field("volume_guid", STR, "the volume GUID (joins SYSTEM MountedDevices)"),
        Field("remote_path", STR, "the share as \\\\server\\share"),
        Field("label", STR, "_LabelFromReg or _LabelFromDesktopINI"),
        Field("base_class", STR, "BaseClass (Drive, ...)"),
        Field("commands", STRS, "Shell\\<verb>\\command entries, as verb: command (autorun)"),
        KEY_PATH,
        Field("key_last_written", "datetime", "last written time: about the last time this user had it mounted"),
    ), _mount_points2),
    Extractor("rdp_history", (NTUSER,), "servers the remote desktop client connected to", (
        Field("source", STR, "Default (the MRU list) or Servers (one key per server)"),
        Field("server", STR, "host[:port]"),
        Field("mru_position", INT, "N of the MRUN value (0 = most recent)"),
        Field("username_hint", STR, "the user name last used for the server"),
        KEY_PATH,
        Field("key_last_written", "datetime", "last written time (for Servers: about the last connection)"),
    ), _rdp_history),
)
