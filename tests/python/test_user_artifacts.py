"""The user-activity extractors on builder-made NTUSER/UsrClass hives and on
the corpus: records where the data holds, problems where it does not."""

from __future__ import annotations

import struct

import pytest

pytest.importorskip("orvane_artifacts.framework")
orvane = pytest.importorskip("orvane")

import shell_item_builder as sib  # noqa: E402
from hive_builder import REG_BINARY, REG_DWORD, REG_SZ, Key, Value, sz  # noqa: E402
from orvane_artifacts import recent_files, shellbags, typed_input, userassist  # noqa: E402
from orvane_artifacts import userassist_data as ua  # noqa: E402

EXPLORER = ["Software", "Microsoft", "Windows", "CurrentVersion", "Explorer"]
EXECUTABLES = "{CEBFF5CD-ACE2-4F4F-9178-9926F41749EA}"
LAST_RUN = 132_000_000_000_000_000


def under(names: list[str], key: Key) -> Key:
    for name in reversed(names):
        key = Key(name, [], [key])
    return key


def binary(name: str, data: bytes) -> Value:
    return Value(name, REG_BINARY, data)


def u32s(*numbers: int) -> bytes:
    return struct.pack(f"<{len(numbers)}I", *numbers)


def run(extractor_module, hive, name=None):
    extractor = extractor_module.EXTRACTORS[0] if name is None else next(
        e for e in extractor_module.EXTRACTORS if e.name == name)
    problems: list[str] = []
    records = list(extractor.extract(hive, problems))
    for record in records:
        assert tuple(record) == extractor.field_names
    return records, problems


def test_userassist_both_layouts_and_a_truncated_record(open_tree):
    new = struct.pack("<IIII", 0, 3, 8, 5000) + bytes(40) + struct.pack("<IQI", 0, LAST_RUN, 0)
    old = struct.pack("<IIQ", 2, 9, LAST_RUN)
    tree = Key("ROOT", [], [under(EXPLORER, Key("UserAssist", [], [
        Key(EXECUTABLES, [Value("Version", REG_DWORD, u32s(5))], [Key("Count", [
            binary(ua.rot13("{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\cmd.exe"), new),
            binary(ua.rot13("C:\\tools\\short.exe"), new[:30]),
            binary(ua.rot13("UEME_CTLSESSION"), bytes(1612)),
        ])]),
        Key("{75048700-EF1F-11D0-9888-006097DEACF9}", [Value("Version", REG_DWORD, u32s(3))], [Key("Count", [
            binary(ua.rot13("UEME_RUNPATH:C:\\old.exe"), old),
        ])]),
    ]))])
    records, problems = run(userassist, open_tree(tree))
    by_name = {r["name"]: r for r in records}
    cmd = by_name["System32\\cmd.exe"]
    assert cmd["name_raw"] == "{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}\\cmd.exe"
    assert (cmd["run_count"], cmd["focus_count"], cmd["focus_time_ms"], cmd["format_version"]) == (3, 8, 5000, 5)
    assert cmd["last_run_filetime"] == LAST_RUN and cmd["last_run"].year == 2019
    assert cmd["guid_meaning"] == "executables"
    assert by_name["C:\\tools\\short.exe"]["run_count"] == 3 and by_name["C:\\tools\\short.exe"]["last_run"] is None
    assert by_name["UEME_CTLSESSION"]["entry_kind"] == "session"
    old_entry = by_name["UEME_RUNPATH:C:\\old.exe"]
    assert (old_entry["run_count"], old_entry["session_id"], old_entry["format_version"]) == (4, 2, 3)
    assert len(problems) == 1 and "record of 30 bytes" in problems[0]


def bag(values: list[Value], subkeys=(), name: str = "BagMRU", slot: int | None = None) -> Key:
    if slot is not None:
        values = values + [Value("NodeSlot", REG_DWORD, u32s(slot))]
    return Key(name, values, list(subkeys))


