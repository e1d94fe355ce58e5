"""SOFTWARE, NTUSER autostart and Amcache extractors on builder hives
(normal data, the values that lie: wrong types, short time halves, bad
SYSTEMTIMEs, bad hashes and dates) and on the corpus amcache.hve."""

from __future__ import annotations

import csv
import io
import struct
import sys
from datetime import datetime, timezone

import orvane
import pytest
from artifact_hives import binary, dword, hive_of, path_tree, qword, software, text, texts
from cli_runner import SRC, run
from hive_builder import Key

sys.path.insert(0, str(SRC))

import orvane_artifacts  # noqa: E402
from orvane_artifacts import software as software_module  # noqa: E402

UTC = timezone.utc
T1 = 129393076800000000  # 2011-01-12T12:08:00Z
WHEN = datetime(2011, 1, 12, 12, 8, tzinfo=UTC)
CV = "Microsoft\\Windows NT\\CurrentVersion"
UNINSTALL = "Microsoft\\Windows\\CurrentVersion\\Uninstall"
NETWORKS = CV + "\\NetworkList"


def extract(open_tree, tree, name):
    result = orvane_artifacts.extract(open_tree(tree), [name])
    return result.records[name], result.problems


def systemtime(*fields: int) -> bytes:
    return struct.pack("<8H", *fields)


def test_os_version_names_windows_11_and_reads_both_install_times(open_tree):
    tree = software(path_tree(CV, [
        text("ProductName", "Windows 10 Pro"), text("InstallationType", "Client"), text("EditionID", "Professional"),
        text("CurrentBuildNumber", "22631"), dword("UBR", 2861), text("DisplayVersion", "23H2"),
        dword("InstallDate", 1294834080), qword("InstallTime", T1), text("RegisteredOwner", "alice"),
    ]))
    [record], problems = extract(open_tree, tree, "os_version")
    assert problems == []
    assert (record["product_name"], record["product"], record["build"], record["ubr"]) == (
        "Windows 10 Pro", "Windows 11 Pro", 22631, 2861)
    assert record["install_date"] == WHEN and record["install_time"] == WHEN
    assert record["registered_owner"] == "alice" and record["registered_organization"] is None


@pytest.mark.parametrize("name, build, kind, expected", [
    ("Windows 10 Enterprise", 19045, "Client", "Windows 10 Enterprise"),
    ("Windows 10 Enterprise", 22000, None, "Windows 11 Enterprise"),
    ("Windows Server 2022 Standard", 20348, "Server", "Windows Server 2022 Standard"),
    ("Windows 10 Pro", 26100, "Server", "Windows 10 Pro"),  # not a client: left as stored
    ("Windows 7 Ultimate", None, None, "Windows 7 Ultimate"),
])
def test_product(name, build, kind, expected):
    assert software_module.product(name, build, kind) == expected


def test_installed_programs_in_every_view(open_tree):
    def entry(path, name, *values):
        return path_tree(f"{path}\\{name}", [*values], last_written=T1)

    machine = software(entry(UNINSTALL, "7-Zip", text("DisplayName", "7-Zip 23.01"), text("InstallDate", "20230621"),
                             dword("EstimatedSize", 5800), text("Publisher", "Igor Pavlov")),
                       entry(UNINSTALL, "KB123", dword("SystemComponent", 1), text("InstallDate", "20231345")),
                       entry("WOW6432Node\\" + UNINSTALL, "{GUID}", text("DisplayName", "Old"),
                             dword("WindowsInstaller", 1), text("InstallDate", "6/21/2023")))
    records, problems = extract(open_tree, machine, "installed_programs")
    assert problems == []
    assert [(r["view"], r["key_name"], r["name"], r["install_date"]) for r in records] == [
        ("native", "7-Zip", "7-Zip 23.01", "2023-06-21"), ("native", "KB123", None, "20231345"),  # no such date
        ("WOW6432Node", "{GUID}", "Old", "6/21/2023")]
    assert records[0]["estimated_size_kb"] == 5800 and records[0]["key_last_written"] == WHEN
    assert records[1]["system_component"] is True and records[2]["windows_installer"] is True
    user = hive_of(Key("Control Panel"), Key("Environment"),
                   entry("Software\\" + UNINSTALL, "app", text("DisplayName", "Per-user app"),
                         text("InstallLocation", "C:\\Users\\a\\AppData\\Local\\app")))
    result = orvane_artifacts.extract(open_tree(user))
    assert result.kind == "NTUSER"
    [record] = result.records["installed_programs"]
    assert (record["view"], record["name"], record["install_location"]) == (
        "user", "Per-user app", "C:\\Users\\a\\AppData\\Local\\app")


