"""Programs Windows starts by itself, from SOFTWARE (machine-wide, native
and WOW6432Node) and NTUSER (the user's own): Run keys, Winlogon's shell
and userinit, AppInit_DLLs, debuggers set in Image File Execution Options,
Browser Helper Objects and Active Setup stubs. One record per entry; the
same locations in the other hive kind are simply not there."""

from __future__ import annotations

from collections.abc import Iterator

from orvane_artifacts.framework import (
    KEY_LAST_WRITTEN, KEY_PATH, NTUSER, SOFTWARE, STR, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, entries, find, join, last_written, subkeys

CURRENT_VERSION = "Microsoft\\Windows\\CurrentVersion"
NT_CURRENT_VERSION = "Microsoft\\Windows NT\\CurrentVersion"
RUN_KEYS = ("Run", "RunOnce", "RunServices", "RunServicesOnce", "Policies\\Explorer\\Run")
WINLOGON_VALUES = ("Shell", "Userinit", "Taskman")
USER_WINDOWS_VALUES = ("Load", "Run")
VIEWS = (("native", ""), ("WOW6432Node", "WOW6432Node\\"))


def _entry(location: str, view: str, name: str, command: str | None, description: str | None,
           path: str, key) -> dict:
    return {"location": location, "view": view, "name": name, "command": command, "description": description,
            "key_path": path, "key_last_written": last_written(key)}


def _every_value(hive, context, location, view, path) -> Iterator[dict]:
    key = find(hive, path)
    if key is None:
        return
    values = Values(key)
    for name in values.names():
        yield _entry(location, view, name, values.text(name, context.at(path)), None, path, key)


def _some_values(hive, context, location, view, path, names) -> Iterator[dict]:
    """The named values that hold something (an empty Shell or AppInit_DLLs
    is the stock state, not an entry)."""
    key = find(hive, path)
    if key is None:
        return
    values = Values(key)
    for name in names:
        command = values.text(name, context.at(path))
        if command:
            yield _entry(location, view, name, command, None, path, key)


def _debuggers(hive, context, view, path) -> Iterator[dict]:
    for key, key_path, values, report in entries(hive, path, context):
        debugger = values.text("Debugger", report)
        if debugger:
            yield _entry("Image File Execution Options", view, key.name(), debugger, None, key_path, key)


def _in_process_server(hive, view: str, clsid: str) -> str | None:
    """The DLL a class ID loads: Classes\\CLSID\\{...}\\InprocServer32, the
    32-bit registration first for the WOW6432Node view."""
    places = ("Classes\\Wow6432Node\\CLSID", "Classes\\CLSID") if view != "native" else ("Classes\\CLSID",)
    for place in places:
        key = find(hive, join(place, clsid, "InprocServer32"))
        if key is not None:
            return Values(key).text("")
    return None


def _browser_helpers(hive, view, path) -> Iterator[dict]:
    for key in subkeys(find(hive, path)):
        yield _entry("Browser Helper Objects", view, key.name(), _in_process_server(hive, view, key.name()),
                     Values(key).text(""), join(path, key.name()), key)


def _active_setup(hive, context, view, path) -> Iterator[dict]:
    for key, key_path, values, report in entries(hive, path, context):
        stub = values.text("StubPath", report)
        if stub:
            yield _entry("Active Setup", view, key.name(), stub, values.text(""), key_path, key)


def _machine(hive, context: Context) -> Iterator[dict]:
    for view, prefix in VIEWS:
        for run in RUN_KEYS:
            yield from _every_value(hive, context, run, view, prefix + join(CURRENT_VERSION, run))
        yield from _some_values(hive, context, "AppInit_DLLs", view, prefix + join(NT_CURRENT_VERSION, "Windows"),
                                ("AppInit_DLLs",))
        yield from _debuggers(hive, context, view, prefix + join(NT_CURRENT_VERSION, "Image File Execution Options"))
        yield from _browser_helpers(hive, view,
                                    prefix + join(CURRENT_VERSION, "Explorer\\Browser Helper Objects"))
        yield from _active_setup(hive, context, view, prefix + "Microsoft\\Active Setup\\Installed Components")
    yield from _some_values(hive, context, "Winlogon", "native", join(NT_CURRENT_VERSION, "Winlogon"),
                            WINLOGON_VALUES)


def _user(hive, context: Context) -> Iterator[dict]:
    software = "Software\\"
    for run in ("Run", "RunOnce", "Policies\\Explorer\\Run"):
        yield from _every_value(hive, context, run, "native", software + join(CURRENT_VERSION, run))
    yield from _some_values(hive, context, "Winlogon", "native", software + join(NT_CURRENT_VERSION, "Winlogon"),
                            ("Shell",))
    yield from _some_values(hive, context, "Windows", "native", software + join(NT_CURRENT_VERSION, "Windows"),
                            USER_WINDOWS_VALUES)


def _extract(hive, context: Context) -> Iterator[dict]:
    yield from _machine(hive, context)
    yield from _user(hive, context)


EXTRACTORS = (
    Extractor("autostart", (SOFTWARE, NTUSER), "programs started at boot or logon: Run keys, Winlogon, "
              "AppInit_DLLs, IFEO debuggers, BHOs, Active Setup", (
                  Field("location", STR, "Run, RunOnce, RunServices, RunServicesOnce, Policies\\Explorer\\Run, "
                        "Winlogon, AppInit_DLLs, Image File Execution Options, Browser Helper Objects, "
                        "Active Setup, Windows (NTUSER Load and Run)"),
                  Field("view", STR, "native, or WOW6432Node (32-bit programs on 64-bit Windows)"),
                  Field("name", STR, "the value name (Run, Winlogon, Windows), the program (Image File Execution "
                        "Options) or the class ID / component GUID"),
                  Field("command", STR, "what runs, unexpanded: the command line, the DLLs, the debugger, a "
                        "helper object's InprocServer32 DLL, Active Setup's StubPath"),
                  Field("description", STR, "the name a helper object or Active Setup component gives itself"),
                  KEY_PATH, KEY_LAST_WRITTEN,
              ), _extract),
)
