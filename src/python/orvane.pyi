"""Python module definition"""

import datetime
import re
from collections.abc import Callable, Iterator, Sequence
from typing import Literal, final

__all__ = ["Hive", "RegistryKey", "RegistryValue", "ValueData", "ValueType", "BaseBlock", "HbinHeader", "CarvedItem", "__version__"]
__version__: str

class DirtyHiveWarning(UserWarning):
    """A hive opened by orvane.open is still dirty: no usable transaction log brought it up to date, and its contents may be inconsistent"""

def open(path: str, *, logs: Literal["auto", "none"] | None | Sequence[str] = "auto", tolerant: bool = False) -> Hive:
    """Open a hive as the command line does: with the transaction logs found beside it (logs='auto'), none (logs='none') or the paths given; tolerant=True reads a damaged file with open_tolerant and no logs. Warns with DirtyHiveWarning when the result is still dirty"""

# One match of Hive.find: (path, value_name, where, encoding, offset, before, text, after, deleted,
# key_offset, value_offset).
FindMatch = tuple[
    str | None,
    str | None,
    Literal["key", "value", "data"],
    Literal["name", "utf-16le", "latin-1"],
    int,
    str,
    str,
    str,
    bool,
    int,
    int,
]

@final
class Hive:
    """Python wrapper for Hive"""

    @staticmethod
    def open(path: str) -> Hive:
        """Open a registry hive file"""
    @staticmethod
    def open_with_logs(hive_path: str, log1_path: str | None = None, log2_path: str | None = None) -> Hive:
        """Open a registry hive with transaction logs applied"""
    def base_block(self) -> BaseBlock:
        """Get the base block (header) information"""
    def root_key(self) -> RegistryKey:
        """Get the root key of the hive"""
    def hbins(self) -> list[HbinHeader]:
        """Get all hbin headers"""
    def save(self, path: str) -> None:
        """Save the hive to a file"""
    def applied_logs(self) -> list[str]:
        """Get the paths of the transaction logs that changed the hive when it was opened, in the order applied"""
    def key(self, path: str) -> RegistryKey:
        """Get the key at a backslash-separated path below the root key (root_key().subkey(path))"""
    def walk(
        self,
        on_error: Callable[[str, OSError | ValueError], object] | None = None,
        *,
        include_orphans: bool | None = None,
    ) -> Iterator[tuple[str, RegistryKey]]:
        """Iterate over (path, key) pairs of the whole hive, depth first (root_key().walk(on_error)); with include_orphans (by default on a hive from open_tolerant only), the orphan keys follow below the path "<orphans>\""""
    def orphan_keys(self) -> list[RegistryKey]:
        """Find the key nodes still allocated in the hive bins that no subkey list from the root reaches, in file order (see partial_path)"""
    def deleted_keys(self) -> list[RegistryKey]:
        """Find the deleted keys still held in free cells, cell slack and the bytes past the hive bins data, in file order"""
    def deleted_values(self) -> list[RegistryValue]:
        """Find the deleted values still held in free cells, cell slack and the bytes past the hive bins data, in file order, with their data while it has not been reused"""
    def remnant_bins(self) -> list[tuple[int, int, int]]:
        """Get the hive bins left past the hive bins data, in file order, as (offset, offset_field, size) tuples: where each lies (from the start of the hive bins data), the offset its header records, and its size; deleted_keys() and deleted_values() read them too"""
    @staticmethod
    def open_tolerant(path: str) -> Hive:
        """Open a damaged registry hive file, reading whatever can still be read; see problems()"""
    def problems(self) -> list[str]:
        """Get what a hive opened with open_tolerant skipped or repaired so far, one line each (always empty for other hives)"""
    def keys_table(self, key_path: str = "", *, deleted: bool = False) -> HiveTable:
        """Get the keys at and below key_path as a table (Arrow PyCapsule stream, or columns as lists), depth first as walk(); deleted=True appends the deleted keys"""
    def values_table(self, key_path: str = "", *, deleted: bool = False) -> HiveTable:
        """Get the values of the keys at and below key_path as a table (Arrow PyCapsule stream, or columns as lists), depth first as walk(); deleted=True appends the deleted values"""
    def find(
        self,
        pattern: str | re.Pattern[str],
        *,
        case_sensitive: bool = False,
        keys: bool = True,
        values: bool = True,
        data: bool = True,
        deleted: bool = False,
        include_orphans: bool | None = None,
        on_error: Callable[[str, OSError | ValueError, str], object] | None = None,
    ) -> list[FindMatch]:
        """Search key names, value names and value data (as UTF-16LE and Latin-1 text) in one walk for pattern: a str is matched literally (letters in any case unless case_sensitive), an re.Pattern with its search(); keys, values and data choose where; deleted=True searches the deleted keys and values too, include_orphans (by default on a hive from open_tolerant only) the orphan keys below "<orphans>" as walk() does. A subkey list, value list or value data that cannot be read is handed to on_error(path, exception, what), what being 'subkeys', 'values' or "value 'NAME'", and the search goes on; without on_error the first is raised. Returns (path, value_name, where, encoding, offset, before, text, after, deleted, key_offset, value_offset) tuples in walk order: where is 'key', 'value' or 'data'; encoding 'name', 'utf-16le' or 'latin-1'; offset the character index in a name or the byte offset in the data; path None for a deleted value no deleted key lists"""