SID = bytes.fromhex("010500000000000515000000010000000200000003000000e9030000")
PROFILE = CV + "\\ProfileList\\S-1-5-21-1-2-3-1001"


@pytest.mark.parametrize("values, times, problem", [
    ([dword("LocalProfileLoadTimeLow", T1 & 0xFFFFFFFF), dword("LocalProfileLoadTimeHigh", T1 >> 32)], WHEN, None),
    ([dword("LocalProfileLoadTimeLow", T1 & 0xFFFFFFFF), binary("LocalProfileLoadTimeHigh", b"\x01\x02")], None,
     "LocalProfileLoadTimeHigh is REG_BINARY of 2 bytes, not a 4-byte DWORD"),
    ([dword("LocalProfileLoadTimeLow", T1 & 0xFFFFFFFF)], None,
     "LocalProfileLoadTimeLow is stored without LocalProfileLoadTimeHigh"),
    ([text("LocalProfileLoadTimeLow", "1"), dword("LocalProfileLoadTimeHigh", 1)], None,
     "LocalProfileLoadTimeLow is REG_SZ of 4 bytes, not a 4-byte DWORD"),
])
def test_profile_list_load_times(open_tree, values, times, problem):
    tree = software(path_tree(PROFILE, [text("ProfileImagePath", "C:\\Users\\alice"), binary("Sid", SID),
                                        dword("State", 0x0804), *values]))
    [record], problems = extract(open_tree, tree, "profile_list")
    assert record["local_load_time"] == times and record["profile_path"] == "C:\\Users\\alice"
    assert record["stored_sid"] == "S-1-5-21-1-2-3-1001" and record["state_names"] == ["new_local", "temporary"]
    assert problems == ([f"profile_list: {PROFILE}: {problem}"] if problem else [])


def test_profile_list_backup_keys_and_bad_sids(open_tree):
    tree = software(path_tree(CV + "\\ProfileList\\S-1-5-18.bak", [binary("Sid", SID[:10])]))
    [record], problems = extract(open_tree, tree, "profile_list")
    assert (record["is_backup"], record["account"], record["stored_sid"]) == (True, "LocalSystem", None)
    assert problems == [f"profile_list: {CV}\\ProfileList\\S-1-5-18.bak: Sid of 10 bytes is not a SID"]


GUID = "{A1B2C3D4-0000-0000-0000-000000000001}"


def network_tree(created: bytes, mac: bytes = bytes.fromhex("0011223344aa")):
    return software(
        path_tree(f"{NETWORKS}\\Profiles\\{GUID}", [
            text("ProfileName", "HomeWifi"), dword("Category", 1), dword("NameType", 0x47),
            binary("DateCreated", created), binary("DateLastConnected", systemtime(2021, 3, 4, 11, 5, 6, 7, 0))]),
        path_tree(f"{NETWORKS}\\Signatures\\Unmanaged\\0102ABCD", [
            text("ProfileGuid", GUID.lower()), binary("DefaultGatewayMac", mac), text("DnsSuffix", "<none>")]))


@pytest.mark.parametrize("created, mac, expected_created, problem", [
    (systemtime(2020, 2, 6, 29, 23, 59, 59, 0), bytes.fromhex("0011223344aa"), datetime(2020, 2, 29, 23, 59, 59),
     None),
    (systemtime(2021, 13, 0, 1, 0, 0, 0, 0), bytes.fromhex("0011223344aa"), None,
     "DateCreated is not a date (2021-13-01 00:00:00.0)"),
    (systemtime(2021, 1, 0, 1, 0, 0, 0, 0)[:12], bytes.fromhex("0011223344aa"), None,
     "DateCreated holds 12 bytes, not a 16-byte SYSTEMTIME"),
    (systemtime(2020, 2, 6, 29, 23, 59, 59, 0), b"\1\2\3", datetime(2020, 2, 29, 23, 59, 59),
     "DefaultGatewayMac holds 3 bytes, not 6"),
])
def test_network_profiles(open_tree, created, mac, expected_created, problem):
    [record], problems = extract(open_tree, network_tree(created, mac), "network_profiles")
    assert (record["name"], record["category_name"], record["type_name"]) == ("HomeWifi", "private", "wireless")
    assert record["created"] == expected_created and record["last_connected"] == datetime(2021, 3, 11, 5, 6, 7)
    assert record["last_connected"].tzinfo is None  # local time
    assert record["signature_source"] == "Unmanaged" and record["dns_suffix"] == "<none>"
    assert record["default_gateway_mac"] == (None if len(mac) != 6 else "00-11-22-33-44-AA")
    assert len(problems) == (1 if problem else 0) and (problem is None or problem in problems[0])


