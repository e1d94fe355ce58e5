"""orvane report: the chart's bins, the inert data, and the page written for
the corpus hives and for a hive whose names and data hold markup."""

import json
from datetime import datetime, timezone
from html.parser import HTMLParser

import pytest

import orvane
from cli_runner import run
from hive_builder import BASE, REG_SZ, HiveBuilder, Key, Value, nk_payload, sz, utf16
from orvane_cli.hives import open_hive
from orvane_cli.report import histogram
from orvane_cli.report.collect import cell, time_text
from orvane_cli.report.embed import script_json
from orvane_cli.times import parse_iso
from report_page import read_page

SECTIONS = ["summary", "activity", "timeline", "artifacts", "deleted"]
CORPUS_HIVES = ["BCD", "NTUSER.DAT", "UsrClass.dat", "SAM", "SECURITY", "SYSTEM", "amcache.hve"]
HOSTILE = [
    "<script>alert(1)</script>",
    "</script><script>alert(2)</script>",
    "<img src=x onerror=alert(3)>",
    "<!-- a comment -->&amp;&lt;",
    "line\u2028separator\u2029paragraph",
    "]]></svg><svg onload=alert(4)>",
]


def ft(text: str) -> int:
    return parse_iso(text)


# --- the chart's bins ---------------------------------------------------------

@pytest.mark.parametrize("first, last, unit", [
    ("2021-08-05T10:00:00", "2021-08-05T10:59:59", "hour"),
    ("2021-08-05T10:30:00", "2021-08-20T09:00:00", "hour"),    # 359 hours: still under the bar limit
    ("2021-08-05T10:30:00", "2021-08-21T10:30:00", "day"),
    ("2021-01-01T00:00:00", "2021-12-31T23:59:59", "day"),
    ("2020-01-01T00:00:00", "2021-01-01T00:00:00", "month"),   # 367 days
    ("1990-01-01T00:00:00", "2020-06-30T00:00:00", "month"),
    ("1980-01-01T00:00:00", "2021-01-01T00:00:00", "year"),
])
def test_unit_is_the_finest_under_the_bar_limit(first, last, unit):
    bins = histogram.bin_times([[ft(first), ft(last)]], [])
    assert bins.unit == unit
    assert len(bins.edges) - 1 <= histogram.MAX_BINS
    assert sum(bins.counts[0]) == 2


@pytest.mark.parametrize("unit_times, unit, first_edge", [
    (["2021-08-05T10:17:00", "2021-08-05T13:00:00"], "hour", "2021-08-05T10:00:00.0000000Z"),
    (["2021-08-05T10:17:00", "2021-09-05T13:00:00"], "day", "2021-08-05T00:00:00.0000000Z"),
    (["2020-02-29T23:59:59", "2021-09-05T13:00:00"], "month", "2020-02-01T00:00:00.0000000Z"),
    (["1999-12-31T23:59:59", "2040-01-01T00:00:00"], "year", "1999-01-01T00:00:00.0000000Z"),
])
def test_bins_start_on_calendar_boundaries(unit_times, unit, first_edge):
    bins = histogram.bin_times([[ft(t) for t in unit_times]], [])
    assert (bins.unit, bins.edges[0]) == (unit, first_edge)
    # Each time lies in the bin whose edges hold its text, as the page compares them.
    for text in unit_times:
        at = histogram.bin_of_text(bins.edges, text + ".0000000Z")
        assert at is not None and bins.counts[0][at] >= 1


@pytest.mark.parametrize("text, month_start, next_month", [
    ("2020-02-29T23:59:59", "2020-02-01", "2020-03-01"),
    ("2020-03-01T00:00:00", "2020-03-01", "2020-04-01"),
    ("2019-12-31T23:59:59", "2019-12-01", "2020-01-01"),
    ("1601-01-01T00:00:01", "1601-01-01", "1601-02-01"),
    ("2100-03-01T00:00:00", "2100-03-01", "2100-04-01"),
])
def test_month_bins_follow_the_calendar(text, month_start, next_month):
    # Two times a decade apart force month bins; the first bin is the month of `text`.
    bins = histogram.bin_times([[ft(text), ft(text) + 10 * 365 * histogram.DAY]], [])
    assert bins.unit == "month"
    assert bins.edges[0][:10] == month_start
    assert bins.edges[1][:10] == next_month


