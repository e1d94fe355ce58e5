"""What a SOFTWARE hive says about the installation and its users: the
Windows version, installed programs (also a user's own, from NTUSER), the
profiles on disk, the networks joined and who logged on last."""

from __future__ import annotations

import re
from collections.abc import Iterator
from datetime import date

from orvane_artifacts.binary import filetime, flag_names, sid, systemtime, systemtime_fields, unix_time
from orvane_artifacts.framework import (
    BOOL, INT, KEY_LAST_WRITTEN, KEY_PATH, NTUSER, SOFTWARE, STR, STRS, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import Report, Values, entries, find, join, last_written

CURRENT_VERSION = "Microsoft\\Windows NT\\CurrentVersion"
UNINSTALL = "Microsoft\\Windows\\CurrentVersion\\Uninstall"
PROFILE_LIST = CURRENT_VERSION + "\\ProfileList"
NETWORK_LIST = CURRENT_VERSION + "\\NetworkList"
LOGON_UI = "Microsoft\\Windows\\CurrentVersion\\Authentication\\LogonUI"
WINLOGON = CURRENT_VERSION + "\\Winlogon"


def product(product_name: str | None, build: int | None, installation_type: str | None) -> str | None:
    """ProductName, corrected: Windows 11 still stores "Windows 10 ...";
    a client build 22000 or later is Windows 11."""
    if (product_name and product_name.startswith("Windows 10") and build is not None and build >= 22000
            and installation_type in (None, "Client")):
        return "Windows 11" + product_name[len("Windows 10"):]
    return product_name


def _os_version(hive, context: Context) -> Iterator[dict]:
    key = find(hive, CURRENT_VERSION)
    if key is None:
        return
    values = Values(key)
    report = context.at(CURRENT_VERSION)
    build = values.number("CurrentBuildNumber", report)
    if build is None:
        build = values.number("CurrentBuild", report)
    name = values.text("ProductName", report)
    kind = values.text("InstallationType", report)
    install_time = values.number("InstallTime", report)
    yield {
        "product_name": name,
        "product": product(name, build, kind),
        "edition_id": values.text("EditionID", report),
        "installation_type": kind,
        "current_version": values.text("CurrentVersion", report),
        "major_version": values.number("CurrentMajorVersionNumber", report),
        "minor_version": values.number("CurrentMinorVersionNumber", report),
        "build": build,
        "ubr": values.number("UBR", report),
        "build_lab": values.text("BuildLabEx") or values.text("BuildLab"),
        "display_version": values.text("DisplayVersion", report),
        "release_id": values.text("ReleaseId", report),
        "service_pack": values.text("CSDVersion", report),
        "install_date": unix_time(values.number("InstallDate", report)),
        "install_time": filetime(install_time),
        "install_time_filetime": install_time,
        "registered_owner": values.text("RegisteredOwner", report),
        "registered_organization": values.text("RegisteredOrganization", report),
        "product_id": values.text("ProductId", report),
        "system_root": values.text("SystemRoot", report),
        "key_path": CURRENT_VERSION,
        "key_last_written": last_written(key),
    }


# (view, path): machine-wide in SOFTWARE, a user's own in NTUSER.
UNINSTALL_KEYS = (("native", UNINSTALL), ("WOW6432Node", "WOW6432Node\\" + UNINSTALL),
                  ("user", "Software\\" + UNINSTALL))
_YYYYMMDD = re.compile(r"(\d{4})(\d{2})(\d{2})")


def install_date_text(text: str | None) -> str | None:
    """Uninstall InstallDate: YYYYMMDD (a date, no time, no zone) as
    YYYY-MM-DD; any other form as stored."""
    if text is None:
        return None
    text = text.strip()
    match = _YYYYMMDD.fullmatch(text)
    if match:
        try:
            return date(*map(int, match.groups())).isoformat()
        except ValueError:
            pass
    return text or None


def _installed_programs(hive, context: Context) -> Iterator[dict]:
    for view, path in UNINSTALL_KEYS:
        for key, key_path, values, report in entries(hive, path, context):
            yield {
                "view": view,
                "key_name": key.name(),
                "name": values.text("DisplayName", report),
                "version": values.text("DisplayVersion", report),
                "publisher": values.text("Publisher", report),
                "install_date": install_date_text(values.text("InstallDate", report)),
                "install_location": values.text("InstallLocation", report),
                "install_source": values.text("InstallSource", report),
                "uninstall_string": values.text("UninstallString", report),
                "estimated_size_kb": values.number("EstimatedSize", report),
                "system_component": values.flag("SystemComponent", report),
                "windows_installer": values.flag("WindowsInstaller", report),
                "key_path": key_path,
                "key_last_written": last_written(key),
            }


WELL_KNOWN = {"S-1-5-18": "LocalSystem", "S-1-5-19": "LocalService", "S-1-5-20": "NetworkService"}
PROFILE_STATES = {
    0x0001: "mandatory", 0x0002: "update_local_cache", 0x0004: "new_local", 0x0008: "new_central",
    0x0010: "update_central", 0x0020: "delete_cache", 0x0040: "upgrade", 0x0080: "guest",
    0x0100: "administrator", 0x0200: "default_net_ready", 0x0400: "slow_link", 0x0800: "temporary",
}


def time_pair(values: Values, prefix: str, report: Report) -> int | None:
    """A FILETIME stored as two DWORDs, <prefix>Low and <prefix>High; None
    when neither is stored, a problem when one is missing or not 4 bytes."""
    low_name, high_name = prefix + "Low", prefix + "High"
    stored = [name for name in (low_name, high_name) if name in values]
    if not stored:
        return None
    if len(stored) == 1:
        report(f"{stored[0]} is stored without {high_name if stored[0] == low_name else low_name}")
        return None
    low, high = values.dword(low_name, report), values.dword(high_name, report)
    if low is None or high is None:
        return None
    return high << 32 | low


def _profile_list(hive, context: Context) -> Iterator[dict]:
    for key, key_path, values, report in entries(hive, PROFILE_LIST, context):
        name = key.name()
        stored_sid = values.raw("Sid")
        sid_text = sid(stored_sid) if stored_sid is not None else None
        if stored_sid is not None and sid_text is None:
            report(f"Sid of {len(stored_sid)} bytes is not a SID")
        state = values.number("State", report)
        bare = name[:-4] if name.lower().endswith(".bak") else name
        load, unload = time_pair(values, "LocalProfileLoadTime", report), \
            time_pair(values, "LocalProfileUnloadTime", report)
        old_load = time_pair(values, "ProfileLoadTime", report)
        yield {
            "sid": name,
            "account": WELL_KNOWN.get(bare),
            "is_backup": bare != name,
            "stored_sid": sid_text,
            "profile_path": values.text("ProfileImagePath", report),
            "state": state,
            "state_names": flag_names(state, PROFILE_STATES) if state is not None else None,
            "flags": values.number("Flags", report),
            "ref_count": values.number("RefCount", report),
            "guid": values.text("Guid", report),
            "local_load_time": filetime(load),
            "local_unload_time": filetime(unload),
            "profile_load_time": filetime(old_load),
            "key_path": key_path,
            "key_last_written": last_written(key),
        }


CATEGORIES = {0: "public", 1: "private", 2: "domain"}
NAME_TYPES = {6: "wired", 23: "broadband (PPP)", 71: "wireless", 243: "mobile broadband"}


def local_systemtime(values: Values, name: str, report: Report):
    """A 16-byte SYSTEMTIME in local time (naive); a problem when it is not
    16 bytes or not a date."""
    raw = values.raw(name)
    if raw is None:
        return None
    if len(raw) != 16:
        report(f"{name} holds {len(raw)} bytes, not a 16-byte SYSTEMTIME")
        if len(raw) < 16:
            return None
    moment = systemtime(raw, local=True)
    if moment is None:
        year, month, _, day, hour, minute, second, millis = systemtime_fields(raw)
        report(f"{name} is not a date ({year}-{month:02d}-{day:02d} {hour:02d}:{minute:02d}:{second:02d}.{millis})")
    return moment


def mac_text(data: bytes | None) -> str | None:
    return None if data is None or len(data) != 6 else "-".join(f"{b:02X}" for b in data)


def _signatures(hive, context: Context) -> dict[str, tuple[str, Values, str]]:
    """Profile GUID (upper case) -> (Managed/Unmanaged, values, key path) of
    its first signature."""
    found: dict[str, tuple[str, Values, str]] = {}
    for source in ("Managed", "Unmanaged"):
        for _, key_path, values, report in entries(hive, join(NETWORK_LIST, "Signatures", source), context):
            guid = values.text("ProfileGuid", report)
            if guid:
                found.setdefault(guid.strip().upper(), (source, values, key_path))
    return found


def _network_profiles(hive, context: Context) -> Iterator[dict]:
    profiles = join(NETWORK_LIST, "Profiles")
    if find(hive, profiles) is None:
        return
    signatures = _signatures(hive, context)
    for key, key_path, values, report in entries(hive, profiles, context):
        category = values.number("Category", report)
        name_type = values.number("NameType", report)
        source, signature, signature_path = signatures.get(key.name().upper(), (None, Values(None), None))
        mac = signature.raw("DefaultGatewayMac")
        if mac is not None and len(mac) != 6:
            context.problem(f"{signature_path}: DefaultGatewayMac holds {len(mac)} bytes, not 6")
        yield {
            "guid": key.name(),
            "name": values.text("ProfileName", report),
            "description": values.text("Description", report),
            "category": category,
            "category_name": None if category is None else CATEGORIES.get(category, f"unknown {category}"),
            "managed": values.flag("Managed", report),
            "name_type": name_type,
            "type_name": None if name_type is None else NAME_TYPES.get(name_type, f"interface type {name_type}"),
            "created": local_systemtime(values, "DateCreated", report),
            "last_connected": local_systemtime(values, "DateLastConnected", report),
            "signature_source": source,
            "default_gateway_mac": mac_text(mac),
            "dns_suffix": signature.text("DnsSuffix"),
            "first_network": signature.text("FirstNetwork"),
            "key_path": key_path,
            "key_last_written": last_written(key),
        }


def _last_logon(hive, context: Context) -> Iterator[dict]:
    logon_ui, winlogon = find(hive, LOGON_UI), find(hive, WINLOGON)
    if logon_ui is None and winlogon is None:
        return
    ui = Values(logon_ui)
    old = Values(winlogon)
    ui_report, old_report = context.at(LOGON_UI), context.at(WINLOGON)
    yield {
        "last_logged_on_user": ui.text("LastLoggedOnUser", ui_report),
        "last_logged_on_sam_user": ui.text("LastLoggedOnSAMUser", ui_report),
        "last_logged_on_user_sid": ui.text("LastLoggedOnUserSID", ui_report),
        "last_logged_on_display_name": ui.text("LastLoggedOnDisplayName", ui_report),
        "selected_user_sid": ui.text("SelectedUserSID", ui_report),
        "default_user_name": old.text("DefaultUserName", old_report),
        "default_domain_name": old.text("DefaultDomainName", old_report),
        "auto_admin_logon": old.flag("AutoAdminLogon", old_report),
        "default_password_stored": "DefaultPassword" in old,
        "key_path": LOGON_UI if logon_ui is not None else WINLOGON,
        "key_last_written": last_written(logon_ui if logon_ui is not None else winlogon),
    }


EXTRACTORS = (
    Extractor("os_version", (SOFTWARE,), "the Windows product, edition, build, install time and owner", (
        Field("product_name", STR, "ProductName as stored (Windows 11 says Windows 10)"),
        Field("product", STR, "the product: ProductName, Windows 11 for a client build 22000 or later"),
        Field("edition_id", STR, "EditionID (Professional, Enterprise, ...)"),
        Field("installation_type", STR, "InstallationType: Client, Server, Server Core"),
        Field("current_version", STR, "CurrentVersion (6.3 on 8.1, 10 and 11)"),
        Field("major_version", INT, "CurrentMajorVersionNumber (10 and later)"),
        Field("minor_version", INT, "CurrentMinorVersionNumber"),
        Field("build", INT, "CurrentBuildNumber (or CurrentBuild)"),
        Field("ubr", INT, "UBR: the update revision after the build (19045.UBR)"),
        Field("build_lab", STR, "BuildLabEx (or BuildLab)"),
        Field("display_version", STR, "DisplayVersion (21H2, ...)"),
        Field("release_id", STR, "ReleaseId (frozen at 2009 on later builds)"),
        Field("service_pack", STR, "CSDVersion (older Windows)"),
        Field("install_date", TIME, "InstallDate: the install or the last feature upgrade"),
        Field("install_time", TIME, "InstallTime (10 and later), the same moment in 100 ns"),
        Field("install_time_filetime", INT, "that time as stored (100 ns since 1601)"),
        Field("registered_owner", STR, "RegisteredOwner"),
        Field("registered_organization", STR, "RegisteredOrganization"),
        Field("product_id", STR, "ProductId"),
        Field("system_root", STR, "SystemRoot (the Windows folder)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _os_version),
    Extractor("installed_programs", (SOFTWARE, NTUSER), "installed programs from the Uninstall keys "
              "(machine, 32-bit and per user)", (
                  Field("view", STR, "native, WOW6432Node (32-bit programs on 64-bit Windows) or user (NTUSER)"),
                  Field("key_name", STR, "the Uninstall subkey's name (the product code for MSI)"),
                  Field("name", STR, "DisplayName (None for updates and components without one)"),
                  Field("version", STR, "DisplayVersion"),
                  Field("publisher", STR, "Publisher"),
                  Field("install_date", STR, "InstallDate: YYYY-MM-DD when stored as YYYYMMDD (a date, no time "
                        "or zone), otherwise as stored"),
                  Field("install_location", STR, "InstallLocation"),
                  Field("install_source", STR, "InstallSource: where it was installed from"),
                  Field("uninstall_string", STR, "UninstallString"),
                  Field("estimated_size_kb", INT, "EstimatedSize in KiB"),
                  Field("system_component", BOOL, "SystemComponent: hidden from the programs list"),
                  Field("windows_installer", BOOL, "WindowsInstaller: installed by MSI"),
                  KEY_PATH,
                  Field("key_last_written", TIME, "last written time of the key (the install or a later change)"),
              ), _installed_programs),
    Extractor("profile_list", (SOFTWARE,), "user profiles on the machine: SID, profile folder, load times, state", (
        Field("sid", STR, "the key name: the profile's SID (a .bak suffix included)"),
        Field("account", STR, "the well-known account of the SID (LocalSystem, LocalService, NetworkService)"),
        Field("is_backup", BOOL, "the key name ends in .bak (a duplicate or temporary profile)"),
        Field("stored_sid", STR, "the Sid value decoded"),
        Field("profile_path", STR, "ProfileImagePath, unexpanded"),
        Field("state", INT, "State as stored (bits)"),
        Field("state_names", STRS, "the names of the State bits (mandatory, temporary, ...)"),
        Field("flags", INT, "Flags as stored"),
        Field("ref_count", INT, "RefCount: sessions using the profile when last written"),
        Field("guid", STR, "Guid: the domain account's object GUID"),
        Field("local_load_time", TIME, "LocalProfileLoadTimeLow/High: the profile last loaded (7 and later)"),
        Field("local_unload_time", TIME, "LocalProfileUnloadTimeLow/High: the profile last unloaded"),
        Field("profile_load_time", TIME, "ProfileLoadTimeLow/High (older Windows; 0 later)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _profile_list),
    Extractor("network_profiles", (SOFTWARE,), "networks the machine joined (NetworkList), with their gateways", (
        Field("guid", STR, "the profile's key name"),
        Field("name", STR, "ProfileName: the SSID or the network's name"),
        Field("description", STR, "Description"),
        Field("category", INT, "Category as stored"),
        Field("category_name", STR, "public, private or domain"),
        Field("managed", BOOL, "Managed: a domain network"),
        Field("name_type", INT, "NameType as stored (the interface type)"),
        Field("type_name", STR, "wired, wireless, broadband (PPP), mobile broadband"),
        Field("created", TIME, "DateCreated, local time (naive: the machine's time zone, see timezone)"),
        Field("last_connected", TIME, "DateLastConnected, local time (naive)"),
        Field("signature_source", STR, "Managed or Unmanaged: the signature key naming the profile"),
        Field("default_gateway_mac", STR, "DefaultGatewayMac of the signature (aa-bb-cc-dd-ee-ff)"),
        Field("dns_suffix", STR, "DnsSuffix of the signature (<none> as stored)"),
        Field("first_network", STR, "FirstNetwork of the signature"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _network_profiles),
    Extractor("last_logon", (SOFTWARE,), "the user last logged on (LogonUI) and Winlogon's default user", (
        Field("last_logged_on_user", STR, "LogonUI LastLoggedOnUser (DOMAIN\\user or .\\user)"),
        Field("last_logged_on_sam_user", STR, "LogonUI LastLoggedOnSAMUser"),
        Field("last_logged_on_user_sid", STR, "LogonUI LastLoggedOnUserSID"),
        Field("last_logged_on_display_name", STR, "LogonUI LastLoggedOnDisplayName"),
        Field("selected_user_sid", STR, "LogonUI SelectedUserSID"),
        Field("default_user_name", STR, "Winlogon DefaultUserName (the last user on XP)"),
        Field("default_domain_name", STR, "Winlogon DefaultDomainName"),
        Field("auto_admin_logon", BOOL, "Winlogon AutoAdminLogon: logs on without a password prompt"),
        Field("default_password_stored", BOOL, "Winlogon holds a DefaultPassword (clear text; never reported)"),
        KEY_PATH,
        Field("key_last_written", TIME, "last written time of LogonUI (about the last logon), else of Winlogon"),
    ), _last_logon),
)
