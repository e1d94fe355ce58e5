"""The report page: one HTML file with its style, script and data inline.

The summary is written as markup (a few rows per hive, every text from a hive
escaped); the chart and the tables are drawn by the page's script from the
data embedded once as JSON, so a table of 100,000 rows costs its JSON and
not 100,000 rows of markup. The page fetches nothing: its content security
policy forbids every load, so even a mistake cannot make it reach out.
"""

from __future__ import annotations

from datetime import datetime, timezone
from html import escape
from pathlib import Path

import orvane
from orvane_cli.report.collect import DELETED_COLUMNS, TIMELINE_COLUMNS, Collected
from orvane_cli.report.embed import script_json
from orvane_cli.report.histogram import bin_times
from orvane_cli.times import iso
from orvane_cli.values import one_line

HERE = Path(__file__).resolve().parent
SECTIONS = (("summary", "Summary"), ("activity", "Activity over time"), ("timeline", "Timeline"),
            ("artifacts", "Artifacts"), ("deleted", "Deleted records"))
POLICY = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:"


def _text(value: object) -> str:
    return escape(one_line(str(value)), quote=True)


def _summary_rows(facts: dict[str, object]) -> list[tuple[str, str]]:
    state = "dirty" if facts["dirty"] else "clean"
    checksum = "matches" if facts["checksum_matches"] else "does not match"
    logs = facts["logs_applied"]
    return [
        ("kind detected", facts.get("kind") or "(unknown)"),
        ("sequence numbers", f"{facts['primary_sequence']} / {facts['secondary_sequence']} ({state})"),
        ("logs applied", ", ".join(logs) if logs else "none"),
        ("timestamp", facts["timestamp"] or "(none)"),
        ("version", facts["version"]),
        ("file name", facts["file_name"] or "(none)"),
        ("checksum in file", f"{facts['checksum']:#010x} ({checksum})"),
        ("hive bins", f"{facts['hive_bins']:,} ({facts['hive_bins_size']:#x} bytes)"),
        ("keys", f"{facts['keys']:,}"),
        ("values", f"{facts['values']:,}"),
        ("deepest path", f"{facts['max_depth']} levels"),
        ("deleted keys", f"{facts['deleted_keys']:,}"),
        ("deleted values", f"{facts['deleted_values']:,} (not listed by a deleted key)"),
    ]


def _summary(collected: Collected, failed: list[str]) -> str:
    parts: list[str] = []
    for number, hive in enumerate(collected.hives):
        facts = hive["facts"]
        rows = "".join(f'<tr><th scope="row">{_text(label)}</th><td data-fact="{_text(label)}">{_text(value)}</td></tr>'
                       for label, value in _summary_rows(facts))
        problems = hive["problems"]
        listed = "".join(f"<li>{_text(line)}</li>" for line in problems)
        parts.append(
            f'<article class="hive" data-hive="{number}"><h3><span class="swatch s{number % 10}"></span>'
            f'{_text(hive["label"])}</h3><table class="facts">{rows}</table>'
            f'<p class="problem-count">{len(problems)} problem{"" if len(problems) == 1 else "s"} met</p>'
            f'{f"<ul class=problems>{listed}</ul>" if listed else ""}</article>')
    if failed:
        listed = "".join(f"<li>{_text(line)}</li>" for line in failed)
        parts.append(f'<article class="failed"><h3>Not read</h3><ul class="problems">{listed}</ul></article>')
    return "".join(parts) or "<p>No hive could be read.</p>"


def _placeholders(collected: Collected) -> tuple[str, str]:
    """The artifact and deleted sections' headings and empty table holders,
    filled by the script."""
    artifacts = "".join(
        f'<div class="artifact" id="artifact-{_text(name)}" data-artifact="{_text(name)}">'
        f'<h3>{_text(name)} <small>{len(table["rows"]):,} records</small></h3>'
        f'<p class="description">{_text(table["description"])}</p><div class="table"></div></div>'
        for name, table in sorted(collected.artifacts.items())) or "<p>No artifact gave records.</p>"
    deleted = "".join(
        f'<div class="deleted-hive" data-hive="{number}"><h3>{_text(hive["label"])} '
        f'<small>{len(collected.deleted[number]):,} records</small></h3><div class="table"></div></div>'
        for number, hive in enumerate(collected.hives))
    return artifacts, deleted


def page_data(collected: Collected, title: str) -> dict[str, object]:
    chart = bin_times(collected.key_times, collected.event_times)
    return {
        "title": title,
        "hives": [{"label": hive["label"], "kind": hive["facts"].get("kind")} for hive in collected.hives],
        "timeline": {"columns": TIMELINE_COLUMNS,
                     "rows": [[iso(t) if t else "", number, kind, text]
                              for t, number, kind, text in collected.timeline]},
        "chart": chart.as_json() if chart else None,
        "deleted": {"columns": DELETED_COLUMNS, "tables": collected.deleted},
        "artifacts": [{"name": name, "columns": table["columns"], "rows": table["rows"]}
                      for name, table in sorted(collected.artifacts.items())],
    }


def build_page(collected: Collected, title: str, failed: list[str] | None = None,
               now: datetime | None = None) -> str:
    now = now or datetime.now(timezone.utc)
    artifacts, deleted = _placeholders(collected)
    nav = "".join(f'<a href="#{anchor}">{heading}</a>' for anchor, heading in SECTIONS)
    count = len(collected.hives)
    sections = {
        "summary": _summary(collected, failed or []),
        "activity": '<div id="chart-controls"></div><div id="chart"></div><p id="chart-note"></p>',
        "timeline": '<div class="table" id="timeline-table"></div>',
        "artifacts": artifacts,
        "deleted": deleted or "<p>No hive could be read.</p>",
    }
    body = "".join(f'<section id="{anchor}"><h2>{heading}</h2>{sections[anchor]}</section>'
                   for anchor, heading in SECTIONS)
    style = (HERE / "report.css").read_text(encoding="utf-8")
    script = (HERE / "report.js").read_text(encoding="utf-8")
    return (
        '<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">'
        f'<meta http-equiv="Content-Security-Policy" content="{POLICY}">'
        '<meta name="viewport" content="width=device-width, initial-scale=1">'
        f'<title>{_text(title)}</title><style>{style}</style></head>\n<body>'
        f'<header><h1>{_text(title)}</h1><p class="generated">{count} hive{"" if count == 1 else "s"}, '
        f'written by orvane {_text(orvane.__version__)} at {now:%Y-%m-%d %H:%M:%S} UTC</p>'
        f'<nav>{nav}</nav></header>\n<main>{body}</main>\n'
        f'<script type="application/json" id="report-data">{script_json(page_data(collected, title))}</script>\n'
        f'<script>{script}</script>\n</body></html>\n')