def shellbag_hive() -> Key:
    # Three levels below the root: My Computer > C:\ > Users > alice, plus a
    # share, a URI, an archive entry and an unknown item at the top.
    alice = bag([], name="0", slot=4)
    users = bag([binary("0", sib.id_list(sib.file_entry("alice", "alice", mft=(300, 2)))),
                 binary("MRUListEx", u32s(0, 0xFFFFFFFF))], [alice], name="0", slot=3)
    volume = bag([binary("0", sib.id_list(sib.file_entry("Users", "Users", mft=(200, 1)))),
                  binary("MRUListEx", u32s(0) + b"\xff\xff")], [users], name="0", slot=2)
    computer = bag([binary("0", sib.id_list(sib.volume("C:\\"))), binary("MRUListEx", u32s(0, 0xFFFFFFFF))],
                   [volume], name="0", slot=1)
    share = bag([binary("0", sib.id_list(sib.file_entry("docs", "docs")))], [bag([], name="0")], name="1")
    root = bag([
        binary("0", sib.id_list(sib.root_folder(sib.MY_COMPUTER))),
        binary("1", sib.id_list(sib.network("\\\\srv\\share"))),
        binary("2", sib.id_list(sib.uri("https://example.org/"))),
        binary("3", sib.id_list(sib.compressed_folder("inside.txt"))),
        binary("4", sib.id_list(sib.item(0x87, b"\x01\x02\x03\x04"))),
        # names value 9, which is missing
        binary("MRUListEx", u32s(1, 9, 0, 2, 3, 4, 0xFFFFFFFF)),
    ], [computer, share])
    return Key("ROOT", [], [under(["Local Settings", "Software", "Microsoft", "Windows", "Shell"], root)])


def test_shellbags_tree(open_tree):
    records, problems = run(shellbags, open_tree(shellbag_hive()))
    by_path = {r["path"]: r for r in records}
    assert list(by_path) == ["My Computer", "My Computer\\C:\\", "My Computer\\C:\\Users",
                             "My Computer\\C:\\Users\\alice", "\\\\srv\\share", "\\\\srv\\share\\docs",
                             "https://example.org/", "inside.txt", "<unknown 0x87>"]
    alice = by_path["My Computer\\C:\\Users\\alice"]
    assert (alice["mft_entry"], alice["mft_sequence"], alice["node_slot"], alice["mru_position"]) == (300, 2, 4, 0)
    assert alice["key_path"].endswith("BagMRU\\0\\0\\0\\0") and alice["item_type"] == "file_entry (0x31)"
    # Positions count places in the stored list, the missing value's included.
    assert [by_path[p]["mru_position"] for p in ("\\\\srv\\share", "My Computer", "https://example.org/")] == [0, 2, 3]
    assert by_path["\\\\srv\\share\\docs"]["mru_position"] is None  # its node has no MRUListEx
    assert by_path["<unknown 0x87>"]["item_type"] == "unknown (0x87)"
    assert any("names value 9, which is missing" in p for p in problems)
    assert any("BagMRU\\0\\0: MRUListEx of 6 bytes ends inside an entry" in p for p in problems)
    assert any("BagMRU\\1: MRUListEx is missing" in p for p in problems)


