"""SYSTEM extractors on builder hives (every shimcache layout, the three
MountedDevices forms, USB device times in both storage forms) and on the
corpus SYSTEM hive; random bytes through each binary decoder."""

from __future__ import annotations

import struct
import sys
from datetime import datetime, timezone

import orvane
import pytest
from artifact_hives import binary, dword, path_tree, system, text, texts
from cli_runner import SRC
from hypothesis import given, settings
from hypothesis import strategies as st

sys.path.insert(0, str(SRC))

import orvane_artifacts  # noqa: E402
from orvane_artifacts import binary as decoders  # noqa: E402
from orvane_artifacts import mounted_devices, shimcache, system_identity, system_settings  # noqa: E402

UTC = timezone.utc
T1 = 129393076800000000  # 2011-01-12T12:08:00Z
WHEN = datetime(2011, 1, 12, 12, 8, tzinfo=UTC)
PATHS = ["\\??\\C:\\Windows\\a.exe", "\\??\\C:\\b.exe"]


def u16(path: str) -> bytes:
    return path.encode("utf-16-le")


def old_table(magic: int, header: int, entry: bytes, tail_of, wide: bool, size: int) -> bytes:
    """A BADC0FFE/BADC0FEE cache: header, fixed entries, then the paths."""
    table = header + size * len(PATHS)
    offsets, at = [], table
    for path in PATHS:
        offsets.append(at)
        at += len(u16(path))
    head = struct.pack("<II", magic, len(PATHS)).ljust(header, b"\0")
    entries = b""
    for path, offset in zip(PATHS, offsets):
        length = len(u16(path))
        if wide:
            entries += struct.pack("<HHIQQ", length, length, 0, offset, T1) + tail_of(wide)
        else:
            entries += struct.pack("<HHIQ", length, length, offset, T1) + tail_of(wide)
    assert len(entries) == size * len(PATHS)
    return head + entries + b"".join(u16(p) for p in PATHS)


def vista_tail(wide):
    return struct.pack("<II", 2, 0)


def server_2003_tail(wide):
    return struct.pack("<Q", 123456)


def win7_tail(wide):
    return struct.pack("<IIQQ", 2, 0, 0, 0) if wide else struct.pack("<IIII", 2, 0, 0, 0)


def ts_entry(signature: bytes, path: str, version: str, data: bytes = b"") -> bytes:
    body = struct.pack("<H", len(u16(path))) + u16(path)
    if version == "8.1":
        body += struct.pack("<H", 4) + u16("pk")
    if version != "10":
        body += struct.pack("<II", 2, 0)
    body += struct.pack("<QI", T1, len(data)) + data
    return signature + struct.pack("<II", 0, len(body)) + body


def ts_cache(version: str, header: int = 0x34) -> bytes:
    if version == "10":
        head = struct.pack("<I", header).ljust(header, b"\0")
        head = head[:0x24] + struct.pack("<I", len(PATHS)) + head[0x28:]
        return head + b"".join(ts_entry(b"10ts", p, "10", b"\0\0\0\0\1\0\0\0") for p in PATHS)
    signature = b"00ts" if version == "8.0" else b"10ts"
    return struct.pack("<I", 0x80).ljust(0x80, b"\0") + b"".join(ts_entry(signature, p, version) for p in PATHS)


def xp_cache() -> bytes:
    head = struct.pack("<III", 0xDEADBEEF, len(PATHS), 2).ljust(0x10, b"\0")
    head += struct.pack("<2I", 1, 0)  # LRU: entry 1 is the most recent
    head = head.ljust(0x190, b"\0")
    entries = b"".join(u16(p).ljust(0x210, b"\0") + struct.pack("<QQQ", T1, 4096, T1) for p in PATHS)
    return head + entries


LAYOUTS = [
    ("xp", xp_cache(), None, [PATHS[1], PATHS[0]]),
    ("vista", old_table(0xBADC0FFE, 8, None, vista_tail, False, 24), "x86", PATHS),
    ("vista 64-bit", old_table(0xBADC0FFE, 8, None, vista_tail, True, 32), "AMD64", PATHS),
    ("2003", old_table(0xBADC0FFE, 8, None, server_2003_tail, False, 24), "x86", PATHS),
    ("7", old_table(0xBADC0FEE, 0x80, None, win7_tail, False, 32), "x86", PATHS),
    ("7 64-bit", old_table(0xBADC0FEE, 0x80, None, win7_tail, True, 48), "AMD64", PATHS),
    ("7 64-bit", old_table(0xBADC0FEE, 0x80, None, win7_tail, True, 48), None, PATHS),  # told by shape
    ("8.0", ts_cache("8.0"), None, PATHS),
    ("8.1", ts_cache("8.1"), None, PATHS),
    ("10", ts_cache("10", 0x30), None, PATHS),
    ("10", ts_cache("10", 0x34), None, PATHS),
]


