"""Saved sessions of the common SSH/SFTP clients and the histories of the
common archivers that keep them in the registry (NTUSER.DAT). Stored
passwords are never shown: only whether one is there."""

from __future__ import annotations

from collections.abc import Iterator
from urllib.parse import unquote

from orvane_artifacts.binary import utf16_list
from orvane_artifacts.framework import (
    INT, KEY_LAST_WRITTEN, KEY_PATH, NTUSER, STR, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, find, join, last_written, subkeys, text_of, type_id

PUTTY = "Software\\SimonTatham\\PuTTY"
WINSCP_SESSIONS = "Software\\Martin Prikryl\\WinSCP 2\\Sessions"
# File protocol numbers of the SFTP client's sessions.
WINSCP_PROTOCOLS = {0: "SCP", 1: "SFTP (SCP fallback)", 2: "SFTP", 5: "FTP", 6: "WebDAV", 7: "S3"}
# (archiver, key, value or None for numbered values): the lists kept.
ARCHIVER_LISTS = (
    ("7-Zip", "Software\\7-Zip\\Compression", "ArcHistory"),
    ("7-Zip", "Software\\7-Zip\\Extraction", "PathHistory"),
    ("7-Zip", "Software\\7-Zip\\FM", "FolderHistory"),
    ("7-Zip", "Software\\7-Zip\\FM", "CopyHistory"),
    ("WinRAR", "Software\\WinRAR\\ArcHistory", None),
    ("WinRAR", "Software\\WinRAR\\DialogEditHistory\\ArcName", None),
    ("WinRAR", "Software\\WinRAR\\DialogEditHistory\\ExtrPath", None),
)


def _putty(hive, context: Context) -> Iterator[dict]:
    sessions = join(PUTTY, "Sessions")
    for session in subkeys(find(hive, sessions)):
        values = Values(session)
        yield {"kind": "session", "session": unquote(session.name()), "host": values.text("HostName"),
               "port": values.number("PortNumber"), "protocol": values.text("Protocol"),
               "user_name": values.text("UserName"), "proxy_host": values.text("ProxyHost"), "key_type": None,
               "key_path": join(sessions, session.name()), "key_last_written": last_written(session)}
    host_keys = find(hive, join(PUTTY, "SshHostKeys"))
    if host_keys is None:
        return
    written = last_written(host_keys)
    for value in host_keys.values():
        # "ssh-ed25519@22:host": key type, port, host; the key itself is not shown.
        key_type, _, rest = value.name().partition("@")
        port, _, host = rest.partition(":")
        yield {"kind": "host_key", "session": None, "host": host or None,
               "port": int(port) if port.isdigit() else None, "protocol": "ssh", "user_name": None,
               "proxy_host": None, "key_type": key_type or None, "key_path": join(PUTTY, "SshHostKeys"),
               "key_last_written": written}


def _winscp(hive, context: Context) -> Iterator[dict]:
    for session in subkeys(find(hive, WINSCP_SESSIONS)):
        values = Values(session)
        protocol = values.number("FSProtocol")
        yield {"session": unquote(session.name()), "host": values.text("HostName"),
               "port": values.number("PortNumber"), "user_name": values.text("UserName"),
               "protocol": protocol, "protocol_name": WINSCP_PROTOCOLS.get(protocol) if protocol is not None else None,
               "password": "present" if "Password" in values else None,
               "key_path": join(WINSCP_SESSIONS, session.name()), "key_last_written": last_written(session)}


def _archivers(hive, context: Context) -> Iterator[dict]:
    for archiver, path, name in ARCHIVER_LISTS:
        key = find(hive, path)
        if key is None:
            continue
        written = last_written(key)
        if name is not None:
            value = Values(key).get(name)
            if value is None:
                continue
            entries = utf16_list(value.raw_data()) if type_id(value) in (3, 7) else [text_of(value) or ""]
            for position, entry in enumerate(entries):
                yield {"archiver": archiver, "list": name, "position": position, "path": entry,
                       "key_path": path, "key_last_written": written}
            continue
        numbered = sorted((int(v.name()), v) for v in key.values() if v.name().isdigit())
        for position, value in numbered:
            yield {"archiver": archiver, "list": path.rsplit("\\", 1)[-1], "position": position,
                   "path": text_of(value), "key_path": path, "key_last_written": written}


EXTRACTORS = (
    Extractor("putty_sessions", (NTUSER,), "the SSH client's saved sessions and known host keys", (
        Field("kind", STR, "session or host_key"),
        Field("session", STR, "the saved session's name (decoded from its key name)"),
        Field("host", STR, "host name"),
        Field("port", INT, "port"),
        Field("protocol", STR, "protocol (ssh, telnet, raw, serial, ...)"),
        Field("user_name", STR, "the user name saved with the session"),
        Field("proxy_host", STR, "the proxy host"),
        Field("key_type", STR, "a known host key's type (ssh-ed25519, rsa2, ...); the key itself is not shown"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _putty),
    Extractor("winscp_sessions", (NTUSER,), "the SFTP client's saved sessions (passwords never shown)", (
        Field("session", STR, "the saved session's name (decoded from its key name)"),
        Field("host", STR, "host name"),
        Field("port", INT, "port"),
        Field("user_name", STR, "user name"),
        Field("protocol", INT, "FSProtocol as stored"),
        Field("protocol_name", STR, "its meaning (SCP, SFTP, FTP, WebDAV, S3)"),
        Field("password", STR, "\"present\" when a password is stored, else None; never its contents"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _winscp),
    Extractor("archiver_history", (NTUSER,), "archives and folders in the common archivers' histories", (
        Field("archiver", STR, "which archiver keeps the list"),
        Field("list", STR, "the history (ArcHistory, PathHistory, ExtrPath, ...)"),
        Field("position", INT, "place in the list (0 = first stored, usually the most recent)"),
        Field("path", STR, "the archive or folder"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _archivers),
)
