"""The in-process store of decoded bases, seen from Python: callers own what they get, the
database of the cache path in force still receives its rows, and the size variable only
changes how much is kept."""

import numpy as np
import pytest

from spec_factory import cache_rows, spec_of, spin_key
from tavrin import Contraction, canonical_basis, compute_rsymbol, compute_xsymbol

A = spec_of([1, 1, 2])
B = spec_of([2, 1, 1], [1, -1, -1])
PAIR = Contraction([2], [0])


@pytest.mark.parametrize("signs", [[1, 1, -1], [-1, 1, 1], [1, -1, -1]])
def test_each_caller_gets_an_array_of_its_own(signs):
    spec = spec_of([1, 2, 3], signs)
    first = canonical_basis(spec)
    expected = first.copy()
    first[...] = 7.0
    again = canonical_basis(spec)
    assert again.tobytes() == expected.tobytes()
    assert again is not first


def test_rows_reach_the_database_of_the_path_in_force(tmp_path, monkeypatch):
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path / "first"))
    compute_xsymbol(A, B, PAIR)
    compute_rsymbol(A, [1, 0, 2])
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path / "second"))
    compute_xsymbol(A, B, PAIR)
    compute_rsymbol(A, [1, 0, 2])
    assert set(cache_rows(tmp_path / "second")) == {
        spin_key(s) for s in ([1, 1, 2], [2, 1, 1], [1, 1, 1, 1])
    }


@pytest.mark.parametrize("capacity", ["0", "1", "", "not a number", "1000000000"])
def test_the_size_of_the_store_changes_no_result(capacity, tmp_path, monkeypatch):
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path))
    expected_x = compute_xsymbol(A, B, PAIR)[0]
    expected_basis = canonical_basis(B)
    monkeypatch.setenv("TAVRIN_BASIS_STORE_BYTES", capacity)
    for _ in range(2):
        assert compute_xsymbol(A, B, PAIR)[0].tobytes() == expected_x.tobytes()
        assert canonical_basis(B).tobytes() == expected_basis.tobytes()
    np.testing.assert_allclose(compute_rsymbol(A, [0, 1, 2])[0], np.eye(1), rtol=0, atol=1e-14)