def test_last_logon_from_logon_ui_or_winlogon(open_tree):
    winlogon = path_tree(CV + "\\Winlogon", [text("DefaultUserName", "bob"), text("AutoAdminLogon", "1"),
                                             text("DefaultPassword", "hunter2")])
    logon_ui = path_tree("Microsoft\\Windows\\CurrentVersion\\Authentication\\LogonUI", [
        text("LastLoggedOnUser", ".\\alice"), text("LastLoggedOnSAMUser", ".\\alice"),
        text("LastLoggedOnUserSID", "S-1-5-21-1-2-3-1001"), text("LastLoggedOnDisplayName", "Alice")],
        last_written=T1)
    [record], problems = extract(open_tree, software(winlogon, logon_ui), "last_logon")
    assert problems == [] and record["key_last_written"] == WHEN
    assert (record["last_logged_on_user"], record["last_logged_on_user_sid"], record["last_logged_on_display_name"]) \
        == (".\\alice", "S-1-5-21-1-2-3-1001", "Alice")
    assert (record["default_user_name"], record["auto_admin_logon"], record["default_password_stored"]) == (
        "bob", True, True)
    assert "hunter2" not in repr(record)
    [old], _ = extract(open_tree, software(winlogon), "last_logon")
    assert old["key_path"] == CV + "\\Winlogon" and old["last_logged_on_user"] is None


RUN = "Microsoft\\Windows\\CurrentVersion\\Run"
BHO = "{11111111-2222-3333-4444-555555555555}"


def test_autostart_machine_locations(open_tree):
    tree = software(
        path_tree(RUN, [text("Updater", "C:\\u.exe /q")]),
        path_tree("WOW6432Node\\" + RUN, [text("Old32", "C:\\x86\\o.exe")]),
        path_tree("Microsoft\\Windows\\CurrentVersion\\RunServicesOnce", [text("Svc", "s.exe")]),
        path_tree(CV + "\\Winlogon", [text("Shell", "explorer.exe"), text("Userinit", "userinit.exe,evil.exe")]),
        path_tree(CV + "\\Windows", [text("AppInit_DLLs", "")]),                 # stock: not an entry
        path_tree("WOW6432Node\\" + CV + "\\Windows", [text("AppInit_DLLs", "C:\\hook32.dll")]),
        path_tree(CV + "\\Image File Execution Options\\sethc.exe", [text("Debugger", "cmd.exe")]),
        path_tree(CV + "\\Image File Execution Options\\notepad.exe", [dword("GlobalFlag", 0)]),
        path_tree(f"Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\{BHO}", [text("", "Helper")]),
        path_tree(f"Classes\\CLSID\\{BHO}\\InprocServer32", [text("", "C:\\bho.dll")]),
        path_tree("Microsoft\\Active Setup\\Installed Components\\{A}", [text("StubPath", "stub.exe"),
                                                                          text("", "Component A")]),
        path_tree("Microsoft\\Active Setup\\Installed Components\\{B}", [text("", "no stub")]),
    )
    records, problems = extract(open_tree, tree, "autostart")
    assert problems == []
    assert [(r["location"], r["view"], r["name"], r["command"], r["description"]) for r in records] == [
        ("Run", "native", "Updater", "C:\\u.exe /q", None),
        ("RunServicesOnce", "native", "Svc", "s.exe", None),
        ("Image File Execution Options", "native", "sethc.exe", "cmd.exe", None),
        ("Browser Helper Objects", "native", BHO, "C:\\bho.dll", "Helper"),
        ("Active Setup", "native", "{A}", "stub.exe", "Component A"),
        ("Run", "WOW6432Node", "Old32", "C:\\x86\\o.exe", None),
        ("AppInit_DLLs", "WOW6432Node", "AppInit_DLLs", "C:\\hook32.dll", None),
        ("Winlogon", "native", "Shell", "explorer.exe", None),
        ("Winlogon", "native", "Userinit", "userinit.exe,evil.exe", None),
    ]


