"""What a SYSTEM hive says about the machine itself: its names, its time
zone and when it was last shut down."""

from __future__ import annotations

import calendar
from collections.abc import Iterator

from orvane_artifacts.binary import filetime_at, signed32, systemtime_fields
from orvane_artifacts.control_sets import control_sets
from orvane_artifacts.framework import (
    BOOL, CONTROL_SET, INT, KEY_LAST_WRITTEN, KEY_PATH, STR, SYSTEM, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, join, last_written

COMPUTER_NAME = "Control\\ComputerName\\ComputerName"
ACTIVE_COMPUTER_NAME = "Control\\ComputerName\\ActiveComputerName"
TCPIP = "Services\\Tcpip\\Parameters"
TIME_ZONE = "Control\\TimeZoneInformation"
WINDOWS = "Control\\Windows"
WATCHDOG = "Control\\Watchdog\\Display"


def _computer_name(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        name_key = child(control_set, COMPUTER_NAME)
        tcpip_key = child(control_set, TCPIP)
        if name_key is None and tcpip_key is None:
            continue
        names = Values(name_key)
        active = Values(child(control_set, ACTIVE_COMPUTER_NAME))  # volatile: only in a live capture
        tcpip = Values(tcpip_key)
        yield {
            "control_set": set_name,
            "computer_name": names.text("ComputerName"),
            "active_computer_name": active.text("ComputerName"),
            "hostname": tcpip.text("Hostname"),
            "domain": tcpip.text("Domain"),
            "nv_hostname": tcpip.text("NV Hostname"),
            "nv_domain": tcpip.text("NV Domain"),
            "dhcp_domain": tcpip.text("DhcpDomain"),
            "key_path": join(set_name, COMPUTER_NAME if name_key is not None else TCPIP),
            "key_last_written": last_written(name_key if name_key is not None else tcpip_key),
        }


_OCCURRENCE = {1: "first", 2: "second", 3: "third", 4: "fourth", 5: "last"}
_WEEKDAYS = ("Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday")


def transition_text(data: bytes | None) -> str | None:
    """A time zone's StandardStart/DaylightStart: a yearly rule ("last Sunday
    of October at 03:00") when the year is 0, a local date and time
    otherwise; None when not stored or month 0 (no transition).

    These two values do not keep the words in SYSTEMTIME order (as the TZI
    value of SOFTWARE's Time Zones does): they hold year, month, day (the
    occurrence 1-5 in a rule), hour, minute, second, milliseconds and, last,
    the day of the week. Real hives show it: Eastern time's rules are stored
    as 0, 11, 1, 2, ..., 0 and 0, 3, 2, 2, ..., 0, the first Sunday of
    November and the second Sunday of March at 02:00; read in SYSTEMTIME
    order they would be a Monday and a Tuesday at midnight."""
    words = systemtime_fields(data) if data else None
    if words is None:
        return None
    year, month, day, hour, minute, second, _, weekday = words
    if not 1 <= month <= 12:
        return None
    at = f"{hour:02d}:{minute:02d}" + (f":{second:02d}" if second else "")
    if year == 0:
        occurrence = _OCCURRENCE.get(day, f"occurrence {day}")
        weekday_name = _WEEKDAYS[weekday] if weekday < 7 else f"day-of-week {weekday}"
        return f"{occurrence} {weekday_name} of {calendar.month_name[month]} at {at}"
    return f"{year:04d}-{month:02d}-{day:02d} {at}"


def _timezone(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        key = child(control_set, TIME_ZONE)
        if key is None:
            continue
        values = Values(key)
        yield {
            "control_set": set_name,
            "time_zone_key_name": values.text("TimeZoneKeyName"),
            "standard_name": values.text("StandardName"),
            "daylight_name": values.text("DaylightName"),
            "bias": signed32(values.number("Bias")),
            "standard_bias": signed32(values.number("StandardBias")),
            "daylight_bias": signed32(values.number("DaylightBias")),
            "active_time_bias": signed32(values.number("ActiveTimeBias")),
            "standard_start": transition_text(values.raw("StandardStart")),
            "daylight_start": transition_text(values.raw("DaylightStart")),
            "dynamic_dst_disabled": values.flag("DynamicDaylightTimeDisabled"),
            "real_time_is_universal": values.flag("RealTimeIsUniversal"),
            "key_path": join(set_name, TIME_ZONE),
            "key_last_written": last_written(key),
        }


def _shutdown(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        key = child(control_set, WINDOWS)
        watchdog = Values(child(control_set, WATCHDOG))
        if key is None:
            continue
        raw = Values(key).raw("ShutdownTime")
        ticks, moment = filetime_at(raw) if raw else (None, None)
        if raw is not None and len(raw) != 8:
            context.problem(f"{join(set_name, WINDOWS)}: ShutdownTime holds {len(raw)} bytes, not 8")
        yield {
            "control_set": set_name,
            "shutdown_time": moment,
            "shutdown_filetime": ticks,
            "shutdown_count": watchdog.number("ShutdownCount"),
            "key_path": join(set_name, WINDOWS),
            "key_last_written": last_written(key),
        }


EXTRACTORS = (
    Extractor("computer_name", (SYSTEM,), "the computer name and the TCP/IP host name and domain", (
        CONTROL_SET,
        Field("computer_name", STR, "NetBIOS computer name (Control\\ComputerName\\ComputerName)"),
        Field("active_computer_name", STR, "the volatile active name, present only in a live capture"),
        Field("hostname", STR, "TCP/IP host name"),
        Field("domain", STR, "TCP/IP domain"),
        Field("nv_hostname", STR, "host name set for the next boot"),
        Field("nv_domain", STR, "domain set for the next boot"),
        Field("dhcp_domain", STR, "domain given by DHCP"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _computer_name),
    Extractor("timezone", (SYSTEM,), "the time zone the machine's local times are in", (
        CONTROL_SET,
        Field("time_zone_key_name", STR, "the time zone's key name (Vista and later)"),
        Field("standard_name", STR, "standard time name as stored (an @tzres.dll,-NNN reference included)"),
        Field("daylight_name", STR, "daylight time name as stored"),
        Field("bias", INT, "minutes to add to local time for UTC (signed: UTC+1 is -60)"),
        Field("standard_bias", INT, "minutes added to bias in standard time (signed)"),
        Field("daylight_bias", INT, "minutes added to bias in daylight time (signed, usually -60)"),
        Field("active_time_bias", INT, "the bias in force when last written, daylight time included (signed)"),
        Field("standard_start", STR, "change to standard time: a yearly rule or a local date and time"),
        Field("daylight_start", STR, "change to daylight time: a yearly rule or a local date and time"),
        Field("dynamic_dst_disabled", BOOL, "automatic daylight saving adjustment switched off"),
        Field("real_time_is_universal", BOOL, "the hardware clock keeps UTC"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _timezone),
    Extractor("shutdown", (SYSTEM,), "the last clean shutdown time, and the shutdown count where stored", (
        CONTROL_SET,
        Field("shutdown_time", TIME, "last clean shutdown (Control\\Windows\\ShutdownTime)"),
        Field("shutdown_filetime", INT, "that time as stored (100 ns since 1601)"),
        Field("shutdown_count", INT, "shutdowns counted (Control\\Watchdog\\Display, older Windows)"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _shutdown),
)
