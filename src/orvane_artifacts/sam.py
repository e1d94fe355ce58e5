"""Local accounts from the SAM hive (the fixed F record and the offset table
of the V record of each Users\\<RID> key), and the machine SID from SAM and
SECURITY.

F (80 bytes): FILETIMEs of last logon @0x08, password last set @0x18,
account expiry @0x20, last failed logon @0x28; RID @0x30, account control
flags @0x38, failed count @0x40, logon count @0x42. V: 17 descriptors of 12
bytes (offset, length, unknown), offsets counted from 0xCC where the data
starts; strings UTF-16LE without NUL. Hashes are reported by length only.
"""

from __future__ import annotations

import struct
from collections.abc import Iterator

from orvane_artifacts.binary import Overrun, Reader, filetime, flag_names, sid, utf16z
from orvane_artifacts.framework import (
    INT, KEY_LAST_WRITTEN, KEY_PATH, SAM, SECURITY, STR, STRS, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, find, join, last_written, subkeys

USERS = "SAM\\Domains\\Account\\Users"
ACCOUNT = "SAM\\Domains\\Account"
ALIASES = ("SAM\\Domains\\Builtin\\Aliases", "SAM\\Domains\\Account\\Aliases")
V_TABLE = 0xCC
V_FIELDS = 17
F_SIZE = 0x44
ACB_NAMES = {
    0x0001: "ACCOUNT_DISABLED", 0x0002: "HOME_DIRECTORY_REQUIRED", 0x0004: "PASSWORD_NOT_REQUIRED",
    0x0008: "TEMP_DUPLICATE_ACCOUNT", 0x0010: "NORMAL_ACCOUNT", 0x0020: "MNS_LOGON_ACCOUNT",
    0x0040: "INTERDOMAIN_TRUST_ACCOUNT", 0x0080: "WORKSTATION_TRUST_ACCOUNT", 0x0100: "SERVER_TRUST_ACCOUNT",
    0x0200: "DONT_EXPIRE_PASSWORD", 0x0400: "ACCOUNT_AUTO_LOCKED", 0x0800: "ENCRYPTED_TEXT_PASSWORD_ALLOWED",
    0x1000: "SMARTCARD_REQUIRED", 0x2000: "TRUSTED_FOR_DELEGATION", 0x4000: "NOT_DELEGATED",
    0x8000: "USE_DES_KEY_ONLY",
}
# V descriptor index of each text field.
V_TEXTS = {"user_name": 1, "full_name": 2, "comment": 3, "home_directory": 6, "profile_path": 9}


def parse_f(data: bytes) -> dict:
    """The F record's fields; Overrun when it is shorter than they need."""
    reader = Reader(data)
    reader.bytes(0, F_SIZE, "F record")
    last_logon, _, password_set, expires, failed_at = struct.unpack_from("<5Q", data, 8)
    rid, _, flags = struct.unpack_from("<IIH", data, 0x30)
    failed_count, logon_count = struct.unpack_from("<HH", data, 0x40)
    return {"rid": rid, "last_logon": last_logon, "password_last_set": password_set, "account_expires": expires,
            "last_failed_logon": failed_at, "flags": flags, "failed_count": failed_count, "logon_count": logon_count}


def parse_v(data: bytes, problems: list[str]) -> dict:
    """Texts and hash lengths from V; a descriptor past the data is one
    problem and its field None, the others still read."""
    out: dict = {name: None for name in V_TEXTS}
    out["lm_hash_length"] = out["nt_hash_length"] = None
    if len(data) < V_TABLE:
        problems.append(f"V holds {len(data)} bytes, its table needs {V_TABLE}")
    reader = Reader(data)
    wanted = {**{index: name for name, index in V_TEXTS.items()}, 13: "lm_hash_length", 14: "nt_hash_length"}
    for index, name in sorted(wanted.items()):
        try:
            offset = reader.u32(index * 12, f"descriptor {index}")
            length = reader.u32(index * 12 + 4, f"descriptor {index}")
            field = reader.bytes(V_TABLE + offset, length, f"{name.replace('_length', '')} (descriptor {index})")
        except Overrun as overrun:
            if len(data) >= V_TABLE:
                problems.append(str(overrun))
            continue
        out[name] = length if name.endswith("_length") else utf16z(field)
    return out


def _alias_members(hive) -> dict[str, list[int]]:
    """Member SID -> the RIDs of the aliases (local groups) listing it."""
    members: dict[str, list[int]] = {}
    for path in ALIASES:
        for alias in subkeys(find(hive, path)):
            data = Values(alias).raw("C")
            if not data or len(data) < 52:
                continue
            rid, = struct.unpack_from("<I", data, 0)
            offset, _, count = struct.unpack_from("<III", data, 40)
            at = 52 + offset
            for _ in range(min(count, 10_000)):
                text = sid(data, at)
                if text is None:
                    break
                members.setdefault(text, []).append(rid)
                at += 8 + 4 * data[at + 1]
    return members


def machine_sid_of(hive) -> str | None:
    data = Values(find(hive, ACCOUNT)).raw("V")
    if not data or len(data) < 12:
        return None
    return "S-1-5-21-" + "-".join(map(str, struct.unpack_from("<3I", data, len(data) - 12)))


def _sam_users(hive, context: Context) -> Iterator[dict]:
    users = find(hive, USERS)
    if users is None:
        return
    domain = machine_sid_of(hive)
    members = _alias_members(hive)
    for key in users.subkeys():
        if key.name().lower() == "names":
            continue
        values = Values(key)
        path = join(USERS, key.name())
        problems: list[str] = []
        f = None
        raw_f = values.raw("F")
        if raw_f is not None:
            try:
                f = parse_f(raw_f)
            except Overrun as overrun:
                problems.append(str(overrun))
        raw_v = values.raw("V")
        v = parse_v(raw_v, problems) if raw_v is not None else parse_v(b"", [])
        for line in problems:
            context.problem(f"{path}: {line}")
        try:
            rid = int(key.name(), 16)
        except ValueError:
            rid = f["rid"] if f else None
        flags = f["flags"] if f else None
        user_sid = f"{domain}-{rid}" if domain and rid is not None else None
        yield {
            "rid": rid,
            "user_name": v["user_name"],
            "full_name": v["full_name"],
            "comment": v["comment"],
            "home_directory": v["home_directory"],
            "profile_path": v["profile_path"],
            "sid": user_sid,
            "created": last_written(key),
            "last_logon": filetime(f["last_logon"]) if f else None,
            "password_last_set": filetime(f["password_last_set"]) if f else None,
            "account_expires": filetime(f["account_expires"]) if f else None,
            "last_failed_logon": filetime(f["last_failed_logon"]) if f else None,
            "logon_count": f["logon_count"] if f else None,
            "failed_count": f["failed_count"] if f else None,
            "account_flags": flags,
            "account_flag_names": flag_names(flags, ACB_NAMES) if flags is not None else None,
            "group_rids": [str(r) for r in sorted(members.get(user_sid, []))] if user_sid else [],
            "lm_hash_length": v["lm_hash_length"],
            "nt_hash_length": v["nt_hash_length"],
            "key_path": path,
            "key_last_written": last_written(key),
        }


def _counted_text(data: bytes | None) -> str | None:
    """A SECURITY name value: u16 length, u16 maximum, then (after 4 or 12
    bytes of buffer pointer) the UTF-16 text; the header is checked."""
    if not data or len(data) < 8:
        return None
    length = struct.unpack_from("<H", data)[0]
    for start in (8, 16):
        if start + length <= len(data):
            return utf16z(data[start:start + length])
    return None


def _machine_sid(hive, context: Context) -> Iterator[dict]:
    account = find(hive, ACCOUNT)
    if account is not None:
        yield {"source": "SAM", "machine_sid": machine_sid_of(hive), "primary_domain": None,
               "primary_domain_sid": None, "account_domain": None, "key_path": ACCOUNT,
               "key_last_written": last_written(account)}
    policy = find(hive, "Policy")
    if policy is None or account is not None:
        return

    def default(name: str) -> bytes | None:
        return Values(child(policy, name)).raw("")

    account_sid = default("PolAcDmS")
    primary_sid = default("PolPrDmS")
    yield {"source": "SECURITY", "machine_sid": sid(account_sid) if account_sid else None,
           "primary_domain": _counted_text(default("PolPrDmN")),
           "primary_domain_sid": sid(primary_sid) if primary_sid else None,
           "account_domain": _counted_text(default("PolAcDmN")), "key_path": "Policy",
           "key_last_written": last_written(policy)}


EXTRACTORS = (
    Extractor("sam_users", (SAM,), "local accounts: names, logon times and counts, account flags", (
        Field("rid", INT, "the account's relative ID (the key name, hex)"),
        Field("user_name", STR, "user name (V)"),
        Field("full_name", STR, "full name (V)"),
        Field("comment", STR, "comment (V)"),
        Field("home_directory", STR, "home directory (V)"),
        Field("profile_path", STR, "profile path (V)"),
        Field("sid", STR, "the account SID: machine SID and RID"),
        Field("created", TIME, "the account key's last written time (about its creation or last logon)"),
        Field("last_logon", TIME, "last logon (F)"),
        Field("password_last_set", TIME, "password last set (F)"),
        Field("account_expires", TIME, "account expiry (F; None = never)"),
        Field("last_failed_logon", TIME, "last failed logon (F)"),
        Field("logon_count", INT, "logons counted (F)"),
        Field("failed_count", INT, "failed logons counted (F)"),
        Field("account_flags", INT, "account control flags as stored (F)"),
        Field("account_flag_names", STRS, "the names of those flags (ACCOUNT_DISABLED, ...)"),
        Field("group_rids", STRS, "RIDs of the local groups listing the account"),
        Field("lm_hash_length", INT, "length of the stored LM hash (the hash itself is not reported)"),
        Field("nt_hash_length", INT, "length of the stored NT hash"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _sam_users),
    Extractor("machine_sid", (SAM, SECURITY), "the machine (account domain) SID; in SECURITY the primary domain", (
        Field("source", STR, "SAM or SECURITY"),
        Field("machine_sid", STR, "the account domain SID (S-1-5-21-a-b-c)"),
        Field("primary_domain", STR, "primary domain or workgroup name (SECURITY PolPrDmN)"),
        Field("primary_domain_sid", STR, "primary domain SID (SECURITY PolPrDmS; None in a workgroup)"),
        Field("account_domain", STR, "account domain name, the computer name (SECURITY PolAcDmN)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _machine_sid),
)
