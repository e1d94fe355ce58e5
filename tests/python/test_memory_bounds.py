"""What a small hostile file can make orvane hold in memory. Each case runs in
a child process and reads its peak resident set size (never a time)."""

from __future__ import annotations

import os
import struct
import subprocess
import sys
import textwrap

import pytest

from hive_builder import BASE, NK_ASCII, HiveBuilder, checksum
from windows_log_builder import WindowsLogBuilder

MIB = 1024 * 1024
HERE = os.path.dirname(os.path.abspath(__file__))

pytestmark = pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                                reason="AddressSanitizer's own memory would swamp the figures")


def peak_growth(body: str) -> tuple[int, str]:
    """Runs `body` (after `import orvane`) in a child; returns how far its peak
    resident set grew beyond what it was at the start, and what it printed."""
    code = textwrap.dedent("""
        import resource, sys
        sys.path.insert(0, {here!r})
        import orvane
        def peak():
            # The high-water mark of this process's own memory: ru_maxrss would
            # carry over the parent's from before the exec.
            with open("/proc/self/status") as status:
                line = next(l for l in status if l.startswith("VmHWM:"))
            return int(line.split()[1]) * 1024
        start = peak()
    """).format(here=HERE) + textwrap.dedent(body) + "\nprint(peak() - start)\n"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    *printed, growth = out.stdout.splitlines()
    return int(growth), "\n".join(printed)


def cache_bomb(name_length: int = 30000, period: int = 16, nodes: int = 25000, per_parent: int = 20) -> bytes:
    """Key nodes every `period` bytes, all overlapping: each one's long
    one-byte name runs over the nodes after it. Parents list them twenty at a
    time, so a walk fetches them all while holding few at once."""
    region = 0x80000  # cell offset of the first overlapping node
    b = HiveBuilder()
    offsets = [region + period * i for i in range(nodes)]
    parents = [b.key(f"p{i}", subkey_count=len(chunk), subkey_list=b.subkey_list("li", chunk))
               for i, chunk in ((i, offsets[i:i + per_parent]) for i in range(0, nodes, per_parent))]
    b.root(b.key("ROOT", subkey_count=len(parents), subkey_list=b.subkey_list("li", parents)))
    image = bytearray(b.build(fix_checksum=False))
    assert len(image) <= BASE + region
    cell = bytearray(period)
    struct.pack_into("<i", cell, 0, -(80 + name_length))  # the size word
    cell[4:8] = b"nk" + struct.pack("<H", NK_ASCII)
    struct.pack_into("<H", cell, 76 % period, name_length)  # payload byte 72 falls here
    image.extend(bytes(BASE + region - len(image)))
    image += bytes(cell) * (nodes + (80 + name_length) // period)
    image[508:512] = struct.pack("<I", checksum(image))
    return bytes(image)


def test_overlapping_key_nodes_cannot_fill_the_key_cache(write_hive):
    path = write_hive(cache_bomb())
    growth, printed = peak_growth(f"""
        walked = 0
        for parent in orvane.Hive.open({path!r}).root_key().subkeys():
            try:
                walked += sum(len(key.name()) for key in parent.subkeys())
            except ValueError:
                pass  # the last nodes run past the end of the file
        print(walked)
    """)
    # The names handed out come to 750 million characters (well over a GiB in
    # UTF-8), all of which an unbounded cache would keep; this one keeps at most
    # a few times the file's size, and each short list of keys goes again.
    assert int(printed) > 700_000_000
    assert growth < 128 * MIB, growth


def test_a_one_kib_windows_log_cannot_claim_half_a_gib(write_hive, tmp_path):
    hive = HiveBuilder().sequences(5, 4)
    hive.add_hbin()
    log = WindowsLogBuilder(hive.build(), 5)
    log.entry(5, 0x1FFFF000, [])  # no pages, but a hive bins data size of 512 MiB less a page
    log_path = log.write(tmp_path / "hive.LOG1")
    assert os.path.getsize(log_path) == 1024
    growth, printed = peak_growth(f"""
        hive = orvane.Hive.open_with_logs({write_hive(hive)!r}, {log_path!r})
        block = hive.base_block()
        print(block.primary_sequence, block.secondary_sequence, hex(block.hive_bins_data_size))
        print(hive.applied_logs() == [{log_path!r}])
    """)
    assert printed == "5 5 0x1ffff000\nTrue"
    assert growth < 16 * MIB, growth