def test_stray_times_are_counted_outside_the_chart():
    day = [ft("2021-08-05T10:00:00") + i * histogram.HOUR // 100 for i in range(5000)]
    strays = [ft("1601-01-02T00:00:00"), ft("2107-01-01T00:00:00")]
    bins = histogram.bin_times([day[:2500], day[2500:] + strays], [ft("1700-01-01T00:00:00"), day[0]])
    assert bins.unit == "hour"
    assert (bins.earlier, bins.later) == (1, 1)
    assert sum(map(sum, bins.counts)) == 5000
    assert [sum(series) for series in bins.counts] == [2500, 2500]
    assert sum(bins.events) == 1  # the event in 1700 lies outside and is no stray key


@pytest.mark.parametrize("keys, events, expected", [
    ([[]], [], None),
    ([[], []], [], None),
])
def test_no_times_give_no_chart(keys, events, expected):
    assert histogram.bin_times(keys, events) is expected


def test_events_alone_still_give_a_chart():
    bins = histogram.bin_times([[]], [ft("2021-08-05T10:00:00"), ft("2021-08-05T12:00:00")])
    assert bins.unit == "hour" and sum(bins.events) == 2


# --- data inert inside <script> ----------------------------------------------

class ScriptText(HTMLParser):
    def __init__(self):
        super().__init__()
        self.scripts, self.inside, self.tags = [], False, []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        if tag == "script":
            self.inside = True
            self.scripts.append("")

    def handle_endtag(self, tag):
        self.inside = self.inside and tag != "script"

    def handle_data(self, data):
        if self.inside:
            self.scripts[-1] += data


@pytest.mark.parametrize("text", HOSTILE + ["\\u003c", "\ud800 lone", "a\x00b", "\u00e9\u4e2d"])
def test_embedded_json_is_one_inert_script_text(text):
    embedded = script_json({"name": text, "rows": [[text, 1]]})
    for character in "<>&\u2028\u2029":
        assert character not in embedded
    parser = ScriptText()
    parser.feed(f'<script type="application/json">{embedded}</script><p>after</p>')
    assert parser.tags == ["script", "p"]
    assert json.loads(parser.scripts[0]) == {"name": text, "rows": [[text, 1]]}


@pytest.mark.parametrize("value, expected", [
    (datetime(2021, 8, 5, 16, 16, 12, 790642, tzinfo=timezone.utc), "2021-08-05T16:16:12.7906420Z"),
    (datetime(2021, 8, 5, 16, 16, 12), "2021-08-05T16:16:12.0000000"),  # a local time keeps no zone
    (datetime(987, 1, 2, tzinfo=timezone.utc), "0987-01-02T00:00:00.0000000Z"),
    (b"\x00\xff", "00ff"),
    (["a", "b"], "a; b"),
    (True, True),
    (None, None),
    (2 ** 53 - 1, 2 ** 53 - 1),
    (132_000_000_000_000_000, "132000000000000000"),  # past what a JavaScript number holds exactly
    (-(2 ** 60), str(-(2 ** 60))),
])
def test_artifact_cells_become_json_values_the_page_keeps_exact(value, expected):
    assert cell(value) == expected


def test_time_texts_sort_as_the_times():
    moments = [datetime(2021, 8, 5, 16, 16, 12, us, tzinfo=timezone.utc) for us in (0, 9, 10, 999_999)]
    assert sorted(map(time_text, moments)) == list(map(time_text, moments))


# --- the page for the corpus -------------------------------------------------

@pytest.fixture(scope="module")
def corpus_report(corpus_dir, tmp_path_factory):
    out = tmp_path_factory.mktemp("report") / "corpus.html"
    paths = [str(corpus_dir / name) for name in CORPUS_HIVES]
    result = run("report", *paths, "-o", out, "--title", "Case 17")
    assert result.returncode == 0, result.stderr
    return paths, read_page(out)


def assert_self_contained(page):
    assert not [tag for tag in page.tags if tag in ("link", "img", "iframe", "object", "embed", "base", "frame")]
    assert all(value.startswith("#") for _, _, value in page.references), page.references
    assert all("src" not in attributes for attributes, _ in page.scripts)
    for text in page.styles:
        assert "url(" not in text and "@import" not in text


def test_corpus_page_is_self_contained_with_every_section(corpus_report):
    paths, page = corpus_report
    assert_self_contained(page)
    assert set(SECTIONS) <= page.ids
    assert [t for t in page.tags if t == "section"] == ["section"] * len(SECTIONS)
    assert "Case 17" in page.texts
    assert [hive["label"] for hive in page.data()["hives"]] == paths


def test_corpus_page_counts_equal_the_api(corpus_report):
    paths, page = corpus_report
    data = page.data()
    rows = data["timeline"]["rows"]
    written = 0
    for number, path in enumerate(paths):
        hive = open_hive(path).hive  # the logs beside UsrClass.dat applied, as the command does
        keys = [(key.last_written_filetime(), path) for path, key in hive.walk()]
        assert [row[3] for row in rows if row[1] == number and row[2] == "key"] == \
            [p for _, p in sorted(keys, key=lambda entry: entry[0])]
        assert page.facts["keys"][number] == f"{len(keys):,}"
        assert page.facts["values"][number] == f"{sum(k.value_count() for _, k in hive.walk()):,}"
        deleted_keys = hive.deleted_keys()
        listed = {value.offset() for key in deleted_keys for value in key.values()}
        loose = [value for value in hive.deleted_values() if value.offset() not in listed]
        table = data["deleted"]["tables"][number]
        assert [row[1] for row in table if row[0] == "key"] == [key.partial_path() for key in deleted_keys]
        assert len(table) == len(deleted_keys) + len(loose)
        assert page.facts["deleted keys"][number] == f"{len(deleted_keys):,}"
        written += sum(1 for t, _ in keys if t)
    chart = data["chart"]
    assert sum(map(sum, chart["counts"])) + chart["earlier"] + chart["later"] == written
    assert len(chart["counts"]) == len(paths)
    # Sorted by time across hives; keys never written have no time and come first.
    times = [row[0] for row in rows]
    assert times == sorted(times)


def test_corpus_artifact_tables_and_events_equal_the_extractors(corpus_report):
    import orvane_artifacts
    from orvane_cli import artifact_rows

    paths, page = corpus_report
    data = page.data()
    tables = data["artifacts"]
    events = sorted(tuple(row[1:]) for row in data["timeline"]["rows"] if row[2] != "key")
    expected_events = []
    expected_counts: dict[str, int] = {}
    for number, path in enumerate(paths):
        opened = open_hive(path)
        for name, records in orvane_artifacts.extract(opened.hive).records.items():
            if records:
                expected_counts[name] = expected_counts.get(name, 0) + len(records)
        expected_events += [(number, name, text) for _, (name, text) in artifact_rows.rows(opened)]
    assert {table["name"]: len(table["rows"]) for table in tables} == expected_counts
    assert events == sorted(expected_events)
    assert events, "the corpus hives hold timed artifact records"


def test_corpus_page_tells_the_logs_applied(corpus_report):
    paths, page = corpus_report
    logs = page.facts["logs applied"]
    assert "UsrClass.dat.LOG1" in logs[CORPUS_HIVES.index("UsrClass.dat")]
    assert logs[CORPUS_HIVES.index("BCD")] == "none"


# --- a hive that holds markup --------------------------------------------------

def hostile_hive(path) -> str:
    b = HiveBuilder()
    b.raw(48, utf16(HOSTILE[2])[:62])  # the base block's file name
    values = [Value(text, REG_SZ, sz(HOSTILE[(n + 1) % len(HOSTILE)])) for n, text in enumerate(HOSTILE)]
    subkeys = [Key(text, last_written=ft("2021-08-05T10:00:00") + n * histogram.HOUR)
               for n, text in enumerate(HOSTILE)]
    root = b.tree(Key("ROOT", values, subkeys, flags=0x2C, last_written=ft("2021-08-05T09:00:00")))
    gone = b.add_cell(nk_payload(HOSTILE[1], parent=root, last_written=ft("2021-08-04T00:00:00")))
    b.free(gone)  # a deleted key whose name is markup
    return b.write(path)


def test_markup_from_a_hive_comes_out_as_text(tmp_path):
    hive = hostile_hive(tmp_path / "<b>hive&amp;.dat")
    out = tmp_path / "page.html"
    result = run("report", hive, "-o", out, "--title", "<script>title</script>")
    assert result.returncode == 0, result.stderr
    page = read_page(out)
    text = out.read_text(encoding="utf-8")
    # Only the page's own two scripts, and no element the hive's texts name.
    assert [attributes.get("type") for attributes, _ in page.scripts] == ["application/json", None]
    assert not {"img", "b", "svg"} & set(page.tags)
    assert_self_contained(page)
    embedded = page.data_text()
    assert "<" not in embedded and "\u2028" not in embedded
    data = page.data()
    assert {row[3] for row in data["timeline"]["rows"]} >= set(HOSTILE)
    assert [row[1] for row in data["deleted"]["tables"][0]] == [HOSTILE[1]]
    assert data["title"] == "<script>title</script>"
    # The markup parts of the page show them as text: the title, the hive's path, its file name.
    assert "<script>title</script>" in page.texts
    assert hive in page.texts or any(hive in t for t in page.texts)
    assert page.facts["file name"] == [HOSTILE[2][:31]]
    assert text.count("<script") == 2


# --- the command line ----------------------------------------------------------

def test_a_hive_that_cannot_be_read_is_named_and_the_others_still_go(tmp_path, write_hive):
    good = hostile_hive(tmp_path / "good.dat")
    bad = write_hive(b"not a hive" * 100, "bad.dat")
    out = tmp_path / "page.html"
    result = run("report", bad, good, "-o", out)
    assert result.returncode == 1
    assert f"orvane: {bad}: " in result.stderr
    page = read_page(out)
    assert [hive["label"] for hive in page.data()["hives"]] == [good]
    assert any(t.startswith(f"{bad}: ") for t in page.texts)
    assert {row[1] for row in page.data()["timeline"]["rows"]} == {0}


@pytest.mark.parametrize("window, kept", [
    (["--since", "2021-08-05T11:00:00"], 5),
    (["--until", "2021-08-05T11:00:00Z"], 3),  # the root at 09:00, keys at 10:00 and 11:00
    (["--since", "2021-08-05T11:00", "--until", "2021-08-05T12:00"], 2),
    (["--since", "2030-01-01"], 0),
])
def test_since_and_until_narrow_the_timeline_and_the_chart(tmp_path, window, kept):
    hive = hostile_hive(tmp_path / "h.dat")
    out = tmp_path / "page.html"
    assert run("report", hive, "-o", out, *window).returncode == 0
    data = read_page(out).data()
    assert len(data["timeline"]["rows"]) == kept
    assert (sum(map(sum, data["chart"]["counts"])) if data["chart"] else 0) == kept


@pytest.mark.parametrize("arguments, message", [
    (["HIVE"], "the following arguments are required: -o/--output"),
    (["HIVE", "-o", "x.html", "--since", "yesterday"], "not an ISO 8601 time"),
    (["HIVE", "HIVE", "-o", "x.html", "--logs", "a.LOG1"], "log paths can be given for one hive only"),
])
def test_usage_errors_exit_2(tmp_path, arguments, message):
    hive = hostile_hive(tmp_path / "h.dat")
    result = run("report", *[hive if a == "HIVE" else a for a in arguments], cwd=tmp_path)
    assert result.returncode == 2
    assert message in result.stderr


def test_version_shown_is_the_module_one(tmp_path):
    hive = hostile_hive(tmp_path / "h.dat")
    out = tmp_path / "page.html"
    run("report", hive, "-o", out)
    assert f"orvane {orvane.__version__}" in " ".join(read_page(out).texts)
