# SPDX-License-Identifier: MIT
"""Tarvex's core for test rigs and scripts: ROM images and USB EPROM emulators."""

import os
from typing import Callable, NamedTuple, Optional, Sequence, Tuple, Union, overload

__version__: str

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Rom = Union[str, int]
_Device = Union[int, str]
_Bytes = Union[bytes, bytearray, memoryview]

class Range(NamedTuple):
    """Addresses start to end, both included."""
    start: int
    end: int

class LoadWarning(NamedTuple):
    """A load's warning: the first line concerned (None when none is) and the text."""
    line: Optional[int]
    text: str

class Sums(NamedTuple):
    """8-bit and 16-bit sums of the bytes and their CRC-32 (as zlib computes it)."""
    sum8: int
    sum16: int
    crc32: int

class EmulatorInfo(NamedTuple):
    """An attached emulator as find() lists it."""
    index: int
    port: str
    id: str
    serial: Optional[str]
    usable: bool
    reason: Optional[str]

class Error(Exception):
    """Anything the emulator or an image file refused."""

class NotFound(Error):
    """No emulator where one was asked for, or one that cannot be opened for another reason."""
    cause: Optional[str]
    error: Optional[str]
    device: Optional[str]

class Busy(Error):
    """Another program holds the emulator. Nothing was sent."""
    cause: Optional[str]
    error: Optional[str]
    device: Optional[str]

class AccessDenied(Error):
    """The emulator's device node may not be opened by this user. Nothing was sent."""
    cause: Optional[str]
    error: Optional[str]
    device: Optional[str]

class TransferError(Error):
    """A transfer failed after the emulator was opened; the ones after it were skipped."""
    cause: Optional[str]
    error: Optional[str]
    device: Optional[str]
    blocks_done: int
    blocks_total: int

class LoadError(Error):
    """An image file that could not be read, or that strict=True refused for its warnings."""
    warnings: list[LoadWarning]

class VerifyError(Error):
    """The read-back after a write differs from the image."""
    differences: list[Range]

class RomTooSmall(Error, ValueError):
    """The image holds data beyond the ROM size while the ROM type was never set."""

class Image:
    """The 1 MiB ROM image, as large as the largest ROM type.

    Supports the buffer protocol, indexing and slicing; assigning to it marks
    the bytes as set. len() is always 1048576.
    """
    def __init__(self, fill: int = 0) -> None: ...
    @staticmethod
    def load(
        path: _Path,
        format: str = "auto",
        fill: int = 0,
        rom: Optional[_Rom] = None,
        base: Optional[int] = None,
        skip: Optional[int] = None,
        at: Optional[int] = None,
        wrap: bool = False,
        segments: bool = False,
        strict: bool = False,
    ) -> Image:
        """Loads an Intel HEX, S-record, extended Tektronix or binary file."""
    @staticmethod
    def from_bytes(data: _Bytes, fill: int = 0) -> Image:
        """An image whose first len(data) bytes are `data` (set), the rest `fill`."""
    @property
    def warnings(self) -> list[LoadWarning]: ...
    @property
    def entry_point(self) -> Optional[int]: ...
    @property
    def ranges(self) -> list[Range]: ...
    @property
    def count(self) -> int:
        """\"Bytes were read\"."""
    @property
    def format(self) -> str: ...
    @property
    def source(self) -> str: ...
    @property
    def fill(self) -> int: ...
    def sums(self, rom: _Rom) -> Sums: ...
    def load_map(self, rom: Optional[Union[str, int]] = None) -> dict: ...
    def swap_bytes(self, rom: Optional[Union[str, int]] = None) -> None: ...
    def swap_lines(self, a: int, b: int, rom: Optional[Union[str, int]] = None) -> None: ...
    def put_checksum(self, kind: str, addr: int, rom: Optional[Union[str, int]] = None) -> int: ...
    def save(self, path: _Path, format: Optional[str] = None) -> None: ...
    def copy(self) -> Image: ...
    def __copy__(self) -> Image: ...
    def __deepcopy__(self, memo: object) -> Image: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: int) -> int: ...
    @overload
    def __getitem__(self, index: slice) -> bytes: ...
    @overload
    def __setitem__(self, index: int, value: int) -> None: ...
    @overload
    def __setitem__(self, index: slice, value: _Bytes) -> None: ...

_Blocks = Union[list[int], Tuple[list[int], list[int]]]

class Emulator:
    """An emulator (or a pair) and what it was last sent."""
    rom: _Rom
    progress: Optional[Callable[[int, int], object]]
    @property
    def device(self) -> str: ...
    @property
    def is_pair(self) -> bool: ...
    @property
    def closed(self) -> bool: ...
    def write(self, image: Image, verify: bool = False) -> None: ...
    def write_changed(self, image: Image) -> _Blocks: ...
    def read(self) -> Image: ...
    def verify(self, image: Image) -> list[Range]: ...
    def patch(self, addr: int, data: _Bytes) -> _Blocks: ...
    def run(self) -> None: ...
    def stop(self) -> None: ...
    def reset(self) -> None: ...
    def hold(self) -> Hold:
        """Holds the emulator for the operations inside a with block."""
    def close(self) -> None: ...
    def __enter__(self) -> Emulator: ...
    def __exit__(self, *args: object) -> None: ...

class Hold:
    """Emulator.hold()'s context manager."""
    def __enter__(self) -> Emulator: ...
    def __exit__(self, *args: object) -> None: ...

def find() -> list[EmulatorInfo]:
    """Every attached emulator, as `tarvexctl find` lists them."""

def open(
    device: Optional[_Device] = None,
    *,
    pair: Optional[Sequence[_Device]] = None,
    rom: Optional[_Rom] = None,
    progress: Optional[Callable[[int, int], object]] = None,
) -> Emulator:
    """Opens an emulator (or a pair) and returns an Emulator."""