@final
class HiveTable:
    """A hive's keys or values as a table: Arrow record batches through the PyCapsule interface, or whole columns as lists"""

    def column(self, name: str) -> list[object]:
        """Get a whole column as a list, built in one call"""
    def __arrow_c_schema__(self) -> object:
        """Export the table's schema as an Arrow C schema capsule"""
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        """Export the table as an Arrow C stream capsule of record batches, built as they are read"""
    @property
    def num_rows(self) -> int:
        """The number of rows"""
    @property
    def column_names(self) -> list[str]:
        """The names of the columns, in order"""

@final
class RegistryKey:
    """Python wrapper for RegistryKey

    Stores a shared handle to its hive and the cell offset of its key node."""

    def name(self) -> str:
        """Get the key name"""
    def subkey_count(self) -> int:
        """Get the number of subkeys"""
    def value_count(self) -> int:
        """Get the number of values"""
    def subkeys(self) -> list[RegistryKey]:
        """Get all subkeys"""
    def values(self) -> list[RegistryValue]:
        """Get all values"""
    def value(self, name: str) -> RegistryValue:
        """Get a specific value by name"""
    def last_written_timestamp(self) -> int | None:
        """Get the last write timestamp as Unix timestamp (seconds since epoch)"""
    def subkey(self, path: str) -> RegistryKey:
        """Get the key at a backslash-separated path below this key; names match in any letter case"""
    def walk(
        self, on_error: Callable[[str, OSError | ValueError], object] | None = None
    ) -> Iterator[tuple[str, RegistryKey]]:
        """Iterate over (path, key) pairs: this key (path ""), then every key below it, depth first; on_error(path, exception) is called for subkeys that cannot be read, which otherwise raise; a deleted key walks the deleted keys recovered below it and never calls on_error"""
    def parent(self) -> RegistryKey | None:
        """Get the parent key (None for the root key, or when the parent is gone); a deleted key's parent may be live or deleted"""
    def path(self) -> str:
        """Get the key's path from below the root, names joined by backslashes ("" for the root); raises ValueError when the parents do not lead to the root, as for a deleted key whose parent is gone (see partial_path)"""
    def class_name(self) -> str | None:
        """Get the key's class name (None when it has none, or for a deleted key when its cell has been reused)"""
    def security_descriptor(self) -> bytes | None:
        """Get the key's self-relative security descriptor as bytes (None when it names none, or for a deleted key when its cell holds no security record any more)"""
    def last_written(self) -> datetime.datetime | None:
        """Get the last write time as a UTC datetime with microseconds (None when 0)"""
    def last_written_filetime(self) -> int:
        """Get the last write time as stored: 100-nanosecond intervals since 1601-01-01 UTC"""
    def offset(self) -> int:
        """Get the cell offset of the key node"""
    def is_deleted(self) -> bool:
        """Whether the key was recovered from a free cell, cell slack or the bytes past the hive bins data"""
    def partial_path(self) -> str:
        """Get the path built from parent fields as far as they lead through readable key nodes, live or deleted; never raises for a broken chain"""

@final
class RegistryValue:
    """Python wrapper for RegistryValue

    Stores owned copies of the value's name, type and raw data."""

    def name(self) -> str:
        """Get the value name"""
    def value_type(self) -> ValueType:
        """Get the value type"""
    def data(self) -> ValueData:
        """Get the parsed value data"""
    def raw_data(self) -> bytes:
        """Get the raw value data as bytes"""
    def data_size(self) -> int:
        """Get the data size in bytes"""
    def offset(self) -> int:
        """Get the cell offset of the value record"""
    def as_py(self) -> None | str | int | list[str] | bytes:
        """Get the decoded data as a plain Python object (data().as_py() in one call, but a string with stale bytes after its U+0000 gives the string, as Windows reads it)"""
    def trailing_data(self) -> bytes:
        """Get the bytes after the U+0000 that ends a REG_SZ or REG_EXPAND_SZ string as Windows reads it, when the data does not decode as a whole (b'' otherwise)"""
    def is_deleted(self) -> bool:
        """Whether the value was recovered from a free cell, cell slack or the bytes past the hive bins data"""

