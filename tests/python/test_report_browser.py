"""The report of the corpus hives in a real browser: Debian's chromium,
headless, driven through chromium-driver. A browser that cannot start fails
the test: the page's script is only tested here."""

import shutil
from pathlib import Path

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from cli_runner import run
from report_page import read_page

BUILD = Path(__file__).resolve().parent.parent.parent / "build"
CORPUS_HIVES = ["BCD", "NTUSER.DAT", "UsrClass.dat", "SAM", "SECURITY", "SYSTEM", "amcache.hve"]
TIMELINE = "#timeline-table"


def find(program: str) -> str:
    found = shutil.which(program) or shutil.which(program, path="/usr/bin:/usr/lib/chromium")
    assert found, f"{program} is not installed (apt-get install chromium chromium-driver)"
    return found


@pytest.fixture(scope="module")
def report(corpus_dir, tmp_path_factory):
    out = tmp_path_factory.mktemp("browser") / "corpus.html"
    result = run("report", *[corpus_dir / name for name in CORPUS_HIVES], "-o", out)
    assert result.returncode == 0, result.stderr
    return out, read_page(out).data()


@pytest.fixture(scope="module")
def browser():
    options = Options()
    options.binary_location = find("chromium")
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1400,2200", "--hide-scrollbars"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(find("chromedriver")), options=options)
    try:
        yield driver
    finally:
        driver.quit()


@pytest.fixture(scope="module")
def loaded(browser, report):
    path, data = report
    browser.get(path.as_uri())
    WebDriverWait(browser, 30).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
    return browser, data


def shown(driver, holder=TIMELINE) -> int:
    return int(driver.find_element(By.CSS_SELECTOR, holder).get_attribute("data-shown"))


def column(driver, at: int, holder=TIMELINE) -> list[str]:
    return driver.execute_script(
        "return Array.from(document.querySelectorAll(arguments[0] + ' tbody tr:not(.gap)'))"
        ".map(row => row.children[arguments[1]].textContent)", holder, at)


def wait_for(driver, condition):
    WebDriverWait(driver, 10).until(lambda d: condition())


def test_loads_without_console_errors_and_draws_bars(loaded):
    driver, data = loaded
    severe = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    assert severe == []
    bars = driver.find_elements(By.CSS_SELECTOR, "#chart rect.bar")
    assert len(bars) == sum(1 for series in data["chart"]["counts"] for count in series if count) > 0
    assert driver.find_elements(By.CSS_SELECTOR, "#chart circle.event") or not any(data["chart"]["events"])
    total = len(data["timeline"]["rows"])
    assert shown(driver) == total
    # Only the rows in view are in the document, however many the table has.
    assert 10 < len(column(driver, 3)) < 100 < total


def test_sorting_a_column_reorders_rows(loaded):
    driver, data = loaded
    heading = driver.find_elements(By.CSS_SELECTOR, f"{TIMELINE} thead th")[3]
    before = column(driver, 3)
    heading.click()
    wait_for(driver, lambda: heading.get_attribute("aria-sort") == "ascending")
    ascending = column(driver, 3)
    assert ascending != before and ascending == sorted(ascending)
    assert ascending[0] == min(row[3] for row in data["timeline"]["rows"])
    heading.click()
    wait_for(driver, lambda: heading.get_attribute("aria-sort") == "descending")
    descending = column(driver, 3)
    assert descending == sorted(descending, reverse=True)
    assert descending[0] == max(row[3] for row in data["timeline"]["rows"])


def test_scrolling_draws_the_rows_at_the_end(loaded):
    driver, data = loaded
    driver.execute_script("const v = document.querySelector(arguments[0] + ' .view'); v.scrollTop = v.scrollHeight;",
                          TIMELINE)
    wait_for(driver, lambda: column(driver, 3)[-1] == min(row[3] for row in data["timeline"]["rows"]))


def test_text_filter_narrows_the_timeline(loaded):
    driver, data = loaded
    box = driver.find_element(By.CSS_SELECTOR, f"{TIMELINE} input")
    term = "explorer"
    expected = sum(1 for row in data["timeline"]["rows"]
                   if term in "\u0001".join([row[0], data["hives"][row[1]]["label"], row[2], row[3]]).lower())
    assert 0 < expected < len(data["timeline"]["rows"])
    box.send_keys(term)
    wait_for(driver, lambda: shown(driver) == expected)
    assert all(term in text.lower() for text in column(driver, 3))
    box.clear()
    box.send_keys(" ")  # an input event: back to every row after the text is cleared
    box.clear()
    driver.execute_script("arguments[0].dispatchEvent(new Event('input'))", box)
    wait_for(driver, lambda: shown(driver) == len(data["timeline"]["rows"]))


def test_histogram_range_selection_narrows_the_timeline(loaded):
    driver, data = loaded
    chart = data["chart"]
    # Drag across the tallest bar and a few bins either side of it.
    totals = [sum(series[i] for series in chart["counts"]) for i in range(len(chart["events"]))]
    tallest = totals.index(max(totals))
    bar = driver.find_element(By.CSS_SELECTOR, f'#chart rect.bar[data-bin="{tallest}"]')
    width = float(bar.get_attribute("width")) + 1
    ActionChains(driver).move_to_element(bar).move_by_offset(-int(2 * width), 0).click_and_hold() \
        .move_by_offset(int(4 * width), 0).release().perform()
    holder = driver.find_element(By.ID, "chart")
    wait_for(driver, lambda: holder.get_attribute("data-from"))
    start, end = holder.get_attribute("data-from"), holder.get_attribute("data-to")
    assert start <= chart["edges"][tallest] < end
    expected = sum(1 for row in data["timeline"]["rows"] if start <= row[0] < end)
    wait_for(driver, lambda: shown(driver) == expected)
    assert 0 < expected < len(data["timeline"]["rows"])
    assert all(start <= text < end for text in column(driver, 0))
    BUILD.mkdir(exist_ok=True)
    driver.save_screenshot(str(BUILD / "report-corpus.png"))
    driver.find_element(By.ID, "clear-selection").click()
    wait_for(driver, lambda: shown(driver) == len(data["timeline"]["rows"]))


def test_hive_boxes_narrow_the_timeline_and_the_chart(loaded):
    driver, data = loaded
    boxes = driver.find_elements(By.CSS_SELECTOR, "#chart-controls input[type=checkbox]")
    assert len(boxes) == len(data["hives"])
    system = CORPUS_HIVES.index("SYSTEM")
    for number, box in enumerate(boxes):
        if number != system:
            box.click()
    expected = sum(1 for row in data["timeline"]["rows"] if row[1] == system)
    wait_for(driver, lambda: shown(driver) == expected)
    assert {bar.get_attribute("data-hive") for bar in driver.find_elements(By.CSS_SELECTOR, "#chart rect.bar")} \
        == {str(system)}
    for number, box in enumerate(boxes):
        if number != system:
            box.click()
    wait_for(driver, lambda: shown(driver) == len(data["timeline"]["rows"]))


def test_every_table_is_drawn(loaded):
    driver, data = loaded
    for number, table in enumerate(data["deleted"]["tables"]):
        holder = f'.deleted-hive[data-hive="{number}"] .table'
        assert shown(driver, holder) == len(table)
    for artifact in data["artifacts"]:
        holder = f'.artifact[data-artifact="{artifact["name"]}"] .table'
        assert shown(driver, holder) == len(artifact["rows"])