@pytest.mark.parametrize("name, data, arch, paths", LAYOUTS)
def test_each_shimcache_layout(name, data, arch, paths):
    cache = shimcache.parse(data, arch)
    assert cache.format == name and cache.problems == []
    assert [e.path for e in cache.entries] == paths
    assert [e.position for e in cache.entries] == [0, 1]
    assert all(e.filetime == T1 for e in cache.entries)
    if name.startswith(("vista", "7", "8")):
        assert all(e.insert_flags == 2 for e in cache.entries)
    if name == "2003":
        assert all(e.file_size == 123456 for e in cache.entries)
    if name == "8.1":
        assert all(e.package == "pk" for e in cache.entries)
    if name == "10":
        assert all(e.executed_hint for e in cache.entries)


@pytest.mark.parametrize("name, data, arch, paths", LAYOUTS)
@pytest.mark.parametrize("cut", [1, 9, 40])
def test_cut_short_caches_keep_what_the_data_holds(name, data, arch, paths, cut):
    cache = shimcache.parse(data[:-cut], arch)
    assert len(cache.entries) < 2 and cache.problems
    assert all(e.path in paths for e in cache.entries)


@pytest.mark.parametrize("data, problem", [
    (struct.pack("<II", 0xBADC0FEE, 5000) + bytes(0x78), "header says 5000 entries, the data holds at most 0"),
    (struct.pack("<I", 0x80).ljust(0x80, b"\0") + b"00ts" + struct.pack("<II", 0, 0xFFFFFF00),
     "entry 0 at 0x80: entry runs past the data"),
    (ts_cache("8.0")[:0x80] + b"xxts" + bytes(12), None),  # not a cache this reader knows
    (b"\x12\x34\x56\x78" + bytes(40), "unknown header 0x78563412"),
    (b"\x01", "1 bytes: too short for a cache header"),
])
def test_lying_caches(data, problem):
    cache = shimcache.parse(data)
    assert cache.entries == []
    if problem:
        assert problem in cache.problems


def test_shimcache_extractor_reads_the_current_set(open_tree):
    cache = binary("AppCompatCache", ts_cache("8.0")[:-3])
    tree = system(path_tree("ControlSet001\\Control\\Session Manager\\AppCompatCache", [cache]))
    result = orvane_artifacts.extract(open_tree(tree), ["shimcache"])
    records = result.records["shimcache"]
    assert [(r["position"], r["normalized_path"], r["last_modified"], r["executed"]) for r in records] == [
        (0, "C:\\Windows\\a.exe", WHEN, True)]
    assert result.problems == ["shimcache: entry 1 at 0xca: entry runs past the data"]


@pytest.mark.parametrize("data, form, fields", [
    (struct.pack("<IQ", 0x5CBEA03E, 1048576), "mbr", (0x5CBEA03E, 1048576, None, None)),
    (b"DMIO:ID:" + bytes(range(16)), "gpt", (None, None, "{03020100-0504-0706-0809-0A0B0C0D0E0F}", None)),
    (u16("\\??\\USBSTOR#Disk&Ven_HP#AA95&0#{53f5}"), "device path",
     (None, None, None, "\\??\\USBSTOR#Disk&Ven_HP#AA95&0#{53f5}")),
    (b"DMIO:ID:" + bytes(15), "unknown", (None, None, None, None)),  # odd, not 24: no form
    (b"", "unknown", (None, None, None, None)),
])
def test_mounted_device_forms(data, form, fields):
    mount = mounted_devices.decode_mount(data)
    assert mount.form == form and tuple(mount)[1:] == fields