@final
class ValueData:
    """Python wrapper for ValueData"""

    def is_none(self) -> bool:
        """Check if this is a None value"""
    def is_string(self) -> bool:
        """Check if this is a String value"""
    def is_binary(self) -> bool:
        """Check if this is a Binary value"""
    def is_dword(self) -> bool:
        """Check if this is a DWORD value"""
    def is_qword(self) -> bool:
        """Check if this is a QWORD value"""
    def is_multi_string(self) -> bool:
        """Check if this is a MultiString value"""
    def as_string(self) -> str:
        """Get as string (if applicable)"""
    def as_binary(self) -> bytes:
        """Get as binary data (if applicable)"""
    def as_dword(self) -> int:
        """Get as DWORD (if applicable)"""
    def as_qword(self) -> int:
        """Get as QWORD (if applicable)"""
    def as_multi_string(self) -> list[str]:
        """Get as multi-string (if applicable)"""
    def as_py(self) -> None | str | int | list[str] | bytes:
        """Get the data as a plain Python object: None, str, int, list of str or bytes"""

@final
class ValueType:
    """Python wrapper for ValueType"""

    def type_name(self) -> str:
        """Get the type name as string (e.g., "REG_SZ", "REG_DWORD")"""
    def type_id(self) -> int:
        """Get the numeric type ID"""

@final
class BaseBlock:
    """Python wrapper for BaseBlock"""

    @property
    def signature(self) -> str:
        """Get the signature (should be "regf")"""
    @property
    def primary_sequence(self) -> int:
        """Get the primary sequence number"""
    @property
    def secondary_sequence(self) -> int:
        """Get the secondary sequence number"""
    @property
    def root_cell_offset(self) -> int:
        """Get the root cell offset"""
    @property
    def hive_length(self) -> int:
        """Get the hive length (size of hive data in bytes)"""
    @property
    def file_name(self) -> str:
        """Get the file name"""
    @property
    def hive_bins_data_size(self) -> int:
        """Get the hive bins data size (same as hive_length)"""
    @property
    def timestamp(self) -> int:
        """Get the last-written time as stored (100-nanosecond intervals since 1601-01-01 UTC)"""
    @property
    def last_written(self) -> datetime.datetime | None:
        """Get the last-written time as a UTC datetime (None when 0)"""
    @property
    def major_version(self) -> int:
        """Get the major format version"""
    @property
    def minor_version(self) -> int:
        """Get the minor format version"""
    @property
    def file_type(self) -> int:
        """Get the file type (0 for a primary hive file)"""
    @property
    def file_format(self) -> int:
        """Get the file format (1 for direct memory load)"""
    @property
    def checksum(self) -> int:
        """Get the base block checksum as stored"""
    @property
    def is_dirty(self) -> bool:
        """Whether the two sequence numbers differ (the hive was not closed cleanly)"""

@final
class HbinHeader:
    """Python wrapper for HbinHeader"""

    @property
    def signature(self) -> str:
        """Get the signature (should be "hbin")"""
    @property
    def offset(self) -> int:
        """Get the offset from the start of the hive bins data"""
    @property
    def size(self) -> int:
        """Get the size of this hbin"""

def carve(
    path: str,
    *,
    records: bool = False,
    memory: bool = False,
    progress: Callable[[int, int], object] | None = None,
) -> list[CarvedItem]:
    """Scan a raw image (disk image, unallocated space, memory dump) for hives, hive fragments and, with records=True, loose key and value records; progress(done, total) is called now and then"""

@final
class CarvedItem:
    """Python wrapper for CarvedItem: a hive, fragment or page of loose records found by carve()"""

    @property
    def kind(self) -> str:
        """Get what was carved: 'hive', 'fragment' or 'record'"""
    @property
    def image_offset(self) -> int:
        """Get where it starts in the image"""
    @property
    def size(self) -> int:
        """Get the number of bytes carved"""
    @property
    def truncated(self) -> bool:
        """Get whether a hive's bins stop short of its hive bins data size"""
    @property
    def compressed(self) -> bool:
        """Get whether it was decoded from NTFS compression units"""
    @property
    def reconstructed_from(self) -> list[int]:
        """Get the image offsets of the parts a hive was rebuilt from (empty when it lay in one piece)"""
    @property
    def hive_offset(self) -> int | None:
        """Get a fragment's offset in its hive (None for other kinds)"""
    @property
    def file_name(self) -> str | None:
        """Get a hive's file name from its base block (None for other kinds)"""
    @property
    def last_written(self) -> int | None:
        """Get a hive's base block timestamp as a FILETIME (None for other kinds)"""
    def hive(self) -> Hive:
        """Open the carved bytes as a Hive, the tolerant way; see Hive.problems()"""
    def save(self, path: str) -> None:
        """Write the carved bytes to a file"""
