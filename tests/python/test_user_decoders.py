"""The binary decoders of the user-activity artifacts: UserAssist names and
records, MRU orders, and the values that hold a name and a shell item."""

from __future__ import annotations

import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import shell_item_builder as sib
from orvane_artifacts import mru, user_values
from orvane_artifacts import userassist_data as ua

LAST_RUN = 132_000_000_000_000_000


def old_record(session: int, stored_runs: int, last_run: int) -> bytes:
    return struct.pack("<IIQ", session, stored_runs, last_run)


def new_record(runs: int, focus: int, focus_ms: int, last_run: int) -> bytes:
    return struct.pack("<IIII", 0xFFFFFFFF, runs, focus, focus_ms) + struct.pack("<10f", *[-1.0] * 10) + \
        struct.pack("<IQI", 0xFFFFFFFF, last_run, 0)


@pytest.mark.parametrize("data, version, expected, problem", [
    (old_record(7, 6, LAST_RUN), None, ua.Counts(3, 7, 1, None, None, LAST_RUN), False),
    (old_record(1, 3, 0), None, ua.Counts(3, 1, 0, None, None, 0), False),  # counts below 5 are no runs
    (new_record(4, 9, 61_000, LAST_RUN), None, ua.Counts(5, None, 4, 9, 61_000, LAST_RUN), False),
    # Cut short: the fields that are there, and a problem.
    (new_record(4, 9, 61_000, LAST_RUN)[:40], 5, ua.Counts(5, None, 4, 9, 61_000, None), True),
    (old_record(7, 8, LAST_RUN)[:10], 3, ua.Counts(3, 7, 3, None, None, None), True),
    (b"\x01\x02\x03", None, ua.Counts(None, None, None, None, None, None), True),
])
def test_userassist_counts(data, version, expected, problem):
    counts, text = ua.decode_counts(data, version)
    assert counts == expected
    assert (text is not None) == problem


@pytest.mark.parametrize("stored, decoded, expanded", [
    ("P:\\Jvaqbjf\\abgrcnq.rkr", "C:\\Windows\\notepad.exe", "C:\\Windows\\notepad.exe"),
    # The GUID is decoded before it is looked up: {S38OS404-...} is Windows.
    ("{S38OS404-1Q43-42S2-9305-67QR0O28SP23}\\ertrqvg.rkr", "{F38BF404-1D43-42F2-9305-67DE0B28FC23}\\regedit.exe",
     "Windows\\regedit.exe"),
    ("{01234567-89NO-PQRS-0123-456789NOPQRS}\\k.rkr", "{01234567-89AB-CDEF-0123-456789ABCDEF}\\x.exe",
     "{01234567-89AB-CDEF-0123-456789ABCDEF}\\x.exe"),
    ("HRZR_PGYFRFFVBA", "UEME_CTLSESSION", "UEME_CTLSESSION"),
    ("Ñ123-_.", "Ñ123-_.", "Ñ123-_."),  # only ASCII letters rotate
])
def test_userassist_names(stored, decoded, expanded):
    assert ua.rot13(stored) == decoded
    assert ua.expand_known_folders(decoded) == expanded


def u32s(*numbers: int) -> bytes:
    return struct.pack(f"<{len(numbers)}I", *numbers)


@pytest.mark.parametrize("data, names, problems", [
    (u32s(2, 0, 1, 0xFFFFFFFF), ["2", "0", "1"], []),
    (u32s(0xFFFFFFFF), [], []),
    (u32s(1, 0xFFFFFFFF) + b"leftover", ["1"], []),
    (u32s(3, 1, 3, 0, 1, 0xFFFFFFFF), ["3", "1", "0"], ["lists 3 more than once", "lists 1 more than once"]),
    (u32s(1, 0), ["1", "0"], ["of 8 bytes has no terminator"]),
    (u32s(1, 0) + b"\xff\xff", ["1", "0"], ["of 10 bytes ends inside an entry"]),
])
def test_listex_orders(data, names, problems):
    found, found_problems = mru.listex_order(data)
    assert found == names
    assert len(found_problems) == len(problems)
    assert all(expected in text for expected, text in zip(problems, found_problems))


@pytest.mark.parametrize("text, names, problem_count", [
    ("cab", ["c", "a", "b"], 0),
    ("abca", ["a", "b", "c"], 1),
    ("", [], 0),
])
def test_list_orders(text, names, problem_count):
    found, problems = mru.list_order(text)
    assert found == names and len(problems) == problem_count


def utf16z(text: str) -> bytes:
    return text.encode("utf-16-le") + b"\0\0"


@pytest.mark.parametrize("data, name, target, problem", [
    (utf16z("plan.docx") + sib.file_entry("PLAN~1.LNK", "plan.lnk", directory=False) + b"\0\0" + b"\x07" * 6,
     "plan.docx", "plan.lnk", None),
    # The shell item claims more bytes than are left.
    (utf16z("cut.pdf") + sib.file_entry("CUT~1.LNK", "cut.lnk", directory=False)[:20], "cut.pdf", None,
     "runs past the data"),
    (utf16z("alone.txt"), "alone.txt", None, "without its terminator"),
    ("no end".encode("utf-16-le"), "no end", None, "no terminating NUL"),
])
def test_recent_doc_values(data, name, target, problem):
    doc = user_values.recent_doc(data)
    assert (doc.name, doc.target) == (name, target)
    if problem is None:
        assert doc.problems == []
    else:
        assert any(problem in text for text in doc.problems), doc.problems


@pytest.mark.parametrize("data, program, path, problem", [
    (utf16z("notepad.exe") + sib.id_list(sib.root_folder(sib.MY_COMPUTER), sib.volume("C:\\"),
                                         sib.file_entry("TEMP", "Temp")),
     "notepad.exe", "My Computer\\C:\\Temp", None),
    (utf16z("app.exe") + sib.root_folder(sib.MY_COMPUTER) + struct.pack("<HB", 90, 0x31) + b"ab",
     "app.exe", "My Computer", "size 90 runs past the data"),
])
def test_program_and_id_list(data, program, path, problem):
    found = user_values.program_and_id_list(data)
    assert found.program == program and found.id_list.path == path
    assert (problem is None) == (found.problems == [])
    if problem:
        assert any(problem in text for text in found.problems)


@pytest.mark.parametrize("data, term, has_problem", [
    (utf16z("quarterly report"), "quarterly report", False),
    ("cut".encode("utf-16-le") + b"x", "cut", True),
])
def test_search_terms(data, term, has_problem):
    found, problem = user_values.search_term(data)
    assert found == term and (problem is not None) == has_problem


@settings(max_examples=200, deadline=None)
@given(st.binary(max_size=200), st.sampled_from([None, 3, 5, 7]))
def test_random_bytes_never_raise(data, version):
    counts, _ = ua.decode_counts(data, version)
    assert counts.run_count is None or counts.run_count >= 0
    mru.listex_order(data)
    user_values.recent_doc(data)
    user_values.program_and_id_list(data)
    user_values.search_term(data)