@pytest.mark.parametrize("stored", ["8+", "7"])
def test_usb_device_times_in_both_forms(open_tree, stored):
    ticks = struct.pack("<Q", T1)
    base = ("ControlSet001\\Enum\\USBSTOR\\Disk&Ven_HP&Prod_v100w&Rev_1024\\AA95&0\\Properties\\"
            "{83da6326-97a6-4088-9453-a1923f573b29}\\0066")
    if stored == "8+":
        from hive_builder import Value
        prop = path_tree(base, [Value("", 0xFFFF0010, ticks)])
    else:
        prop = path_tree(base + "\\00000000", [binary("Data", ticks)])
    hive = open_tree(system(prop))
    [record] = orvane_artifacts.extract(hive, ["usbstor"]).records["usbstor"]
    assert (record["vendor"], record["product"], record["revision"], record["serial"]) == (
        "HP", "v100w", "1024", "AA95")
    assert record["last_arrival_date"] == WHEN and record["install_date"] is None


@pytest.mark.parametrize("data, expected", [
    # year, month, day or occurrence, hour, minute, second, milliseconds, day of the week
    (struct.pack("<8H", 0, 11, 1, 2, 0, 0, 0, 0), "first Sunday of November at 02:00"),
    (struct.pack("<8H", 0, 3, 5, 3, 0, 0, 0, 0), "last Sunday of March at 03:00"),
    (struct.pack("<8H", 0, 9, 5, 23, 59, 0, 0, 4), "last Thursday of September at 23:59"),
    (struct.pack("<8H", 0, 4, 1, 2, 0, 0, 0, 9), "first day-of-week 9 of April at 02:00"),
    (struct.pack("<8H", 2007, 3, 11, 2, 0, 0, 0, 0), "2007-03-11 02:00"),
    (bytes(16), None),
    (bytes(3), None),
])
def test_time_zone_transitions(data, expected):
    assert system_identity.transition_text(data) == expected


def test_corpus_system(corpus_dir):
    # Checked by hand with `orvane ls SYSTEM ControlSet001\Control\ComputerName\ComputerName`,
    # `... Enum\USBSTOR\Disk&Ven_HP&Prod_v100w&Rev_1024` and `... Session Manager\AppCompatCache`.
    hive = orvane.Hive.open(str(corpus_dir / "SYSTEM"))
    result = orvane_artifacts.extract(hive)
    assert result.kind == "SYSTEM" and result.problems == []
    records = result.records
    assert records["computer_name"][0]["computer_name"] == "WKS-WIN732BITA"
    assert records["computer_name"][0]["domain"] == "shieldbase.local"
    assert records["timezone"][0]["time_zone_key_name"] == "Eastern Standard Time"
    assert records["timezone"][0]["bias"] == 300
    # Eastern time since 2007: back on the first Sunday of November, forward on the second of March.
    assert records["timezone"][0]["standard_start"] == "first Sunday of November at 02:00"
    assert records["timezone"][0]["daylight_start"] == "second Sunday of March at 02:00"
    assert records["usbstor"][0]["serial"] == "AA951D0000007252"
    assert len(records["shimcache"]) == 330 and records["shimcache"][0]["format"] == "7"
    assert records["mounted_devices"][0]["partition_offset"] == 1048576
    assert len(records["services"]) == 416
    for extractor in orvane_artifacts.extractors():
        for record in records.get(extractor.name, []):
            assert tuple(record) == extractor.field_names


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=600), st.sampled_from([None, "x86", "AMD64"]))
def test_random_bytes_through_the_shimcache_decoder(data, arch):
    shimcache.parse(data, arch)


@settings(max_examples=200, deadline=None)
@given(st.sampled_from([0xDEADBEEF, 0xBADC0FFE, 0xBADC0FEE, 0x80, 0x30, 0x34]), st.binary(max_size=800))
def test_random_bytes_behind_each_shimcache_header(magic, rest):
    data = struct.pack("<I", magic) + rest
    shimcache.parse(data)
    if len(data) > magic:
        shimcache.parse(data[:magic] + b"10ts" + rest)


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=64))
def test_random_bytes_through_the_small_decoders(data):
    mounted_devices.decode_mount(data)
    system_identity.transition_text(data)
    decoders.systemtime(data)
    decoders.utf16z(data)
    decoders.utf16_list(data)
    decoders.sid(data)
    decoders.guid(data)
    decoders.filetime_at(data)
    system_settings.rename_pairs(data)


@pytest.mark.parametrize("location", ["Services\\bam\\State\\UserSettings", "Services\\bam\\UserSettings",
                                      "Services\\dam\\UserSettings"])
