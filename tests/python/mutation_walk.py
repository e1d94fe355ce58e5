"""Damages real hives and logs at random and walks what orvane makes of them.

Run by test_robustness.py in a child process, so that a crash fails the test
instead of killing pytest:

    python mutation_walk.py SCENARIO SEED SECONDS WORK_DIR SOURCE...

SCENARIO is "hives" (each SOURCE a hive, opened with Hive.open) or "logs"
(SOURCE is a hive and one or two logs, opened with Hive.open_with_logs, only
the logs damaged). Each round damages a copy of one source (flipped bytes,
odd words, truncation, a spliced or zeroed range), writes it to WORK_DIR and
walks the result through the public API. OSError and ValueError are the only
exceptions orvane may raise; anything else ends the run with a traceback and
exit status 1, a crash with a signal. Before each round the input and a line
naming the round are left in WORK_DIR (last_input*, last_round.txt), so the
failing input can be kept.
"""

from __future__ import annotations

import random
import struct
import sys
import time
from pathlib import Path

import orvane

EXPECTED = (OSError, ValueError)
INTERESTING_WORDS = [0, 1, 4, 0x20, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF8, 0xFFFFEFFF, 0x1000, 16344, 16345]
KEY_BUDGET = 3000  # keys walked per round; a damaged tree may loop or fan out


def checksum(image: bytes | bytearray) -> int:
    value = 0
    for (word,) in struct.iter_unpack("<I", bytes(image[:508])):
        value ^= word
    return value


def mutate(rng: random.Random, data: bytes, donors: list[bytes]) -> tuple[bytes, str]:
    out = bytearray(data)
    steps = []
    for _ in range(rng.randint(1, 3)):
        kind = rng.choice(["flip", "word", "word", "truncate", "splice", "zero"])
        if not out:
            break
        at = rng.randrange(len(out))
        if kind == "flip":
            for _ in range(rng.randint(1, 16)):
                out[rng.randrange(len(out))] ^= rng.randrange(1, 256)
        elif kind == "word":
            at &= ~3
            value = rng.choice(INTERESTING_WORDS + [len(out), len(out) - 4096, rng.getrandbits(32)]) & 0xFFFFFFFF
            out[at:at + 4] = struct.pack("<I", value)[: len(out) - at]
        elif kind == "truncate":
            del out[rng.randrange(len(out) + 1):]
        elif kind == "splice":
            donor = rng.choice(donors)
            start = rng.randrange(len(donor))
            chunk = donor[start:start + rng.choice([4, 8, 76, 512, 4096])]
            out[at:at + len(chunk)] = chunk
        else:
            out[at:at + rng.choice([4, 32, 512, 4096])] = bytes(min(len(out) - at, 4096))
        steps.append(f"{kind}@{at:#x}")
    # Most rounds keep a valid checksum, or nearly every damaged base block
    # would stop at the checksum test.
    if len(out) >= 512 and rng.random() < 0.9:
        out[508:512] = struct.pack("<I", checksum(out))
    return bytes(out), " ".join(steps)


def attempt(fn, *args):
    """Calls fn; returns its result, or None when orvane refused with an expected error."""
    try:
        return fn(*args)
    except EXPECTED:
        return None


def exercise_value(value) -> None:
    value.name()
    repr(value)
    kind = value.value_type()
    kind.type_id()
    kind.type_name()
    assert len(value.raw_data()) == value.data_size()
    data = attempt(value.data)
    if data is None:
        return
    repr(data)
    for test in (data.is_none, data.is_string, data.is_binary, data.is_dword, data.is_qword, data.is_multi_string):
        test()
    for getter in (data.as_string, data.as_binary, data.as_dword, data.as_qword, data.as_multi_string):
        attempt(getter)


def walk(hive) -> int:
    """Every public call on every key and value, up to KEY_BUDGET keys."""
    repr(hive)
    block = hive.base_block()
    for name in ("signature", "primary_sequence", "secondary_sequence", "root_cell_offset", "hive_length",
                 "file_name", "hive_bins_data_size"):
        getattr(block, name)
    for header in attempt(hive.hbins) or []:
        (header.offset, header.size, header.signature)
    root = attempt(hive.root_key)
    pending = [root] if root is not None else []
    walked = 0
    while pending and walked < KEY_BUDGET:
        key = pending.pop()
        walked += 1
        key.name(), key.subkey_count(), key.value_count(), repr(key)
        attempt(key.last_written_timestamp)
        values = attempt(key.values) or []
        for value in values:
            exercise_value(value)
        for value in values[:8]:
            found = attempt(key.value, value.name())
            if found is not None:
                exercise_value(found)
        attempt(key.value, "no such value")
        pending.extend(attempt(key.subkeys) or [])
    # What the scan for deleted records finds, and what is read through it.
    for key in (attempt(hive.deleted_keys) or [])[:64]:
        key.name(), repr(key), key.is_deleted(), key.partial_path()
        attempt(key.last_written_timestamp)
        for value in attempt(key.values) or []:
            exercise_value(value)
        attempt(key.subkeys)
    for value in (attempt(hive.deleted_values) or [])[:256]:
        exercise_value(value)
    return walked


def main(argv: list[str]) -> int:
    scenario, seed, seconds, work = argv[0], int(argv[1]), float(argv[2]), Path(argv[3])
    sources = [Path(p).read_bytes() for p in argv[4:]]
    rng = random.Random(seed)
    deadline = time.monotonic() + seconds
    rounds = keys = refused = 0
    hive_path = argv[4]
    while time.monotonic() < deadline:
        rounds += 1
        if scenario == "hives":
            index = rng.randrange(len(sources))
            data, steps = mutate(rng, sources[index], sources)
            path = work / "last_input"
            path.write_bytes(data)
            (work / "last_round.txt").write_text(f"seed {seed} round {rounds}: {argv[4 + index]} {steps}\n")
            hive = attempt(orvane.Hive.open, str(path))
        else:
            logs = sources[1:]
            paths, described = [], []
            for i, log in enumerate(logs):
                data, steps = mutate(rng, log, logs) if rng.random() < 0.8 else (log, "unchanged")
                path = work / f"last_input_log{i + 1}"
                path.write_bytes(data)
                paths.append(path)
                described.append(f"log{i + 1}: {steps}")
            (work / "last_round.txt").write_text(f"seed {seed} round {rounds}: {'; '.join(described)}\n")
            hive = attempt(orvane.Hive.open_with_logs, hive_path, *map(str, paths))
        if hive is None:
            refused += 1
            continue
        keys += walk(hive)
        if rng.random() < 0.1:
            saved = work / "saved"
            saved.unlink(missing_ok=True)
            attempt(hive.save, str(saved))
            if saved.exists():
                attempt(orvane.Hive.open, str(saved))
    print(f"{scenario}: {rounds} rounds, {refused} refused, {keys} keys walked")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
