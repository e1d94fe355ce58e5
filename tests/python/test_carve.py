"""orvane.carve(): hives, fragments and loose records found in images built
from the corpus hives."""

from __future__ import annotations

import random
import struct

import pytest

import orvane


def readable(corpus_dir, name: str) -> bytes:
    """The corpus hive up to the end of its hive bins data."""
    data = (corpus_dir / name).read_bytes()
    return data[: 4096 + struct.unpack_from("<I", data, 40)[0]]


def noise(size: int, seed: int) -> bytes:
    return random.Random(seed).randbytes(size)


def bin_starts(hive: bytes) -> list[int]:
    starts, at = [], 4096
    while at < len(hive):
        starts.append(at)
        at += struct.unpack_from("<I", hive, at + 8)[0]
    return starts


def key_count(hive: orvane.Hive) -> int:
    return sum(1 for _ in hive.walk())


@pytest.mark.parametrize("name", ["SAM", "BCD", "SECURITY"])
@pytest.mark.parametrize("before, memory", [(0, False), (7 * 512, False), (4099, True)])
def test_hive_inside_noise_is_carved_whole(corpus_dir, tmp_path, name, before, memory):
    hive = readable(corpus_dir, name)
    image = tmp_path / "image.raw"
    image.write_bytes(noise(before, 1) + hive + noise(5000, 2))
    items = orvane.carve(str(image), memory=memory)
    assert [(i.kind, i.image_offset, i.size, i.truncated) for i in items] == [("hive", before, len(hive), False)]
    item = items[0]
    assert item.reconstructed_from == []
    assert item.file_name == orvane.Hive.open(str(corpus_dir / name)).base_block().file_name
    item.save(str(tmp_path / "out.dat"))
    assert (tmp_path / "out.dat").read_bytes() == hive
    assert key_count(item.hive()) == key_count(orvane.Hive.open(str(corpus_dir / name)))


def test_hive_whose_middle_lies_elsewhere_is_rebuilt(corpus_dir, tmp_path):
    hive = readable(corpus_dir, "SAM")
    gap = bin_starts(hive)[2]
    head, tail = hive[:gap], hive[gap:]
    image = tmp_path / "image.raw"
    image.write_bytes(head + noise(1536, 3) + tail)
    [item] = orvane.carve(str(image))
    assert item.kind == "hive" and not item.truncated
    assert item.reconstructed_from == [0, gap + 1536]
    item.save(str(tmp_path / "out.dat"))
    assert (tmp_path / "out.dat").read_bytes() == hive
    assert f"Reconstructed from parts at image offsets 0x0 {hex(gap + 1536)}" in item.hive().problems()


def test_fragment_opens_with_its_missing_bins_noted(corpus_dir, tmp_path):
    hive = readable(corpus_dir, "SAM")
    image = tmp_path / "image.raw"
    image.write_bytes(noise(512, 4) + hive[8192:])
    [item] = orvane.carve(str(image))
    assert (item.kind, item.hive_offset, item.file_name) == ("fragment", 4096, None)
    assert any("missing" in line for line in item.hive().problems())


def test_truncated_hive_is_marked_and_opens(corpus_dir, tmp_path):
    hive = readable(corpus_dir, "SAM")
    cut = bin_starts(hive)[3]
    image = tmp_path / "image.raw"
    image.write_bytes(hive[: cut + 100])
    [item] = orvane.carve(str(image))
    assert (item.kind, item.size, item.truncated) == ("hive", cut, True)
    assert item.hive().problems()


def test_loose_records_of_a_page_without_its_header(corpus_dir, tmp_path):
    hive = readable(corpus_dir, "SAM")
    pages = [bytearray(hive[at:at + 4096]) for at in bin_starts(hive)]
    for page in pages:
        page[:32] = b"\x5a" * 32  # the bin headers gone: no fragment, only records
    image = tmp_path / "memory.raw"
    image.write_bytes(b"".join(noise(37 + i, 10 + i) + bytes(page) for i, page in enumerate(pages)))
    assert orvane.carve(str(image), memory=True) == []
    items = orvane.carve(str(image), memory=True, records=True)
    assert items and {i.kind for i in items} == {"record"}
    names = {key.name() for item in items for key in item.hive().deleted_keys()}
    assert "SAM" in names or "Domains" in names


def test_signatures_alone_carve_nothing(tmp_path):
    block = bytearray(1 << 20)
    for at in range(0, len(block), 512):
        block[at:at + 4] = b"regf" if at % 1024 == 0 else b"hbin"
    image = tmp_path / "flood.raw"
    image.write_bytes(bytes(block))
    for memory in (False, True):
        assert orvane.carve(str(image), memory=memory, records=True) == []


def test_progress_is_reported_and_its_exception_raised(corpus_dir, tmp_path):
    image = tmp_path / "image.raw"
    image.write_bytes(readable(corpus_dir, "SAM"))
    calls = []
    orvane.carve(str(image), progress=lambda done, total: calls.append((done, total)))
    assert calls[-1] == (image.stat().st_size, image.stat().st_size)

    def stop(done, total):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        orvane.carve(str(image), progress=stop)


@pytest.mark.parametrize("args, kwargs, error", [
    ((), {}, TypeError),
    (("a", True), {}, TypeError),
    (("a",), {"progress": 3}, TypeError),
    (("/nonexistent/image",), {}, OSError),
])
def test_bad_arguments(args, kwargs, error):
    with pytest.raises(error):
        orvane.carve(*args, **kwargs)