def test_bam_entries_in_each_location(open_tree, location):
    from artifact_hives import dword
    user = path_tree(f"ControlSet001\\{location}\\S-1-5-21-1-2-3-1001", [
        binary("\\Device\\HarddiskVolume3\\Windows\\cmd.exe", struct.pack("<QQII", T1, 0, 0, 2)),
        binary("Short", b"\1\2\3"),
        dword("SequenceNumber", 5),
    ])
    [record] = orvane_artifacts.extract(open_tree(system(user)), ["bam"]).records["bam"]
    assert (record["sid"], record["program"], record["last_run"], record["source"]) == (
        "S-1-5-21-1-2-3-1001", "\\Device\\HarddiskVolume3\\Windows\\cmd.exe", WHEN, location.split("\\")[1])


def settings_hive(*paths, sets=(1,), current=1):
    return system(*[path_tree(f"ControlSet{n:03d}\\{path}", values) for n in sets for path, values in paths],
                  sets=sets, current=current)


SETTINGS = [
    ("Control\\Nls\\CodePage", [text("ACP", "1251"), text("OEMCP", "866")]),
    ("Control\\FileSystem", [dword("NtfsDisableLastAccessUpdate", 0x80000003)]),
    ("Control\\CrashControl", [dword("CrashDumpEnabled", 1), dword("FilterPages", 1)]),
    ("Control\\Session Manager\\Memory Management", [texts("PagingFiles", "C:\\pagefile.sys 1024 4096",
                                                           "D:\\pagefile.sys 0 0")]),
    ("Control\\Session Manager\\Environment", [text("PROCESSOR_ARCHITECTURE", "AMD64"),
                                               text("NUMBER_OF_PROCESSORS", "8")]),
    ("Control\\SafeBoot\\Minimal\\evil", [text("", "Service")]),
    ("Control\\SecurityProviders\\WDigest", [dword("UseLogonCredential", 1)]),
    ("Control\\Lsa", [texts("Security Packages", "kerberos", "mimilib")]),
    ("Services\\Tcpip\\Parameters\\PersistentRoutes", [text("10.0.0.0,255.0.0.0,192.168.1.1,5", "")]),
    ("Control\\BackupRestore\\FilesNotToSnapshot", [texts("Mine", "C:\\secret\\*", "D:\\x")]),
]
RENAMES = "\\??\\C:\\a.tmp\0\0\\??\\C:\\new.dll\0!\\??\\C:\\Windows\\old.dll\0\0"


def test_system_settings_read_what_each_setting_means(open_tree):
    from hive_builder import REG_MULTI_SZ, Value

    paths = SETTINGS + [("Control\\Session Manager",
                              [Value("PendingFileRenameOperations", REG_MULTI_SZ, RENAMES.encode("utf-16-le"))])]
    result = orvane_artifacts.extract(open_tree(settings_hive(*paths)), ["system_settings"])
    assert result.problems == []
    found = {(r["name"], r["value"], r["meaning"]) for r in result.records["system_settings"]}
    assert found == {
        ("ansi_code_page", "1251", "Cyrillic"),
        ("oem_code_page", "866", "OEM Russian"),
        ("ntfs_last_access_updates", "0x80000003", "last-access times not updated (managed by the system)"),
        ("crash_dump", "1", "active memory dump"),
        ("page_file", "C:\\pagefile.sys 1024 4096", "page file of 1024 MB initially, 4096 MB at most"),
        ("page_file", "D:\\pagefile.sys 0 0", "page file sized by the system"),
        ("processor_architecture", "AMD64", "64-bit x64"),
        ("processor_count", "8", "logical processors"),
        ("safe_boot_minimal", "evil", "started in safe mode (Service)"),
        ("wdigest_use_logon_credential", "1", "clear-text passwords kept in LSASS memory"),
        ("lsa_security_packages", "kerberos; mimilib", "security support providers LSASS loads"),
        ("persistent_route", "10.0.0.0,255.0.0.0,192.168.1.1,5",
         "to 10.0.0.0 mask 255.0.0.0 via 192.168.1.1, metric 5"),
        ("files_not_to_snapshot", "C:\\secret\\*; D:\\x", "files left out of volume shadow copies"),
        ("pending_file_rename", "\\??\\C:\\a.tmp", "deleted at the next boot"),
        ("pending_file_rename", "\\??\\C:\\new.dll",
         "moved to \\??\\C:\\Windows\\old.dll at the next boot (replacing a file there)"),
    }
    for record in result.records["system_settings"]:
        assert record["control_set"] == "ControlSet001" and record["key_path"].startswith("ControlSet001\\")


