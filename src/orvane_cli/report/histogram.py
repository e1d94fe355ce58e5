"""The bins of the activity chart: key last-written times (and artifact
event times) counted per hour, day, month or year.

The unit is the finest one that keeps the chart under MAX_BINS bars over the
times' range. A few stray times (a key stamped 1601 or 2107 by a damaged
clock) would stretch that range over centuries and squeeze the real activity
into one bar, so the range is that of the central times: the thousandth at
each end may fall outside it, and is counted as earlier or later instead.
Bins start on calendar boundaries (UTC); their edges are given as the same
ISO 8601 texts the tables hold, so that the page compares texts, not numbers
(stored times do not fit a JavaScript number).
"""

from __future__ import annotations

from bisect import bisect_right

from orvane_cli.times import TICKS_PER_SECOND, iso

MAX_BINS = 366
OUTLIER_SHARE = 1000  # at most one time in this many on each side is left out of the range
HOUR = 3600 * TICKS_PER_SECOND
DAY = 24 * HOUR
UNITS = ("hour", "day", "month", "year")
_DAYS_1601_TO_0000_03_01 = 584_694  # days from 0000-03-01 to 1601-01-01, proleptic Gregorian


def _civil(days: int) -> tuple[int, int]:
    """(year, month) of the day `days` after 1601-01-01."""
    z = days + _DAYS_1601_TO_0000_03_01
    era, doe = divmod(z, 146_097)
    yoe = (doe - doe // 1460 + doe // 36_524 - doe // 146_096) // 365
    doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
    mp = (5 * doy + 2) // 153
    month = mp + 3 if mp < 10 else mp - 9
    return yoe + era * 400 + (month <= 2), month


def _month_index(filetime: int) -> int:
    year, month = _civil(filetime // DAY)
    return year * 12 + month - 1


def _month_text(index: int) -> str:
    year, month0 = divmod(index, 12)
    return f"{year:04d}-{month0 + 1:02d}-01T00:00:00.0000000Z"


def central_range(times: list[int]) -> tuple[int, int]:
    """(low, high) of the sorted times without the strays at each end."""
    cut = len(times) // OUTLIER_SHARE
    return times[cut], times[len(times) - 1 - cut]


def choose_unit(low: int, high: int) -> str:
    """The finest unit that counts [low, high] in at most MAX_BINS bins."""
    if high // HOUR - low // HOUR < MAX_BINS:
        return "hour"
    if high // DAY - low // DAY < MAX_BINS:
        return "day"
    if _month_index(high) - _month_index(low) < MAX_BINS:
        return "month"
    return "year"


def _slot(unit: str):
    """The function giving a time's slot number in that unit, and the slot's start as text."""
    if unit == "hour":
        return (lambda t: t // HOUR), (lambda s: iso(s * HOUR))
    if unit == "day":
        return (lambda t: t // DAY), (lambda s: iso(s * DAY))
    if unit == "month":
        return _month_index, _month_text
    return (lambda t: _month_index(t) // 12), (lambda s: _month_text(s * 12))


class Bins:
    """Counts per series (one per hive) and artifact events per bin."""

    def __init__(self, unit: str, first_slot: int, bins: int, series: int) -> None:
        self.unit = unit
        slot, start_text = _slot(unit)
        self._slot = slot
        self.first = first_slot
        self.edges = [start_text(first_slot + i) for i in range(bins + 1)]
        self.counts = [[0] * bins for _ in range(series)]
        self.events = [0] * bins
        self.earlier = 0
        self.later = 0

    def index(self, filetime: int) -> int | None:
        """The bin of a time, or None when it falls outside (counted as earlier or later)."""
        at = self._slot(filetime) - self.first
        if at < 0:
            self.earlier += 1
            return None
        if at >= len(self.events):
            self.later += 1
            return None
        return at

    def as_json(self) -> dict[str, object]:
        return {"unit": self.unit, "edges": self.edges, "counts": self.counts, "events": self.events,
                "earlier": self.earlier, "later": self.later}


def bin_times(key_times: list[list[int]], event_times: list[int]) -> Bins | None:
    """The chart of the key times of each hive (one list per hive; 0, never
    written, left out by the caller) with the artifact event times marked;
    None when there is no time at all."""
    every = sorted(t for times in key_times for t in times) or sorted(event_times)
    if not every:
        return None
    low, high = central_range(every)
    unit = choose_unit(low, high)
    slot, _ = _slot(unit)
    first = slot(low)
    bins = Bins(unit, first, slot(high) - first + 1, len(key_times))
    for series, times in enumerate(key_times):
        counts = bins.counts[series]
        for t in times:
            at = bins.index(t)
            if at is not None:
                counts[at] += 1
    # Events outside the keys' range are not bars of their own: they sit in
    # the tables and are not counted as stray keys either.
    earlier, later = bins.earlier, bins.later
    for t in event_times:
        at = bins.index(t)
        if at is not None:
            bins.events[at] += 1
    bins.earlier, bins.later = earlier, later
    return bins


def bin_of_text(edges: list[str], text: str) -> int | None:
    """The bin an ISO text falls in (edges[i] <= text < edges[i+1]), as the page finds it."""
    at = bisect_right(edges, text) - 1
    return at if 0 <= at < len(edges) - 1 else None
