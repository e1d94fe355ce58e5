"""Data for the page as JSON inside a <script> element, inert whatever the
hives hold.

A script element's text ends at the first "</script" and is read by the HTML
parser before any JSON parser sees it, so no "<" may appear in it; ">" and
"&" are escaped too so that no "<!--", "-->" or character reference forms,
and U+2028/U+2029 because older JavaScript engines end a line at them. These
characters only ever occur inside JSON strings, where their \\u escapes mean
the same text.
"""

from __future__ import annotations

import json

# Replaced one after the other: str.replace is many times faster than
# str.translate on the megabytes of a large hive's page.
_ESCAPES = (("<", "\\u003c"), (">", "\\u003e"), ("&", "\\u0026"), ("\u2028", "\\u2028"), ("\u2029", "\\u2029"))


def script_json(data: object) -> str:
    """data as JSON text safe to place between <script type="application/json"> and </script>."""
    text = json.dumps(data, ensure_ascii=False, separators=(",", ":"), allow_nan=False)
    for character, escape in _ESCAPES:
        if character in text:
            text = text.replace(character, escape)
    return text