def test_recent_docs_and_open_save_cut_short(open_tree):
    doc = "a.txt".encode("utf-16-le") + b"\0\0"
    good = doc + sib.file_entry("A~1.LNK", "a.lnk", directory=False) + b"\0\0"
    cut = "b.pdf".encode("utf-16-le") + b"\0\0" + sib.file_entry("B~1.LNK", "b.lnk", directory=False)[:18]
    recent = Key("RecentDocs", [binary("0", good), binary("MRUListEx", u32s(0, 0xFFFFFFFF))], [
        Key(".pdf", [binary("0", cut), binary("MRUListEx", u32s(0, 0xFFFFFFFF))])])
    full = sib.id_list(sib.root_folder(sib.MY_COMPUTER), sib.volume("C:\\"), sib.file_entry("x.txt", "x.txt"))
    comdlg = Key("ComDlg32", [], [
        Key("OpenSavePidlMRU", [], [Key("txt", [binary("0", full), binary("1", full[:30]),
                                                binary("MRUListEx", u32s(1, 0, 0xFFFFFFFF))])]),
        Key("LastVisitedPidlMRU", [binary("0", "np.exe".encode("utf-16-le") + b"\0\0" + full),
                                   binary("MRUListEx", u32s(0, 0xFFFFFFFF))]),
        Key("LastVisitedMRU", [binary("a", "xp.exe\0C:\\old\0".encode("utf-16-le")),
                               Value("MRUList", REG_SZ, sz("a"))]),
    ])
    hive = open_tree(Key("ROOT", [], [under(EXPLORER[:-1], Key("Explorer", [], [recent, comdlg]))]))
    docs, doc_problems = run(recent_files, hive, "recent_docs")
    assert [(r["name"], r["extension"], r["target"]) for r in docs] == [("a.txt", None, "a.lnk"),
                                                                        ("b.pdf", ".pdf", None)]
    assert docs[0]["opened"] == docs[0]["key_last_written"]
    assert len(doc_problems) == 1 and "RecentDocs\\.pdf value 0: item 0" in doc_problems[0]
    saved, save_problems = run(recent_files, hive, "open_save_mru")
    assert [(r["list"], r["path"], r["mru_position"]) for r in saved] == [
        ("OpenSavePidlMRU", "My Computer", 0), ("OpenSavePidlMRU", "My Computer\\C:\\x.txt", 1),
        ("LastVisitedPidlMRU", "My Computer\\C:\\x.txt", 0), ("LastVisitedMRU", "C:\\old", 0)]
    assert saved[2]["program"] == "np.exe" and saved[3]["program"] == "xp.exe"
    assert len(save_problems) == 1 and "txt value 1: item 1" in save_problems[0]


def test_typed_lists(open_tree):
    filetime = struct.pack("<Q", LAST_RUN)
    tree = Key("ROOT", [], [Key("Software", [], [Key("Microsoft", [], [
        Key("Internet Explorer", [], [
            Key("TypedURLs", [Value("url2", REG_SZ, sz("b.example")), Value("url1", REG_SZ, sz("a.example"))]),
            Key("TypedURLsTime", [binary("url1", filetime), binary("url2", b"\1\2")])]),
        Key("Windows", [], [Key("CurrentVersion", [], [Key("Explorer", [], [
            Key("RunMRU", [Value("a", REG_SZ, sz("cmd\\1")), Value("b", REG_SZ, sz("regedit\\1")),
                           Value("MRUList", REG_SZ, sz("bza"))]),
            Key("WordWheelQuery", [binary("0", "secret".encode("utf-16-le") + b"\0\0"),
                                   binary("MRUListEx", u32s(0, 0xFFFFFFFF))]),
        ])])])])])])
    hive = open_tree(tree)
    urls, url_problems = run(typed_input, hive, "typed_urls")
    assert [(r["url"], r["order"], r["typed_filetime"]) for r in urls] == [("a.example", 1, LAST_RUN),
                                                                          ("b.example", 2, None)]
    assert len(url_problems) == 1 and "url2: 2 bytes" in url_problems[0]
    commands, run_problems = run(typed_input, hive, "run_mru")
    assert [(r["command"], r["mru_position"]) for r in commands] == [("regedit", 0), ("cmd", 2)]
    assert run_problems == ["run_mru: " + typed_input.RUN_MRU + ": MRUList names value z, which is missing"]
    terms, _ = run(typed_input, hive, "word_wheel_query")
    assert [(r["term"], r["mru_position"]) for r in terms] == [("secret", 0)]


