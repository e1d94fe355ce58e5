"""SAM and SECURITY extractors: the F and V records of builder accounts
(every V descriptor, V and F cut short, descriptors past the data), the
corpus SAM and SECURITY, and random bytes through the record decoders."""

from __future__ import annotations

import struct
import sys
from datetime import datetime, timezone

import orvane
import pytest
from artifact_hives import binary, hive_of, path_tree
from cli_runner import SRC
from hypothesis import given, settings
from hypothesis import strategies as st

sys.path.insert(0, str(SRC))

import orvane_artifacts  # noqa: E402
from orvane_artifacts import sam  # noqa: E402

UTC = timezone.utc
T1, T2 = 129393076800000000, 129400000000000000
TEXTS = {1: "alice", 2: "Alice Liddell", 3: "a comment", 6: "\\\\srv\\home", 9: "C:\\Users\\alice"}


def f_record(rid=1001, flags=0x0211, last_logon=T1, expires=0x7FFFFFFFFFFFFFFF) -> bytes:
    data = struct.pack("<I4xQQQQQIIH2xHHHH", 2, last_logon, 0, T2, expires, 0, rid, 513, flags, 0, 0, 3, 17)
    return data.ljust(80, b"\0")


def v_record(texts=TEXTS, hashes=(4, 20)) -> bytes:
    fields = {index: text.encode("utf-16-le") for index, text in texts.items()}
    fields[13], fields[14] = bytes(hashes[0]), bytes(hashes[1])
    table, body = b"", b""
    for index in range(17):
        data = fields.get(index, b"")
        table += struct.pack("<III", len(body), len(data), 0)
        body += data
    return table + body


def account_hive(f: bytes | None, v: bytes | None):
    values = [binary(name, data) for name, data in (("F", f), ("V", v)) if data is not None]
    machine = binary("V", bytes(40) + struct.pack("<3I", 11, 22, 33))
    return hive_of(path_tree("SAM\\Domains\\Account", [machine]),
                   path_tree("SAM\\Domains\\Account\\Users\\000003E9", values),
                   path_tree("SAM\\Domains\\Account\\Users\\Names\\alice"))


def users(open_tree, f, v):
    result = orvane_artifacts.extract(open_tree(account_hive(f, v)), ["sam_users"])
    return result.records["sam_users"], result.problems


def test_every_field_of_f_and_v(open_tree):
    [record], problems = users(open_tree, f_record(), v_record())
    assert problems == []
    assert (record["rid"], record["user_name"], record["full_name"], record["comment"],
            record["home_directory"], record["profile_path"]) == (1001, *TEXTS.values())
    assert record["sid"] == "S-1-5-21-11-22-33-1001"
    assert record["last_logon"] == datetime(2011, 1, 12, 12, 8, tzinfo=UTC)
    assert record["account_expires"] is None  # 0x7FFF... = never
    assert (record["logon_count"], record["failed_count"]) == (17, 3)
    assert record["account_flag_names"] == ["ACCOUNT_DISABLED", "NORMAL_ACCOUNT", "DONT_EXPIRE_PASSWORD"]
    assert (record["lm_hash_length"], record["nt_hash_length"]) == (4, 20)


@pytest.mark.parametrize("cut, kept, lost", [
    (10, ["user_name", "full_name", "comment", "home_directory", "profile_path"], []),  # only the NT hash
    (60, ["user_name", "full_name"], ["profile_path"]),
    (0x80, [], ["user_name"]),                                                           # inside the table
])
def test_v_cut_short_keeps_the_fields_still_there(open_tree, cut, kept, lost):
    [record], problems = users(open_tree, f_record(), v_record()[:-cut])
    assert problems and all("runs past the data" in line or "table needs" in line for line in problems)
    assert all(record[name] is not None for name in kept)
    assert all(record[name] is None for name in lost)
    assert record["last_logon"] is not None  # F still read


def test_descriptor_offset_past_the_data(open_tree):
    v = bytearray(v_record())
    struct.pack_into("<I", v, 12, 0xFFFFFF00)  # user name's offset
    [record], problems = users(open_tree, f_record(), bytes(v))
    assert record["user_name"] is None and record["full_name"] == TEXTS[2]
    assert problems == ["sam_users: SAM\\Domains\\Account\\Users\\000003E9: "
                        "user_name (descriptor 1) runs past the data"]


@pytest.mark.parametrize("f", [f_record()[:0x30], b""])
def test_f_cut_short(open_tree, f):
    [record], problems = users(open_tree, f, v_record())
    assert record["rid"] == 1001 and record["user_name"] == "alice" and record["last_logon"] is None
    assert problems == ["sam_users: SAM\\Domains\\Account\\Users\\000003E9: F record runs past the data"]


def test_corpus_sam_and_security(corpus_dir):
    # By hand: `orvane ls SAM SAM\Domains\Account\Users\000001F4` (F, V) and
    # `orvane ls SECURITY Policy\PolAcDmN`.
    result = orvane_artifacts.extract(orvane.Hive.open(str(corpus_dir / "SAM")))
    assert result.kind == "SAM" and result.problems == []
    admin = result.records["sam_users"][0]
    assert (admin["rid"], admin["user_name"], admin["logon_count"]) == (500, "Administrator", 6)
    assert admin["group_rids"] == ["544"] and "ACCOUNT_DISABLED" in admin["account_flag_names"]
    assert result.records["machine_sid"][0]["machine_sid"] == "S-1-5-21-1760460187-1592185332-161725925"
    security = orvane_artifacts.extract(orvane.Hive.open(str(corpus_dir / "SECURITY")))
    assert security.kind == "SECURITY"
    [record] = security.records["machine_sid"]
    assert (record["primary_domain"], record["account_domain"]) == ("WORKGROUP", "DESKTOP-M964FJN")
    assert record["machine_sid"] == "S-1-5-21-1786693902-1815088602-2777321892"


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=400))
def test_random_bytes_through_the_account_decoders(data):
    problems: list[str] = []
    sam.parse_v(data, problems)
    try:
        sam.parse_f(data)
    except sam.Overrun:
        pass
    sam._counted_text(data)
