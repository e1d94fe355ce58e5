"""Python module definition"""

from typing import final

__all__ = ["Hive", "RegistryKey", "RegistryValue", "ValueData", "ValueType", "BaseBlock", "HbinHeader", "__version__"]
__version__: str

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