@pytest.mark.parametrize("path, value, problem", [
    ("Control\\CrashControl", binary("CrashDumpEnabled", b"\1\2\3"),
     "CrashDumpEnabled is REG_BINARY of 3 bytes, not a number"),
    ("Control\\Nls\\CodePage", text("ACP", "latin"), "ACP is REG_SZ of 12 bytes, not a number"),
    ("Control\\Lsa", dword("Security Packages", 7), "Security Packages is REG_DWORD of 4 bytes, not a list"),
    ("Services\\Tcpip\\Parameters\\PersistentRoutes", text("10.0.0.0,255.0.0.0", ""),
     "route '10.0.0.0,255.0.0.0' is not destination,mask,gateway,metric"),
    ("Control\\Session Manager", text("PendingFileRenameOperations", "C:\\x"),
     "PendingFileRenameOperations is REG_SZ of 10 bytes, not a list of strings"),
    ("Control\\Session Manager", texts("PendingFileRenameOperations", "\\??\\C:\\a", "\\??\\C:\\b", "\\??\\C:\\c"),
     "PendingFileRenameOperations: '\\\\??\\\\C:\\\\c' has no target"),
])
def test_system_settings_malformed_values_are_problems(open_tree, path, value, problem):
    result = orvane_artifacts.extract(open_tree(settings_hive((path, [value]))), ["system_settings"])
    [line] = result.problems
    assert line.startswith(f"system_settings: ControlSet001\\{path}: ") and problem in line


def test_system_settings_per_control_set_and_none_without_keys(open_tree):
    hive = open_tree(settings_hive(SETTINGS[0], sets=(1, 2), current=2))
    every = orvane_artifacts.extract(hive, ["system_settings"], all_control_sets=True)
    assert [(r["control_set"], r["name"]) for r in every.records["system_settings"]] == [
        ("ControlSet001", "ansi_code_page"), ("ControlSet001", "oem_code_page"),
        ("ControlSet002", "ansi_code_page"), ("ControlSet002", "oem_code_page")]
    empty = orvane_artifacts.extract(open_tree(system()), ["system_settings"])
    assert empty.records["system_settings"] == [] and empty.problems == []


@pytest.mark.parametrize("stored, pairs, problems", [
    (["a", "b", "c", ""], [("a", "b"), ("c", "")], 0),      # an empty target (delete) does not end the list
    (["a", "", "", "x"], [("a", "")], 0),                  # an empty source does
    (["a"], [("a", None)], 1),
    ([], [], 0),
])
def test_rename_pairs(stored, pairs, problems):
    data = "".join(s + "\0" for s in stored).encode("utf-16-le") + b"\0\0"
    found, found_problems = system_settings.rename_pairs(data)
    assert found == pairs and len(found_problems) == problems


def test_corpus_system_settings(corpus_dir):
    # By hand: `orvane ls SYSTEM ControlSet001\Control\Nls\CodePage`, `...\Control\SecurityProviders\WDigest`,
    # `...\Control\FileSystem`, `...\Services\Tcpip\Parameters\PersistentRoutes`, `...\Control\SafeBoot`.
    result = orvane_artifacts.extract(orvane.Hive.open(str(corpus_dir / "SYSTEM")), ["system_settings"])
    assert result.problems == []
    records = result.records["system_settings"]
    by_name = {}
    for record in records:
        by_name.setdefault(record["name"], []).append(record["value"])
    assert by_name["ansi_code_page"] == ["1252"] and by_name["oem_code_page"] == ["437"]
    assert by_name["wdigest_use_logon_credential"] == ["1"]
    assert by_name["ntfs_last_access_updates"] == ["1"] and by_name["crash_dump"] == ["2"]
    assert by_name["page_file"] == ["?:\\pagefile.sys"] and by_name["processor_architecture"] == ["x86"]
    assert by_name["lsa_security_packages"] == ["kerberos; msv1_0; schannel; wdigest; tspkg; pku2u"]
    assert by_name["persistent_route"] == ["0.0.0.0,0.0.0.0,192.168.1.1,-1", "0.0.0.0,0.0.0.0,10.3.58.1,-1"]
    assert (len(by_name["safe_boot_minimal"]), len(by_name["safe_boot_network"])) == (60, 121)
    assert len(by_name["files_not_to_backup"]) == 22
