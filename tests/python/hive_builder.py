"""Test-side writer of hive images, byte by byte.

A default HiveBuilder is a valid, empty hive: a base block ("regf", version
1.5, sequence 1/1, root cell offset 0x20) and no bins. Tests add bins and
cells, then break one thing (a field, a size word, the checksum) to get each
damaged case. Nothing written here has to be valid.

Key trees: the record writers (key, subkey_list, value_list, vk, value,
data_cell, big_data) place one record each and return its cell offset; or
describe a tree with Key and Value and write it at once:

    b = HiveBuilder()
    b.tree(Key("ROOT", [Value("Path", REG_SZ, sz("C:\\"))], [Key("Software")]))
"""

from __future__ import annotations

import struct

BASE = 4096

NK_ASCII = 0x0020  # key name stored one byte per character
VK_ASCII = 0x0001  # value name stored one byte per character
NONE_OFFSET = 0xFFFFFFFF
LARGEST_SINGLE_CELL = 16344  # larger data goes through a "db" record

REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN = range(6)
REG_LINK, REG_MULTI_SZ, REG_RESOURCE_LIST, REG_FULL_RESOURCE_DESCRIPTOR = range(6, 10)
REG_RESOURCE_REQUIREMENTS_LIST, REG_QWORD = 10, 11


def checksum(image: bytes | bytearray) -> int:
    value = 0
    for (word,) in struct.iter_unpack("<I", bytes(image[:508])):
        value ^= word
    return value


