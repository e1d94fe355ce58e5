"""pyarrow for the Parquet writers: an extra, imported on first use."""

from __future__ import annotations

import os

from orvane_cli.options import UsageError


def load_parquet():
    """(pyarrow, pyarrow.parquet), or the usage error that says how to get them."""
    # pyarrow's default allocator keeps what one batch freed for the next,
    # which raises a one-shot writer's peak by a fifth; the C library's gives
    # it back and writes as fast. Arrow reads the choice once, at import; a
    # choice of the user's own stands.
    os.environ.setdefault("ARROW_DEFAULT_MEMORY_POOL", "system")
    try:
        import pyarrow
        import pyarrow.parquet
    except ImportError:
        raise UsageError("parquet output needs pyarrow: pip install 'orvane[parquet]'") from None
    return pyarrow, pyarrow.parquet
