"""Checking a stored row before the tool copies or trusts it: its key must be a list of spins
that couple to total spin 0, and its data an array in the NPY format that the library reads
(8-byte floats, either byte order, nothing missing and nothing after the data) whose shape is
that of the basis of those spins. Only the header is read: the data of a row whose length
matches its header always decode."""

import ast
import math
import struct
from typing import Protocol

from tavrin_cli.spin_lists import planned_basis

MAGIC = b"\x93NUMPY"
HEADER_KEYS = ("descr", "fortran_order", "shape")
ELEMENT_TYPES = ("<f8", ">f8")
# A header longer than this is no header the library or NumPy would write.
LONGEST_HEADER = 1 << 20


class Readable(Protocol):
    def read(self, length: int = -1, /) -> bytes: ...


class RowFault(Exception):
    """Why a row is refused, in words that follow "the row ..." or a row's spins."""


def key_spins(key: object) -> tuple[int, ...]:
    """The spins of a key, or RowFault."""
    if not isinstance(key, bytes) or not key or len(key) % 4:
        raise RowFault("its key is not a list of spins (4 bytes each)")
    spins = struct.unpack(f"<{len(key) // 4}i", key)
    if len(spins) < 2 or min(spins) < 0:
        raise RowFault("its key is not a list of at least two spins, none negative")
    return spins


def stored_shape(data: Readable, length: int) -> tuple[int, ...]:
    """The shape of an NPY array of 8-byte floats that is exactly length bytes long, read from
    its header; RowFault if the library would not read it."""
    start = data.read(8)
    if len(start) < 8 or start[:6] != MAGIC:
        raise RowFault("its data are not an array in the NPY format")
    major, minor = start[6], start[7]
    if major not in (1, 2, 3) or minor != 0:
        raise RowFault(f"its data are in an unknown NPY version {major}.{minor}")
    width = 2 if major == 1 else 4
    header_length = int.from_bytes(data.read(width), "little")
    if header_length > LONGEST_HEADER:
        raise RowFault(f"its NPY header claims {header_length} bytes")
    header = data.read(header_length)
    if len(header) < header_length or not header.endswith(b"\n"):
        raise RowFault("its NPY header is cut short")
    try:
        fields = ast.literal_eval(header.decode("utf-8" if major == 3 else "ascii"))
    except (ValueError, SyntaxError, UnicodeDecodeError, MemoryError, RecursionError):
        raise RowFault("its NPY header does not parse") from None
    if not isinstance(fields, dict) or sorted(fields, key=str) != sorted(HEADER_KEYS):
        raise RowFault(f"its NPY header is not a dict of {', '.join(HEADER_KEYS)}")
    shape = fields["shape"]
    if fields["descr"] not in ELEMENT_TYPES:
        raise RowFault(f"its elements are {fields['descr']!r}, not 8-byte floats")
    if not isinstance(fields["fortran_order"], bool) or not isinstance(shape, tuple) or \
            not all(type(n) is int and n >= 0 for n in shape):
        raise RowFault("its NPY header has an unreadable layout or shape")
    data_start = 8 + width + header_length
    needed = data_start + 8 * math.prod(shape)
    if length != needed:
        raise RowFault(f"it is {length} bytes long where its shape {shape} needs {needed}")
    return shape


def check_row(key: object, data: Readable, length: int) -> tuple[int, ...]:
    """The spins of a row the library would read as their canonical basis, or RowFault."""
    spins = key_spins(key)
    shape = stored_shape(data, length)
    if shape[:-1] != tuple(s + 1 for s in spins) or len(shape) != len(spins) + 1:
        raise RowFault(f"its shape {shape} is not that of a basis of spins (2j) "
                       f"{','.join(map(str, spins))}")
    try:
        expected = planned_basis(spins).shape
    except ValueError:
        raise RowFault("its spins cannot couple to total spin 0") from None
    if shape != expected:
        raise RowFault(f"its shape {shape} is not the basis's {expected}")
    return spins