def stored_checksum(image: bytes | bytearray) -> int:
    """The checksum as Windows stores it (and orvane writes it): 0 as 1 and
    0xFFFFFFFF as 0xFFFFFFFE."""
    value = checksum(image)
    return {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(value, value)


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


class HiveBuilder:
    def __init__(self) -> None:
        self.image = bytearray(BASE)
        self.image[0:4] = b"regf"
        self.u32(4, 1).u32(8, 1).u32(20, 1).u32(24, 5).u32(32, 1).u32(36, 0x20).u32(44, 1)
        self.image[48:48 + 12] = utf16("SYSTEM")
        self._next_cell = 0
        self._bin_end = 0

    # Raw writes at absolute image offsets.
    def u16(self, at: int, value: int) -> HiveBuilder:
        return self.raw(at, struct.pack("<H", value & 0xFFFF))

    def u32(self, at: int, value: int) -> HiveBuilder:
        return self.raw(at, struct.pack("<I", value & 0xFFFFFFFF))

    def u64(self, at: int, value: int) -> HiveBuilder:
        return self.raw(at, struct.pack("<Q", value & 0xFFFFFFFFFFFFFFFF))

    def raw(self, at: int, data: bytes) -> HiveBuilder:
        if len(self.image) < at + len(data):
            self.image.extend(bytes(at + len(data) - len(self.image)))
        self.image[at:at + len(data)] = data
        return self

    # Base block fields.
    def version(self, major: int, minor: int) -> HiveBuilder:
        return self.u32(20, major).u32(24, minor)

    def root(self, offset: int) -> HiveBuilder:
        return self.u32(36, offset)

    def sequences(self, primary: int, secondary: int) -> HiveBuilder:
        return self.u32(4, primary).u32(8, secondary)

    def add_hbin(self, size: int = 4096, *, offset_field: int | None = None) -> int:
        """Appends a bin; returns its offset in the hive bins data."""
        offset = len(self.image) - BASE
        self.image.extend(bytes(size))
        self.raw(BASE + offset, b"hbin").u32(BASE + offset + 4, offset if offset_field is None else offset_field)
        self.u32(BASE + offset + 8, size)
        self.u32(40, len(self.image) - BASE)
        self._next_cell, self._bin_end = offset + 32, offset + size
        return offset

    def add_cell(self, payload: bytes, *, size_word: int | None = None) -> int:
        """Places a cell in the last bin (a new bin when it does not fit);
        returns its cell offset. The size word is the allocated (negative) size
        rounded up to 8 unless given."""
        total = (len(payload) + 4 + 7) & ~7
        if self._bin_end == 0 or self._next_cell + total > self._bin_end:
            self.add_hbin(((total + 32 + 4095) // 4096) * 4096)
        offset = self._next_cell
        self.raw(BASE + offset, struct.pack("<i", -total if size_word is None else size_word))
        self.raw(BASE + offset + 4, payload)
        self._next_cell += total
        return offset

    # Key tree records. Each writer places one cell and returns its cell offset;
    # keyword arguments override stored fields, so a test can write inconsistent
    # or damaged records.
    def key(self, name: str | bytes = "", **fields) -> int:
        """An "nk" cell; see nk_payload for the fields."""
        return self.add_cell(nk_payload(name, **fields))

    def subkey_list(self, kind: str, offsets, *, count: int | None = None, checks=None) -> int:
        """An "li", "lf", "lh" or "ri" cell naming `offsets`. "lf" and "lh"
        entries carry `checks` (the name hints or hashes; zero unless given)."""
        n = len(offsets) if count is None else count
        element = "<II" if kind in ("lf", "lh") else "<I"
        checks = list(checks) if checks is not None else [0] * len(offsets)
        body = b"".join(struct.pack(element, o, c) if element == "<II" else struct.pack(element, o)
                        for o, c in zip(offsets, checks))
        return self.add_cell(kind.encode() + struct.pack("<H", n) + body)

    def value_list(self, offsets) -> int:
        return self.add_cell(b"".join(struct.pack("<I", o) for o in offsets))

    def vk(self, name: str | bytes, value_type: int, data_size: int, data_offset: int, **fields) -> int:
        """A raw "vk" cell; its data (if any) must already be placed."""
        return self.add_cell(vk_payload(name, value_type, data_size, data_offset, **fields))

    def data_cell(self, data: bytes) -> int:
        return self.add_cell(data)

    def big_data(self, data: bytes, *, segment_size: int = LARGEST_SINGLE_CELL) -> int:
        """A "db" record, its segment list and one cell per segment."""
        segments = [self.add_cell(data[i:i + segment_size]) for i in range(0, len(data), segment_size)]
        segment_list = self.add_cell(b"".join(struct.pack("<I", s) for s in segments))
        return self.add_cell(b"db" + struct.pack("<HI", len(segments), segment_list))

    def value(self, name: str | bytes, value_type: int, data: bytes = b"", **fields) -> int:
        """A "vk" cell with its data placed where the format puts data of that
        size: inline (1 to 4 bytes), one cell, or big data."""
        size = len(data)
        if size == 0:
            offset = NONE_OFFSET
        elif size <= 4:
            offset = int.from_bytes(data.ljust(4, b"\0"), "little")
        elif size <= LARGEST_SINGLE_CELL:
            offset = self.data_cell(data)
        else:
            offset = self.big_data(data)
        return self.vk(name, value_type, size, offset, **fields)

    def tree(self, root: Key) -> int:
        """Writes a whole key tree (children first) and makes `root` the root key."""
        offset = root.write(self)
        self.root(offset)
        return offset

    def exact_cell(self, payload: bytes) -> int:
        """A cell whose size word gives exactly this payload length (no rounding)."""
        return self.add_cell(payload, size_word=-(len(payload) + 4))

    def free(self, *offsets: int) -> HiveBuilder:
        """Marks cells free (their size word positive), as Windows does when it
        deletes the records in them: the bytes stay as they were."""
        for offset in offsets:
            size = struct.unpack_from("<i", self.image, BASE + offset)[0]
            self.raw(BASE + offset, struct.pack("<i", abs(size)))
        return self

    def build(self, *, fix_checksum: bool = True) -> bytes:
        image = bytearray(self.image)
        if fix_checksum:
            image[508:512] = struct.pack("<I", checksum(image))
        return bytes(image)

    def write(self, path, **kwargs) -> str:
        data = self.build(**kwargs)
        with open(path, "wb") as f:
            f.write(data)
        return str(path)


# Key tree records: payload encoders and a declarative tree. Children are
# written before their parents (a parent names its lists by offset).


def sz(text: str) -> bytes:
    """REG_SZ data as Windows stores it: UTF-16LE with a terminating NUL."""
    return utf16(text + "\0")


def multi_sz(*texts: str) -> bytes:
    return utf16("".join(t + "\0" for t in texts) + "\0")


def _encode_name(name: str | bytes, ascii_flag: int, flags: int | None) -> tuple[bytes, int]:
    """Name bytes and flags: ASCII names one byte per character, others UTF-16LE.
    With the one-byte flag given, the name is written as Windows writes it: one
    byte per character, the byte being the code point (ISO-8859-1)."""
    if isinstance(name, bytes):
        return name, ascii_flag if flags is None else flags
    if flags is None:
        flags = ascii_flag if name.isascii() else 0
    return (name.encode("latin-1") if flags & ascii_flag else utf16(name)), flags


def nk_payload(name: str | bytes = "", *, flags: int | None = None, last_written: int = 0,
               subkey_count: int = 0, subkey_list: int = NONE_OFFSET, value_count: int = 0,
               value_list: int = NONE_OFFSET, parent: int = 0, name_length: int | None = None,
               security: int = NONE_OFFSET, class_name: int = NONE_OFFSET, class_name_length: int = 0) -> bytes:
    raw, flags = _encode_name(name, NK_ASCII, flags)
    fixed = struct.pack(
        "<2sHQIIIIIIIIIIIIIIIHH", b"nk", flags, last_written, 0, parent, subkey_count, 0, subkey_list,
        NONE_OFFSET, value_count, value_list, security, class_name, 0, 0, 0, 0, 0,
        len(raw) if name_length is None else name_length, class_name_length)
    assert len(fixed) == 76
    return fixed + raw


def vk_payload(name: str | bytes, value_type: int, data_size: int, data_offset: int, *,
               flags: int | None = None, name_length: int | None = None) -> bytes:
    raw, flags = _encode_name(name, VK_ASCII, flags)
    fixed = struct.pack("<2sHIIIHH", b"vk", len(raw) if name_length is None else name_length,
                        data_size & 0xFFFFFFFF, data_offset & 0xFFFFFFFF, value_type & 0xFFFFFFFF, flags, 0)
    return fixed + raw




def name_hash(name: str) -> int:
    """The hash an "lh" list stores: over the UTF-16 units of the name with
    each character mapped to its one-character uppercase form."""
    upper = "".join(c.upper() if len(c.upper()) == 1 else c for c in name)
    value = 0
    for (unit,) in struct.iter_unpack("<H", utf16(upper)):
        value = (value * 37 + unit) & 0xFFFFFFFF
    return value


def name_hint(name: str) -> int:
    """The hint an "lf" list stores: the first four characters, zero-padded."""
    return int.from_bytes(name.encode("latin-1", "replace")[:4].ljust(4, b"\0"), "little")


def name_check(kind: str, name: str | bytes) -> int:
    text = name if isinstance(name, str) else name.decode("latin-1")
    return name_hash(text) if kind == "lh" else name_hint(text)


class Value:
    """One value of a Key written by HiveBuilder.tree."""

    def __init__(self, name: str | bytes, value_type: int, data: bytes = b"", **fields) -> None:
        self.name, self.value_type, self.data, self.fields = name, value_type, data, fields

    def write(self, builder: HiveBuilder) -> int:
        return builder.value(self.name, self.value_type, self.data, **self.fields)


class Key:
    """A key to write with HiveBuilder.tree: a name, values, subkeys and any
    nk field override (last_written, flags, ...). `list_kind` picks the
    subkey list signature; "ri" splits the subkeys over two "li" lists. "lf"
    and "lh" lists carry the names' hints and hashes, and each subkey's parent
    field names its key."""

    def __init__(self, name: str | bytes = "", values=(), subkeys=(), *, list_kind: str = "lf", **fields) -> None:
        self.name, self.values, self.subkeys = name, list(values), list(subkeys)
        self.list_kind, self.fields = list_kind, fields

    def write(self, builder: HiveBuilder) -> int:
        children = [k.write(builder) for k in self.subkeys]
        fields = dict(self.fields)
        if children:
            if self.list_kind == "ri":
                half = (len(children) + 1) // 2
                leaves = [builder.subkey_list("li", part) for part in (children[:half], children[half:]) if part]
                fields.setdefault("subkey_list", builder.subkey_list("ri", leaves))
            else:
                checks = [name_check(self.list_kind, k.name) for k in self.subkeys]
                fields.setdefault("subkey_list", builder.subkey_list(self.list_kind, children, checks=checks))
            fields.setdefault("subkey_count", len(children))
        if self.values:
            fields.setdefault("value_list", builder.value_list([v.write(builder) for v in self.values]))
            fields.setdefault("value_count", len(self.values))
        offset = builder.key(self.name, **fields)
        for subkey, child in zip(self.subkeys, children):
            if "parent" not in subkey.fields:
                builder.u32(BASE + child + 4 + 16, offset)
        return offset
