#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/seeds/<target>/.

Seeds are small on purpose (libFuzzer mutates inputs of a few KiB best): key
trees built with the test-side hive builder, the first 16 KiB of each corpus
hive, the first entries of the corpus's Windows logs, and hand-made logs of
each format. Run it again after changing it; the files it writes are kept in
the repository.

    .venv/bin/python fuzz/make_seeds.py
"""

from __future__ import annotations

import lzma
import struct
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "python"))

from hive_builder import (  # noqa: E402
    REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_EXPAND_SZ, REG_LINK, REG_MULTI_SZ, REG_NONE, REG_QWORD,
    BASE, REG_SZ, HiveBuilder, Key, Value, checksum, multi_sz, sz,
)

SEEDS = ROOT / "fuzz" / "seeds"
CORPUS = ROOT / "tests" / "data" / "corpus"
CUT = 16 * 1024


def every_type() -> list[Value]:
    return [
        Value("", REG_SZ, sz("default")),
        Value("Path", REG_EXPAND_SZ, sz("%SystemRoot%\\system32")),
        Value("Blob", REG_BINARY, bytes(range(40))),
        Value("Small", REG_BINARY, b"\x01\x02\x03"),
        Value("Count", REG_DWORD, struct.pack("<I", 7)),
        Value("Big", REG_DWORD_BIG_ENDIAN, struct.pack(">I", 258)),
        Value("List", REG_MULTI_SZ, multi_sz("a", "bc", "")),
        Value("Quad", REG_QWORD, struct.pack("<Q", 1 << 40)),
        Value("Link", REG_LINK, "\\Registry\\Machine".encode("utf-16-le")),
        Value("Nothing", REG_NONE, b""),
        Value("Odd", 0x1234, b"\xff" * 9),
        Value("Größe", REG_SZ, sz("ünïcode")),
    ]


def hive_seeds() -> dict[str, bytes]:
    seeds = {"empty": HiveBuilder().build()}

    b = HiveBuilder()
    b.tree(Key("ROOT", every_type(), [Key("Software", [Value("Run", REG_SZ, sz("x"))], [Key("Classes")]),
                                      Key("Système"), Key("System", list_kind="lh")]))
    seeds["lf_every_type"] = b.build()

    b = HiveBuilder()
    leaves = [Key(f"K{i}", [Value("v", REG_DWORD, struct.pack("<I", i))]) for i in range(6)]
    b.tree(Key("ROOT", [], [Key("Index", [], leaves, list_kind="ri"), Key("Plain", [], leaves[:2], list_kind="li")]))
    seeds["ri_li_lists"] = b.build()

    b = HiveBuilder()
    b.tree(Key("ROOT", [Value("Large", REG_BINARY, bytes(i % 251 for i in range(20000))),
                        Value("Exact", REG_BINARY, bytes(16344))]))
    seeds["big_data"] = b.build()

    for packed in sorted(CORPUS.glob("*.xz")):
        if ".LOG" in packed.name:
            continue
        seeds[f"corpus_{packed.stem}"] = lzma.decompress(packed.read_bytes())[:CUT]
    return seeds


def recovery_seeds(hive: dict[str, bytes]) -> dict[str, bytes]:
    """The hive seeds, and a hive with a deleted subtree (values, big data, a
    subkey list) below a live key, whose cells are all free."""
    seeds = dict(hive)
    b = HiveBuilder()
    live = b.key("Live", flags=0x0020)
    root = b.key("ROOT", flags=0x002C, subkey_count=1, subkey_list=b.subkey_list("lf", [live]))
    b.root(root)
    b.u32(BASE + live + 4 + 16, root)
    placed = []  # every cell of the deleted subtree, to be freed
    add_cell = b.add_cell
    b.add_cell = lambda payload, **kw: placed.append(add_cell(payload, **kw)) or placed[-1]
    values = [b.value("Run", REG_SZ, sz("evil.exe")), b.value("Count", REG_DWORD, struct.pack("<I", 3)),
              b.value("Blob", REG_BINARY, bytes(i % 251 for i in range(17000)))]
    gone = b.key("Gone", parent=live, value_count=len(values), value_list=b.value_list(values))
    child = b.key("Child", parent=gone)
    b.u32(BASE + gone + 4 + 20, 1).u32(BASE + gone + 4 + 28, b.subkey_list("lh", [child]))
    b.free(*placed)
    seeds["deleted_tree"] = b.build()
    return seeds


def hvle_log(sequence: int, records: list[tuple[int, bytes]]) -> bytes:
    """A log in the "HvLE" + "DIRT" block format: one block of records at 4096."""
    log = bytearray(4096)
    log[0:4] = b"HvLE"
    struct.pack_into("<I", log, 4, sequence)
    block = bytearray(b"DIRT" + struct.pack("<III", 0, len(records), 0))
    for offset, data in records:
        block += struct.pack("<II", offset, len(data)) + data
    block += bytes(-len(block) % 512)
    return bytes(log + block)


def windows_old_log(sequence: int, dirty: dict[int, bytes], hive_bins_data_size: int = 0x1000) -> bytes:
    """An old-format Windows log (file type 1): base block copy, "DIRT", a bitmap
    of the hive bins data's 512-byte sectors, then the dirty sectors."""
    copy = bytearray(512)
    copy[0:4] = b"regf"
    struct.pack_into("<IIQIIIIIII", copy, 4, sequence, sequence, 0, 1, 5, 1, 1, 0x20, hive_bins_data_size, 1)
    struct.pack_into("<I", copy, 508, checksum(copy))
    sectors = hive_bins_data_size // 512
    bitmap = bytearray((sectors + 7) // 8)
    for index in dirty:
        bitmap[index // 8] |= 1 << (index % 8)
    body = bytearray(copy + b"DIRT" + bitmap)
    body += bytes(-len(body) % 512)
    for index in sorted(dirty):
        body += dirty[index].ljust(512, b"\0")[:512]
    return bytes(body)


def log_seeds() -> dict[str, bytes]:
    # The fuzz target replays logs into a small hive whose root key is at 0x20.
    name_page = b"nk" + bytes(74)
    seeds = {
        "hvle_three_pages": hvle_log(2, [(4096 + 0x20 + 4 + 76, b"RENAMED"), (0, b"regf"), (8192, bytes(4096))]),
        "hvle_skipped_records": hvle_log(5, [(4096, b""), (4096 + 0x24, name_page), (0x1FFFFFFF, b"!")]),
        "windows_old_format": windows_old_log(1, {0: b"hbin" + struct.pack("<II", 0, 0x1000), 3: b"\xaa" * 512}),
    }
    # The first whole entries of the corpus's new-format logs.
    for name, length in (("UsrClass.dat.LOG1", 0x8000), ("UsrClass.dat.LOG2", 0x6000)):
        seeds[f"corpus_{name}"] = lzma.decompress((CORPUS / f"{name}.xz").read_bytes())[:length]
    return seeds


def string_seeds() -> dict[str, bytes]:
    return {
        "ascii": b"Software\\Microsoft\0\0",
        "utf16": "Größe \U0001F600\0".encode("utf-16-le"),
        "utf16_bom_be": b"\xfe\xff" + "abc".encode("utf-16-be"),
        "utf8_bom": b"\xef\xbb\xbf" + "naïve".encode(),
        "lone_surrogate": b"\x00\xd8a\x00",
        "multi_sz": multi_sz("one", "two"),
        "dword_type": struct.pack("<I", 4) + struct.pack("<I", 0xDEADBEEF),
        "latin1_name": b"  SYSTEM\0\x85\xa0".ljust(64, b"\0"),
    }


def write(target: str, seeds: dict[str, bytes]) -> None:
    """Writes these seeds over their old versions; every other file of the
    folder stays: the inputs fuzz-long merged in, and seeds made by hand."""
    folder = SEEDS / target
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)
    print(f"{target}: {len(seeds)} seeds, {sum(map(len, seeds.values())):,} bytes")


def main() -> int:
    hives = hive_seeds()
    write("fuzz_hive", hives)
    write("fuzz_recovery", recovery_seeds(hives))
    write("fuzz_find", recovery_seeds(hives))  # live and deleted records, every value type
    write("fuzz_transaction_log", log_seeds())
    write("fuzz_strings", string_seeds())
    return 0


if __name__ == "__main__":
    sys.exit(main())