# The corpus: values checked by hand with `orvane ls` on the same keys.

@pytest.fixture(scope="module")
def ntuser(corpus_dir_module):
    return orvane.Hive.open(str(corpus_dir_module / "NTUSER.DAT"))


@pytest.fixture(scope="module")
def corpus_dir_module(tmp_path_factory):
    import lzma
    from conftest import CORPUS
    out = tmp_path_factory.mktemp("user_corpus")
    for name in ("NTUSER.DAT", "UsrClass.dat", "UsrClass.dat.LOG1", "UsrClass.dat.LOG2"):
        (out / name).write_bytes(lzma.decompress((CORPUS / f"{name}.xz").read_bytes()))
    return out


def test_corpus_ntuser(ntuser):
    assist, problems = run(userassist, ntuser)
    calc = next(r for r in assist if r["name_raw"] == "{D65231B0-B2F1-4857-A4CE-A8E7C6EA7D27}\\calc.exe")
    # orvane ls ...\UserAssist\{CEBFF5CD-...}\Count: value {Q65231O0-...}\pnyp.rkr, 72 bytes.
    assert (calc["name"], calc["run_count"], calc["focus_count"]) == ("SysWOW64\\calc.exe", 12, 17)
    assert problems == []
    docs, _ = run(recent_files, ntuser, "recent_docs")
    # orvane ls ...\Explorer\RecentDocs: MRUListEx starts with 9; value 9 names the document.
    assert (docs[0]["value_name"], docs[0]["name"], docs[0]["mru_position"]) == (
        "9", "Agents-List-CLASSIFIED-TOP-SECRET", 0)
    urls, _ = run(typed_input, ntuser, "typed_urls")
    # orvane ls "Software\Microsoft\Internet Explorer\TypedURLs": url1 REG_SZ http://199.73.28.114:53/
    assert urls[0]["url"] == "http://199.73.28.114:53/"
    terms, _ = run(typed_input, ntuser, "word_wheel_query")
    # orvane ls ...\WordWheelQuery: MRUListEx 01 00 00 00 05 ..., value 1 = "alloy", 5 = "test-plan".
    assert [(t["term"], t["value_name"]) for t in terms[:2]] == [("alloy", "1"), ("test-plan", "5")]


def test_corpus_usrclass_shellbags(corpus_dir_module):
    # UsrClass.dat is dirty: opened with both logs, which both apply.
    d = corpus_dir_module
    hive = orvane.Hive.open_with_logs(str(d / "UsrClass.dat"), str(d / "UsrClass.dat.LOG1"),
                                      str(d / "UsrClass.dat.LOG2"))
    assert len(hive.applied_logs()) == 2
    records, problems = run(shellbags, hive)
    assert problems == []
    by_path = {r["path"]: r for r in records}
    desktop = by_path["My Computer\\C:\\Users\\jcloudy\\Desktop"]
    assert desktop["key_path"].endswith("BagMRU\\4\\3\\0\\0\\0") and desktop["node_slot"] == 15
    assert desktop["mft_entry"] == 93001


