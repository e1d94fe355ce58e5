"""`orvane carve`: the files it writes, its report and its refusals."""

from __future__ import annotations

import json
import random
import struct

import pytest

from cli_runner import run


def readable(corpus_dir, name: str) -> bytes:
    data = (corpus_dir / name).read_bytes()
    return data[: 4096 + struct.unpack_from("<I", data, 40)[0]]


@pytest.fixture
def image(corpus_dir, tmp_path):
    """SAM at a sector offset, then a fragment of BCD (its bins from the second on)."""
    sam, bcd = readable(corpus_dir, "SAM"), readable(corpus_dir, "BCD")
    noise = random.Random(3).randbytes(1024)
    path = tmp_path / "disk.raw"
    path.write_bytes(noise + sam + noise + bcd[8192:])
    return path, sam, 1024, 1024 + len(sam) + 1024


@pytest.mark.parametrize("fmt", ["text", "jsonl"])
def test_writes_each_item_and_reports_it(image, tmp_path, fmt):
    path, sam, hive_at, fragment_at = image
    out = tmp_path / "out"
    result = run("carve", path, "-o", out, "--format", fmt)
    assert result.returncode == 0, result.stderr
    assert (out / f"hive-{hive_at:#x}.dat").read_bytes() == sam
    assert (out / f"fragment-{fragment_at:#x}-at-0x1000.bin").exists()
    lines = result.stdout.splitlines()
    assert len(lines) == 2
    if fmt == "jsonl":
        first = json.loads(lines[0])
        assert (first["kind"], first["offset"], first["size"], first["truncated"]) == ("hive", hive_at, len(sam), False)
        assert first["keys"] > 1
        assert json.loads(lines[1])["kind"] == "fragment"
    else:
        assert lines[0].startswith(f"{hive_at:#x}  hive  {len(sam)}")
        assert "fragment" in lines[1]


def test_records_come_out_as_deleted_writes_them(corpus_dir, tmp_path):
    sam = readable(corpus_dir, "SAM")
    pages = [bytearray(sam[at:at + 4096]) for at in range(4096, len(sam), 4096)]
    for page in pages:
        page[:32] = b"\x5a" * 32
    path = tmp_path / "memory.raw"
    path.write_bytes(b"".join(bytes([i]) * (11 + i) + bytes(p) for i, p in enumerate(pages)))
    result = run("carve", path, "-o", tmp_path / "out", "--memory", "--records")
    assert result.returncode == 0, result.stderr
    records = [json.loads(line) for line in result.stdout.splitlines()]
    assert records and all(r["hive"].startswith(f"{path}@0x") for r in records)
    assert {"key"} <= {r["kind"] for r in records}


def test_refuses_to_write_into_the_image(image):
    path = image[0]
    result = run("carve", path, "-o", path)
    assert result.returncode == 2
    assert "image" in result.stderr


def test_missing_image_fails_and_others_go_on(image, tmp_path):
    result = run("carve", tmp_path / "nope.raw", image[0], "-o", tmp_path / "out")
    assert result.returncode == 1
    assert "nope.raw" in result.stderr
    assert len(result.stdout.splitlines()) == 2
