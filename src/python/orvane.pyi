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
    def hbins(self) -> list[HbinHeader]:
        """Get all hbin headers"""
    def save(self, path: str) -> None:
        """Save the hive to a file"""

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