def test_network_programs_and_remote_tools(open_tree):
    from orvane_artifacts import network_use, program_traces, remote_tools
    dword = lambda name, n: Value(name, REG_DWORD, u32s(n))  # noqa: E731
    text = lambda name, t: Value(name, REG_SZ, sz(t))  # noqa: E731
    tree = Key("ROOT", [], [
        Key("Network", [], [Key("z", [text("RemotePath", "\\\\nas\\media"), dword("ProviderType", 0x20000)])]),
        Key("Software", [], [
            Key("Microsoft", [], [
                Key("Terminal Server Client", [], [
                    Key("Default", [text("MRU1", "old.example"), text("MRU0", "new.example:3390")]),
                    Key("Servers", [], [Key("new.example", [text("UsernameHint", "CORP\\bob")])])]),
                Key("Windows", [], [Key("CurrentVersion", [], [
                    Key("Explorer", [], [Key("MountPoints2", [], [
                        Key("##nas#media", [text("_LabelFromReg", "Media")]),
                        Key("{11111111-2222-3333-4444-555555555555}", [], [
                            Key("Shell", [], [Key("AutoRun", [], [Key("command", [text("", "E:\\run.exe")])])])])])]),
                    Key("Lxss", [text("DefaultDistribution", "{AAAA}")], [
                        Key("{AAAA}", [text("DistributionName", "Ubuntu"), dword("Version", 2)])])])])]),
            Key("SimonTatham", [], [Key("PuTTY", [], [
                Key("Sessions", [], [Key("my%20box", [text("HostName", "box.example"), dword("PortNumber", 2222)])]),
                Key("SshHostKeys", [text("ssh-ed25519@22:box.example", "0x1234")])])]),
            Key("Martin Prikryl", [], [Key("WinSCP 2", [], [Key("Sessions", [], [
                Key("work", [text("HostName", "sftp.example"), dword("FSProtocol", 2), text("Password", "A35C")])])])]),
            Key("7-Zip", [], [Key("Compression", [binary("ArcHistory", "a.7z\0b.zip\0\0".encode("utf-16-le"))])]),
        ]),
    ])
    hive = open_tree(tree)
    drives, _ = run(network_use, hive, "mapped_drives")
    assert [(d["drive"], d["remote_path"], d["provider_type"]) for d in drives] == [("Z:", "\\\\nas\\media", 0x20000)]
    points, _ = run(network_use, hive, "mount_points2")
    assert [(p["remote_path"], p["volume_guid"], p["commands"]) for p in points] == [
        ("\\\\nas\\media", None, []), (None, "{11111111-2222-3333-4444-555555555555}", ["AutoRun: E:\\run.exe"])]
    rdp, _ = run(network_use, hive, "rdp_history")
    assert [(r["server"], r["mru_position"], r["username_hint"]) for r in rdp] == [
        ("new.example:3390", 0, None), ("old.example", 1, None), ("new.example", None, "CORP\\bob")]
    wsl, _ = run(program_traces, hive, "wsl")
    assert [(w["name"], w["version"], w["is_default"]) for w in wsl] == [("Ubuntu", 2, True)]
    putty, _ = run(remote_tools, hive, "putty_sessions")
    assert [(p["kind"], p["session"], p["host"], p["port"], p["key_type"]) for p in putty] == [
        ("session", "my box", "box.example", 2222, None), ("host_key", None, "box.example", 22, "ssh-ed25519")]
    scp, _ = run(remote_tools, hive, "winscp_sessions")
    assert [(s["host"], s["protocol_name"], s["password"]) for s in scp] == [("sftp.example", "SFTP", "present")]
    assert "A35C" not in repr(scp)
    arcs, _ = run(remote_tools, hive, "archiver_history")
    assert [(a["archiver"], a["position"], a["path"]) for a in arcs] == [("7-Zip", 0, "a.7z"), ("7-Zip", 1, "b.zip")]


def test_corpus_other_extractors(ntuser, corpus_dir_module):
    from orvane_artifacts import network_use, program_traces, remote_tools
    # orvane ls NTUSER.DAT Network\p: RemotePath \\controller\public
    drives, _ = run(network_use, ntuser, "mapped_drives")
    assert drives[0]["remote_path"] == "\\\\controller\\public"
    arcs, _ = run(remote_tools, ntuser, "archiver_history")
    assert arcs[0]["path"] == "C:\\Users\\tony\\Downloads\\RegistryFinder64.zip"
    usrclass = orvane.Hive.open(str(corpus_dir_module / "UsrClass.dat"))
    names, _ = run(program_traces, usrclass, "muicache")
    assert any(n["program"] == "C:\\Windows\\Explorer.exe" and n["text"] == "Windows Explorer" for n in names)
