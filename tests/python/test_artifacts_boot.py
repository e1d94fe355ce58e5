"""boot_entries on a builder store (default, display order, missing
elements) and on the corpus BCD."""

from __future__ import annotations

import sys

import orvane
import pytest
from artifact_hives import dword, hive_of, path_tree, text, texts
from cli_runner import SRC

sys.path.insert(0, str(SRC))

import orvane_artifacts  # noqa: E402

MANAGER = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}"
LOADER, OTHER = "{11111111-0000-0000-0000-000000000001}", "{11111111-0000-0000-0000-000000000002}"


def store(default_value):
    def obj(guid, object_type, *elements):
        return [path_tree(f"Objects\\{guid}\\Description", [dword("Type", object_type)]),
                *[path_tree(f"Objects\\{guid}\\Elements\\{name}", [value]) for name, value in elements]]
    return hive_of(path_tree("Description", [text("KeyName", "BCD00000000")]),
                   *obj(MANAGER, 0x10100002, ("23000003", default_value),
                        ("24000001", texts("Element", OTHER.upper(), LOADER))),
                   *obj(LOADER, 0x10200003, ("12000004", text("Element", "Windows 10")),
                        ("22000002", text("Element", "\\Windows"))),
                   *obj(OTHER, 0x10200005))


@pytest.mark.parametrize("default, expected", [(LOADER.upper(), LOADER), ("{nope}", None)])
def test_default_and_display_order(open_tree, default, expected):
    result = orvane_artifacts.extract(open_tree(store(text("Element", default))))
    assert result.kind == "BCD" and result.problems == []
    by_guid = {r["guid"]: r for r in result.records["boot_entries"]}
    assert [g for g, r in by_guid.items() if r["is_default"]] == ([expected] if expected else [])
    assert (by_guid[OTHER]["display_position"], by_guid[LOADER]["display_position"]) == (0, 1)
    assert by_guid[LOADER]["description"] == "Windows 10" and by_guid[LOADER]["system_root"] == "\\Windows"
    assert by_guid[OTHER]["object_type_name"] == "memory tester" and by_guid[OTHER]["description"] is None


def test_corpus_bcd(corpus_dir):
    # By hand: `orvane ls BCD Objects\{733b62e5-f608-11eb-825c-c112f60133ab}\Elements\12000004`.
    result = orvane_artifacts.extract(orvane.Hive.open(str(corpus_dir / "BCD")))
    assert result.kind == "BCD" and result.problems == []
    [default] = [r for r in result.records["boot_entries"] if r["is_default"]]
    assert (default["guid"], default["description"], default["path"], default["display_position"]) == (
        "{733b62e5-f608-11eb-825c-c112f60133ab}", "Windows 10", "\\Windows\\system32\\winload.efi", 0)
    assert len(result.records["boot_entries"]) == 17
