import lzma
import os
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
DATA = HERE.parent / "data"
CORPUS = DATA / "corpus"


def pytest_configure(config):
    # The test command names the extension it just built: a stale installed
    # copy found first on the path must not be what gets tested.
    built = os.environ.get("ORVANE_BUILT_MODULE")
    if built:
        import orvane
        if not os.path.samefile(orvane.__file__, built):
            raise pytest.UsageError(f"imported {orvane.__file__}, not the fresh build {built}")


@pytest.fixture(scope="session")
def corpus_dir(tmp_path_factory):
    """The corpus hives and logs, decompressed once per session."""
    out = tmp_path_factory.mktemp("corpus")
    for packed in sorted(CORPUS.glob("*.xz")):
        (out / packed.stem).write_bytes(lzma.decompress(packed.read_bytes()))
    return out


@pytest.fixture
def write_hive(tmp_path):
    """Writes bytes (or a HiveBuilder) to a fresh file and returns its path."""
    counter = iter(range(1_000_000))

    def write(data, name=None):
        if hasattr(data, "build"):
            data = data.build()
        path = tmp_path / (name or f"hive{next(counter)}")
        path.write_bytes(data)
        return str(path)

    return write


@pytest.fixture
def open_tree(write_hive):
    """Writes a key tree (a hive_builder.Key) or a HiveBuilder to a file and
    opens it as an orvane.Hive."""
    import orvane
    from hive_builder import HiveBuilder

    def open_(tree):
        builder = tree
        if not isinstance(tree, HiveBuilder):
            builder = HiveBuilder()
            builder.tree(tree)
        return orvane.Hive.open(write_hive(builder))

    return open_
