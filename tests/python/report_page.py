"""Test-side reading of a page written by `orvane report`, with html.parser:
its sections, the references it makes, its scripts and the embedded data."""

from __future__ import annotations

import json
from html.parser import HTMLParser

# Attributes that make a browser load something when they name a place.
LOADING_ATTRIBUTES = {"src", "href", "srcset", "action", "formaction", "poster", "data", "background", "xlink:href"}


class Page(HTMLParser):
    def __init__(self, text: str) -> None:
        super().__init__(convert_charrefs=True)
        self.tags: list[str] = []
        self.ids: set[str] = set()
        self.references: list[tuple[str, str, str]] = []  # (tag, attribute, value)
        self.scripts: list[tuple[dict[str, str | None], str]] = []
        self.styles: list[str] = []
        self.texts: list[str] = []
        self.facts: dict[str, list[str]] = {}  # summary label -> the value of each hive
        self._script: dict[str, str | None] | None = None
        self._style = False
        self._fact: str | None = None
        self._chunks: list[str] = []
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        attributes = dict(attrs)
        if attributes.get("id"):
            self.ids.add(attributes["id"])
        for name, value in attrs:
            if name in LOADING_ATTRIBUTES:
                self.references.append((tag, name, value or ""))
        if tag == "script":
            self._script, self._chunks = attributes, []
        elif tag == "style":
            self._style, self._chunks = True, []
        elif tag == "td" and "data-fact" in attributes:
            self._fact, self._chunks = attributes["data-fact"], []

    def handle_endtag(self, tag):
        if tag == "script" and self._script is not None:
            self.scripts.append((self._script, "".join(self._chunks)))
            self._script = None
        elif tag == "style" and self._style:
            self.styles.append("".join(self._chunks))
            self._style = False
        elif tag == "td" and self._fact is not None:
            self.facts.setdefault(self._fact, []).append("".join(self._chunks))
            self._fact = None

    def handle_data(self, data):
        if self._script is not None or self._style or self._fact is not None:
            self._chunks.append(data)
        if self._script is None and not self._style:
            self.texts.append(data)

    def data(self) -> dict:
        (text,) = [body for attributes, body in self.scripts if attributes.get("type") == "application/json"]
        return json.loads(text)

    def data_text(self) -> str:
        return next(body for attributes, body in self.scripts if attributes.get("type") == "application/json")


def read_page(path) -> Page:
    with open(path, encoding="utf-8") as f:
        return Page(f.read())