def test_autostart_user_locations_and_bad_types(open_tree):
    user = "Software\\Microsoft\\Windows"
    tree = hive_of(Key("Control Panel"), Key("Environment"),
                   path_tree(f"{user}\\CurrentVersion\\RunOnce", [text("once", "o.exe"), binary("bad", b"\1\2")]),
                   path_tree(f"{user} NT\\CurrentVersion\\Winlogon", [text("Shell", "evil.exe")]),
                   path_tree(f"{user} NT\\CurrentVersion\\Windows", [text("Load", "l.exe"), text("Run", "")]))
    result = orvane_artifacts.extract(open_tree(tree), ["autostart"])
    assert [(r["location"], r["name"], r["command"]) for r in result.records["autostart"]] == [
        ("RunOnce", "once", "o.exe"), ("RunOnce", "bad", None), ("Winlogon", "Shell", "evil.exe"),
        ("Windows", "Load", "l.exe")]
    assert result.problems == [f"autostart: {user}\\CurrentVersion\\RunOnce: bad is REG_BINARY of 2 bytes, not text"]


FILE_ID = "0000" + "ab" * 20


def amcache_tree(file_id=FILE_ID, link_date="03/17/2017 14:35:16", size=qword("Size", 4096)):
    return hive_of(
        path_tree("Root\\InventoryApplicationFile\\a.exe|0123", [
            text("LowerCaseLongPath", "c:\\tools\\a.exe"), text("FileId", file_id), size,
            text("LinkDate", link_date), text("ProductName", ""), text("ProgramId", "0000p1")]),
        path_tree("Root\\File\\{vol}\\100001605a", [
            text("15", "c:\\old\\b.exe"), text("101", "0000" + "CD" * 20), dword("6", 77), text("0", "Tool"),
            dword("f", 1489761316), qword("11", T1)], last_written=T1),
        path_tree("Root\\InventoryApplication\\0000p1", [text("Name", "A"), text("InstallDate", "")]),
        path_tree("Root\\Programs\\0000p2", [text("0", "B"), qword("a", 1489761316 | 0xA << 48),
                                              texts("d", "c:\\b", "c:\\b2")]))


def test_amcache_both_layouts(open_tree):
    result = orvane_artifacts.extract(open_tree(amcache_tree()))
    assert result.kind == "AMCACHE" and result.problems == []
    new, old = result.records["amcache_files"]
    assert (new["layout"], new["path"], new["sha1"], new["size"], new["product"], new["program_id"]) == (
        "InventoryApplicationFile", "c:\\tools\\a.exe", "ab" * 20, 4096, None, "0000p1")
    assert new["link_date"] == datetime(2017, 3, 17, 14, 35, 16, tzinfo=UTC) and new["last_modified"] is None
    assert (old["layout"], old["path"], old["sha1"], old["size"], old["product"]) == (
        "File", "c:\\old\\b.exe", "cd" * 20, 77, "Tool")
    assert (old["volume_guid"], old["file_reference"], old["last_modified"], old["key_last_written"]) == (
        "{vol}", "100001605a", WHEN, WHEN)
    assert old["link_date"] == new["link_date"]
    first, second = result.records["amcache_programs"]
    assert (first["name"], first["install_date"]) == ("A", None)
    assert (second["name"], second["root_directory"]) == ("B", "c:\\b; c:\\b2")
    assert second["install_date"] == datetime(2017, 3, 17, 14, 35, 16, tzinfo=UTC)  # the QWORD's low 32 bits


@pytest.mark.parametrize("change, field, problem", [
    ({"file_id": "0000xyz"}, "sha1", "FileId '0000xyz' is not 0000 and a SHA-1"),
    ({"link_date": "2017-03-17"}, "link_date", "LinkDate '2017-03-17' is not MM/DD/YYYY HH:MM:SS"),
    ({"size": binary("Size", b"\1\2\3")}, "size", "Size is REG_BINARY of 3 bytes, not a number"),
])
def test_amcache_lying_values(open_tree, change, field, problem):
    result = orvane_artifacts.extract(open_tree(amcache_tree(**change)), ["amcache_files"])
    new = result.records["amcache_files"][0]
    assert new[field] is None and new["path"] == "c:\\tools\\a.exe"
    assert result.problems == [f"amcache_files: Root\\InventoryApplicationFile\\a.exe|0123: {problem}"]


