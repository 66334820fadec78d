"""Type information for the tavrin extension module."""

from collections.abc import Sequence
from typing import Literal, NamedTuple, SupportsIndex, final, overload

import numpy as np
import numpy.typing as npt

__version__: str

__all__ = [
    "Direction",
    "Spin",
    "Edge",
    "CGSpec",
    "Contraction",
    "compute_xsymbol",
    "compute_rsymbol",
    "canonical_basis",
    "fs_phase_for_spin",
    "compute_conjugate",
    "clebsch_gordan",
    "wigner_6j",
    "wigner_3j",
    "wigner_9j",
    "memo_info",
    "clear_memos",
    "set_memo_bound",
]

# A coefficient's argument: an integer gives a float, any array of integers a float64 array.
# (Under NumPy 1.x, mypy finds the integer overloads overlapping the array ones; the first
# matching overload wins, so the integer one comes first.)
_Integer = int | np.integer
_Integers = npt.ArrayLike

@final
class Direction:
    @staticmethod
    def incoming() -> Direction: ...
    @staticmethod
    def outgoing() -> Direction: ...
    @staticmethod
    def from_sign(sign: SupportsIndex) -> Direction: ...
    def sign(self) -> int: ...
    def flip(self) -> Direction: ...
    def is_incoming(self) -> bool: ...
    def is_outgoing(self) -> bool: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class Spin:
    def __new__(cls, j_doubled: SupportsIndex) -> Spin: ...
    def value(self) -> float: ...
    def twice(self) -> int: ...
    def dimension(self) -> int: ...
    def is_integer(self) -> bool: ...
    def is_half_integer(self) -> bool: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __lt__(self, other: Spin, /) -> bool: ...
    def __gt__(self, other: Spin, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class Edge:
    @staticmethod
    def incoming(spin: Spin) -> Edge: ...
    @staticmethod
    def outgoing(spin: Spin) -> Edge: ...
    @property
    def j(self) -> Spin: ...
    @property
    def dir(self) -> Direction: ...
    def is_incoming(self) -> bool: ...
    def is_outgoing(self) -> bool: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class CGSpec:
    @staticmethod
    def from_edges(edges: Sequence[Edge]) -> CGSpec: ...
    @staticmethod
    def admits_invariant(edges: Sequence[Edge]) -> bool: ...
    @staticmethod
    def count_invariants(edges: Sequence[Edge]) -> int: ...
    def num_external(self) -> int: ...
    def om_dimension(self) -> int: ...
    @property
    def edges(self) -> list[Edge]: ...
    def get_spins(self) -> list[int]: ...
    def get_directions(self) -> list[int]: ...
    def get_om_configurations(self) -> list[list[int]]: ...
    def with_inverted_axes(self, axes: Sequence[SupportsIndex]) -> CGSpec: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

@final
class Contraction:
    def __new__(
        cls, axes_a: Sequence[SupportsIndex], axes_b: Sequence[SupportsIndex]
    ) -> Contraction: ...
    @property
    def axes_a(self) -> list[int]: ...
    @property
    def axes_b(self) -> list[int]: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...

def compute_xsymbol(
    spec_a: CGSpec,
    spec_b: CGSpec,
    contraction: Contraction,
    *,
    method: Literal["dense", "recoupling"] = "dense",
) -> tuple[npt.NDArray[np.float64], CGSpec]: ...
def compute_rsymbol(
    spec: CGSpec,
    permutation: Sequence[SupportsIndex],
    *,
    method: Literal["dense", "recoupling"] = "dense",
) -> tuple[npt.NDArray[np.float64], CGSpec]: ...
def canonical_basis(spec: CGSpec) -> npt.NDArray[np.float64]: ...
def fs_phase_for_spin(spin: Spin) -> float: ...
def compute_conjugate(spec: CGSpec) -> tuple[float, CGSpec]: ...
@overload
def clebsch_gordan(  # type: ignore[overload-overlap]
    two_j1: _Integer,
    two_m1: _Integer,
    two_j2: _Integer,
    two_m2: _Integer,
    two_j: _Integer,
    two_m: _Integer,
) -> float: ...
@overload
def clebsch_gordan(
    two_j1: _Integers,
    two_m1: _Integers,
    two_j2: _Integers,
    two_m2: _Integers,
    two_j: _Integers,
    two_m: _Integers,
) -> npt.NDArray[np.float64]: ...
@overload
def wigner_3j(  # type: ignore[overload-overlap]
    two_j1: _Integer,
    two_j2: _Integer,
    two_j3: _Integer,
    two_m1: _Integer,
    two_m2: _Integer,
    two_m3: _Integer,
) -> float: ...
@overload
def wigner_3j(
    two_j1: _Integers,
    two_j2: _Integers,
    two_j3: _Integers,
    two_m1: _Integers,
    two_m2: _Integers,
    two_m3: _Integers,
) -> npt.NDArray[np.float64]: ...
@overload
def wigner_6j(  # type: ignore[overload-overlap]
    two_j1: _Integer,
    two_j2: _Integer,
    two_j3: _Integer,
    two_j4: _Integer,
    two_j5: _Integer,
    two_j6: _Integer,
) -> float: ...
@overload
def wigner_6j(
    two_j1: _Integers,
    two_j2: _Integers,
    two_j3: _Integers,
    two_j4: _Integers,
    two_j5: _Integers,
    two_j6: _Integers,
) -> npt.NDArray[np.float64]: ...
@overload
def wigner_9j(  # type: ignore[overload-overlap]
    two_j1: _Integer,
    two_j2: _Integer,
    two_j3: _Integer,
    two_j4: _Integer,
    two_j5: _Integer,
    two_j6: _Integer,
    two_j7: _Integer,
    two_j8: _Integer,
    two_j9: _Integer,
) -> float: ...
@overload
def wigner_9j(
    two_j1: _Integers,
    two_j2: _Integers,
    two_j3: _Integers,
    two_j4: _Integers,
    two_j5: _Integers,
    two_j6: _Integers,
    two_j7: _Integers,
    two_j8: _Integers,
    two_j9: _Integers,
) -> npt.NDArray[np.float64]: ...

class MemoInfo(NamedTuple):
    hits: int
    misses: int
    bytes: int
    bound: int

def memo_info() -> dict[str, MemoInfo]: ...
def clear_memos() -> None: ...
def set_memo_bound(name: str, nbytes: SupportsIndex) -> None: ...
