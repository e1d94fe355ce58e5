"""Key and base block times: counts of 100 ns intervals since 1601-01-01 UTC.

They are shown as ISO 8601 with all seven fractional digits and a "Z", computed
with integers so that no precision is lost and every stored count, even one far
beyond the year 9999, has a text.
"""

from __future__ import annotations

import re
from datetime import datetime, timezone

TICKS_PER_SECOND = 10_000_000
_DAYS_1601_TO_1970 = 134_774
_EPOCH = datetime(1601, 1, 1, tzinfo=timezone.utc)
_dates: dict[int, str] = {}


def _date(days: int) -> str:
    """The calendar date `days` after 1601-01-01 (proleptic Gregorian)."""
    text = _dates.get(days)
    if text is None:
        # Days to civil date, counting eras of 400 years from 0000-03-01.
        z = days - _DAYS_1601_TO_1970 + 719_468
        era, doe = divmod(z, 146_097)
        yoe = (doe - doe // 1460 + doe // 36_524 - doe // 146_096) // 365
        doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
        mp = (5 * doy + 2) // 153
        day = doy - (153 * mp + 2) // 5 + 1
        month = mp + 3 if mp < 10 else mp - 9
        year = yoe + era * 400 + (month <= 2)
        text = _dates[days] = f"{year:04d}-{month:02d}-{day:02d}"
    return text


def iso(filetime: int) -> str:
    """"2020-01-02T03:04:05.1234567Z" for a stored time."""
    seconds, fraction = divmod(filetime, TICKS_PER_SECOND)
    days, second_of_day = divmod(seconds, 86_400)
    hours, rest = divmod(second_of_day, 3600)
    minutes, secs = divmod(rest, 60)
    return f"{_date(days)}T{hours:02d}:{minutes:02d}:{secs:02d}.{fraction:07d}Z"


def iso_or_empty(filetime: int) -> str:
    """A stored 0 means "never written": shown as an empty text."""
    return iso(filetime) if filetime else ""


_ISO = re.compile(r"(\d{4}-\d\d-\d\d(?:[T ]\d\d:\d\d(?::\d\d)?)?)(?:\.(\d{1,7}))?(Z|[+-]\d\d:?\d\d)?",
                  re.IGNORECASE)


TICKS_PER_DAY = 86_400 * TICKS_PER_SECOND


def parse_iso(text: str, *, end_of_day: bool = False) -> int:
    """The stored-time count for an ISO 8601 text ("2020-01-02",
    "2020-01-02T03:04:05.1234567Z", "2020-01-02T04:04:05+01:00"); a time
    without a zone is UTC. A date alone is the start of that day, or with
    `end_of_day` its last tick (so an --until date takes in the whole day).
    Raises ValueError for anything else."""
    match = _ISO.fullmatch(text.strip())
    if match is None:
        raise ValueError(f"not an ISO 8601 time: {text!r}")
    base, fraction, zone = match.groups()
    if end_of_day and len(base) == 10 and fraction is None:
        return parse_iso(text) + TICKS_PER_DAY - 1
    if zone and zone.upper() != "Z":
        base += zone
    moment = datetime.fromisoformat(base)
    if moment.tzinfo is None:
        moment = moment.replace(tzinfo=timezone.utc)
    delta = moment - _EPOCH
    if delta.days < 0:
        raise ValueError(f"before 1601-01-01: {text!r}")
    seconds = delta.days * 86_400 + delta.seconds
    return seconds * TICKS_PER_SECOND + int((fraction or "").ljust(7, "0"))