@pytest.mark.parametrize("name, tree", [
    ("installed_programs", software()), ("profile_list", software()), ("network_profiles", software()),
    ("last_logon", software()), ("autostart", software()),
    ("amcache_files", hive_of(path_tree("Root\\InventoryApplication"))),
    ("amcache_programs", hive_of(path_tree("Root\\File"))),
])
def test_missing_keys_give_nothing(open_tree, name, tree):
    assert extract(open_tree, tree, name) == ([], [])


def test_corpus_amcache(corpus_dir):
    # By hand: `orvane ls amcache.hve Root\File\ccbe4c57-0000-0000-0000-100000000000\100001605a`,
    # `... Root\InventoryApplicationFile\000004495fb538f070efc58b28b096aecca267e28ead` and
    # `... Root\Programs\00000931f4d8fa1b9e536d7f9acd977cfba40000ffff`.
    result = orvane_artifacts.extract(orvane.Hive.open(str(corpus_dir / "amcache.hve")))
    assert result.kind == "AMCACHE" and result.problems == []
    files = {r["key_path"].rsplit("\\", 1)[-1]: r for r in result.records["amcache_files"]}
    assert len(result.records["amcache_files"]) == 1367  # 247 inventory and 1120 older entries
    setup = files["100001605a"]
    assert (setup["path"], setup["product"], setup["publisher"], setup["version"], setup["size"]) == (
        "c:\\users\\user\\appdata\\local\\temp\\vmware-user\\000052fe\\setup64.exe", "VMware Tools",
        "VMware, Inc.", "10.1.6.5214329", 57353160)
    assert setup["sha1"] == "e992f0c2aa48b763b5f7109ea16b8f800436c27e"
    assert setup["link_date"] == datetime(2017, 3, 17, 14, 35, 16, tzinfo=UTC)  # f = 0x58cbf424
    inventory = files["000004495fb538f070efc58b28b096aecca267e28ead"]
    assert (inventory["sha1"], inventory["size"]) == ("186fef64c415af7d11986c7254db81ef65549ebc", 0x7FAC0)
    programs = {r["key_path"]: r for r in result.records["amcache_programs"]}
    assert len(programs) == 100  # 74 inventory and 26 older entries, the older IDs all among the newer
    zip7 = programs["Root\\Programs\\00000931f4d8fa1b9e536d7f9acd977cfba40000ffff"]
    assert (zip7["name"], zip7["version"], zip7["publisher"], zip7["source"], zip7["root_directory"]) == (
        "7-Zip 16.04 (x64)", "16.04", "Igor Pavlov", "AddRemoveProgram", "c:\\program files\\7-zip")
    assert zip7["install_date"] == datetime(2017, 8, 1, 13, 14, 28, tzinfo=UTC)  # a = 0x59807eb4
    messaging = programs["Root\\InventoryApplication\\000001066f6510dec0fbf508b0bad31bea3600000904"]
    assert (messaging["name"], messaging["source"]) == ("Microsoft.Messaging", "AppxPackage")
    assert messaging["install_date"] == datetime(2016, 7, 16, 22, 55, 48, tzinfo=UTC)


def test_timeline_shows_utc_times_and_leaves_local_ones_out(write_hive, tmp_path):
    from hive_builder import HiveBuilder

    builder = HiveBuilder()
    builder.tree(network_tree(systemtime(2020, 2, 6, 29, 23, 59, 59, 0)))
    hive = write_hive(builder, "SOFTWARE")
    amcache = HiveBuilder()
    amcache.tree(amcache_tree())
    done = run("timeline", "--artifacts", hive, write_hive(amcache, "Amcache.hve"))
    assert done.returncode == 0, done.stderr
    rows = list(csv.reader(io.StringIO(done.stdout)))[1:]
    artifacts = {(r[0], r[2], r[3]) for r in rows if r[2] != "key"}
    assert ("2017-03-17T14:35:16.0000000Z", "amcache_files", "link_date: c:\\tools\\a.exe") in artifacts
    assert not any(name == "network_profiles" for _, name, _ in artifacts)
