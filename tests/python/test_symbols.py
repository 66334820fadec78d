"""X-symbols, R-symbols, conjugation and Frobenius-Schur phases from Python."""

import random
import re
import string

import numpy as np
import pytest

from spec_factory import random_spec, spec_of
from tavrin import (
    CGSpec,
    Contraction,
    Spin,
    canonical_basis,
    compute_conjugate,
    compute_rsymbol,
    compute_xsymbol,
    fs_phase_for_spin,
)

TOLERANCE = 1e-12


def signs_of(spec):
    return spec.get_directions()


def xsymbol_by_einsum(spec_a, spec_b, axes_a, axes_b, spec_c):
    """Sum of BA * BB * BC over the paired magnetic indices, written out with einsum."""
    letters = iter(string.ascii_letters)
    edges_a = [next(letters) for _ in range(spec_a.num_external())]
    edges_b = [next(letters) for _ in range(spec_b.num_external())]
    for i, j in zip(axes_a, axes_b):
        edges_b[j] = edges_a[i]
    free = [edges_a[i] for i in range(len(edges_a)) if i not in axes_a]
    free += [edges_b[j] for j in range(len(edges_b)) if j not in axes_b]
    om_a, om_b, om_c = next(letters), next(letters), next(letters)
    subscripts = (f"{''.join(edges_a)}{om_a},{''.join(edges_b)}{om_b},{''.join(free)}{om_c}"
                  f"->{om_a}{om_b}{om_c}")
    return np.einsum(subscripts, canonical_basis(spec_a), canonical_basis(spec_b),
                     canonical_basis(spec_c))


def rsymbol_by_einsum(spec, permutation):
    letters = string.ascii_letters[:spec.num_external()]
    permuted = "".join(letters[p] for p in permutation)
    spec_permuted = CGSpec.from_edges([spec.edges[p] for p in permutation])
    return np.einsum(f"{letters}Y,{permuted}Z->YZ", canonical_basis(spec),
                     canonical_basis(spec_permuted))


def random_contractions(seed, count):
    """(A, B, axes_a, axes_b) with equal spins on every pair and a computable C."""
    rng = random.Random(seed)
    cases = []
    while len(cases) < count:
        a = random_spec(rng, rng.randint(2, 5))
        b = random_spec(rng, rng.randint(2, 5))
        candidates = [(i, j) for i in range(a.num_external()) for j in range(b.num_external())
                      if a.get_spins()[i] == b.get_spins()[j]]
        rng.shuffle(candidates)
        axes_a, axes_b = [], []
        for i, j in candidates[: rng.randint(0, 3)]:
            if i not in axes_a and j not in axes_b:
                axes_a.append(i)
                axes_b.append(j)
        free = [s for i, s in enumerate(a.get_spins()) if i not in axes_a]
        free += [s for j, s in enumerate(b.get_spins()) if j not in axes_b]
        if not 2 <= len(free) <= 6 or (len(free) == 2 and free[0] != free[1]):
            continue
        try:
            spec_of(free)
        except ValueError:
            continue
        cases.append((a, b, axes_a, axes_b))
    return cases


def case_id(case):
    a, b, axes_a, axes_b = case
    return f"{a.get_spins()}x{b.get_spins()}:{axes_a}-{axes_b}"


@pytest.mark.parametrize("case", random_contractions(seed=3, count=40), ids=case_id)
def test_xsymbol_agrees_with_an_einsum_of_the_bases(case):
    a, b, axes_a, axes_b = case
    data, spec_c = compute_xsymbol(a, b, Contraction(axes_a, axes_b))
    assert data.shape == (a.om_dimension(), b.om_dimension(), spec_c.om_dimension())
    expected_edges = [e for i, e in enumerate(a.edges) if i not in axes_a]
    expected_edges += [e for j, e in enumerate(b.edges) if j not in axes_b]
    assert spec_c == CGSpec.from_edges(expected_edges)
    np.testing.assert_allclose(data, xsymbol_by_einsum(a, b, axes_a, axes_b, spec_c),
                               rtol=0, atol=TOLERANCE)


def opposite_direction_cases(seed, count):
    return [c for c in random_contractions(seed, 4 * count)
            if c[2] and all(signs_of(c[0])[i] != signs_of(c[1])[j] for i, j in zip(c[2], c[3]))
            ][:count]


@pytest.mark.parametrize("case", opposite_direction_cases(seed=5, count=15), ids=case_id)
def test_xsymbol_expands_the_contracted_bases_in_the_basis_of_c(case):
    # Pairs of opposite directions contract invariant tensors into an invariant tensor, which
    # the orthonormal basis of C reproduces exactly: BA . BB = sum_c X[., ., c] BC[..., c].
    a, b, axes_a, axes_b = case
    data, spec_c = compute_xsymbol(a, b, Contraction(axes_a, axes_b))
    contracted = np.tensordot(canonical_basis(a), canonical_basis(b), axes=(axes_a, axes_b))
    om_a_axis = a.num_external() - len(axes_a)
    contracted = np.moveaxis(contracted, om_a_axis, -2)
    rebuilt = np.einsum("abc,...c->...ab", data, canonical_basis(spec_c))
    np.testing.assert_allclose(rebuilt, contracted, rtol=0, atol=TOLERANCE)


def random_permutations(seed, count):
    rng = random.Random(seed)
    cases = []
    for _ in range(count):
        spec = random_spec(rng, rng.randint(2, 6))
        permutation = list(range(spec.num_external()))
        rng.shuffle(permutation)
        cases.append((spec, permutation))
    return cases


@pytest.mark.parametrize("spec, permutation", random_permutations(seed=9, count=40),
                         ids=lambda v: str(v.get_spins()) if isinstance(v, CGSpec) else str(v))
def test_rsymbol_agrees_with_an_einsum_and_is_orthogonal(spec, permutation):
    data, spec_permuted = compute_rsymbol(spec, permutation)
    assert spec_permuted == CGSpec.from_edges([spec.edges[p] for p in permutation])
    assert data.shape == (spec.om_dimension(), spec_permuted.om_dimension())
    np.testing.assert_allclose(data, rsymbol_by_einsum(spec, permutation),
                               rtol=0, atol=TOLERANCE)
    # Both bases are orthonormal bases of the same invariant space.
    np.testing.assert_allclose(data @ data.T, np.eye(len(data)), rtol=0, atol=TOLERANCE)


def test_rsymbol_of_the_identity_is_the_overlap_of_the_basis_with_itself():
    spec = spec_of([2, 2, 2, 2], [1, -1, 1, -1])
    data, spec_permuted = compute_rsymbol(spec, [0, 1, 2, 3])
    assert spec_permuted == spec
    slices = canonical_basis(spec).reshape(-1, spec.om_dimension())
    np.testing.assert_allclose(data, slices.T @ slices, rtol=0, atol=TOLERANCE)


def test_rsymbol_of_a_swap_of_four_half_spins():
    data, spec_permuted = compute_rsymbol(spec_of([1, 1, 1, 1], [1, 1, 1, 1]), [1, 0, 2, 3])
    assert data.shape == (2, 2)
    np.testing.assert_allclose(data, [[-1.0, 0.0], [0.0, 1.0]], rtol=0, atol=TOLERANCE)


def test_rsymbol_directions_travel_with_their_edges():
    _, spec_permuted = compute_rsymbol(spec_of([1, 1, 2], [1, -1, -1]), [2, 0, 1])
    assert spec_permuted.get_spins() == [2, 1, 1]
    assert spec_permuted.get_directions() == [-1, 1, -1]


@pytest.mark.parametrize(
    "spins, permutation, message",
    [([1, 1, 2], [0, 0], "Permutation length 2 does not match number of external edges 3"),
     ([1, 1, 2], [0, 1, 3], "Permutation index 3 out of range (max 2)"),
     ([1, 1, 2], [0, 0, 1], "Permutation index 0 appears more than once"),
     ([1, 1, 2], [0, 3, 0], "Permutation index 3 out of range (max 2)"),
     ([1, 1, 2], [0, 0, 5], "Permutation index 0 appears more than once"),
     ([], [], "Cannot build canonical basis with 0 external edges (minimum is 2)"),
     ([2], [0], "Cannot build canonical basis with 1 external edges (minimum is 2)")],
    ids=str,
)
def test_rsymbol_refuses(spins, permutation, message):
    with pytest.raises(ValueError) as caught:
        compute_rsymbol(spec_of(spins), permutation)
    assert str(caught.value) == "Invalid CGSpec: " + message


HALF_A = spec_of([1, 1, 2])                 # 1/2 in, 1/2 in, 1 out
ONE_B = spec_of([2, 1, 1], [1, -1, -1])     # 1 in, 1/2 out, 1/2 out


def test_xsymbol_worked_example():
    data, spec_c = compute_xsymbol(HALF_A, ONE_B, Contraction([2], [0]))
    assert data.shape == (1, 1, 2)
    assert spec_c.get_spins() == [1, 1, 1, 1]
    assert spec_c.get_directions() == [1, 1, -1, -1]
    assert spec_c.om_dimension() == 2


def test_empty_contraction_is_the_outer_product():
    a, b = spec_of([1, 1]), spec_of([2, 2], [1, 1])
    data, spec_c = compute_xsymbol(a, b, Contraction([], []))
    assert spec_c == CGSpec.from_edges(list(a.edges) + list(b.edges))
    np.testing.assert_allclose(data, xsymbol_by_einsum(a, b, [], [], spec_c),
                               rtol=0, atol=TOLERANCE)


def test_pairing_two_incoming_edges_is_computed():
    a = spec_of([1, 1, 2], [1, 1, 1])
    b = spec_of([1, 1, 2], [1, 1, -1])
    data, spec_c = compute_xsymbol(a, b, Contraction([0], [1]))
    np.testing.assert_allclose(data, xsymbol_by_einsum(a, b, [0], [1], spec_c),
                               rtol=0, atol=TOLERANCE)


def test_pairs_join_the_listed_edges_in_order():
    a = spec_of([1, 2, 1])
    b = spec_of([2, 1, 1], [1, -1, 1])
    data, spec_c = compute_xsymbol(a, b, Contraction([0, 1], [1, 0]))
    np.testing.assert_allclose(data, xsymbol_by_einsum(a, b, [0, 1], [1, 0], spec_c),
                               rtol=0, atol=TOLERANCE)
    with pytest.raises(RuntimeError, match=r"J1=1, J2=2$"):
        compute_xsymbol(a, b, Contraction([0, 1], [0, 1]))


XSYMBOL_ERRORS = [
    # (spec_a spins, spec_b spins, axes_a, axes_b, exception, message)
    ([1, 1, 2], [2, 1, 1], [3], [0], RuntimeError,
     "Tavrin error: Edge index 3 out of bounds (number of edges: 3)"),
    ([1, 1, 2], [2, 1, 1], [2], [3], RuntimeError,
     "Tavrin error: Edge index 3 out of bounds (number of edges: 3)"),
    ([1, 1, 2], [2, 1, 1, 2], [2], [7], RuntimeError,
     "Tavrin error: Edge index 7 out of bounds (number of edges: 4)"),
    ([1, 1, 2], [2, 1, 1], [5], [9], RuntimeError,
     "Tavrin error: Edge index 5 out of bounds (number of edges: 3)"),
    ([1, 1, 2], [2, 1, 1], [0, 9], [0, 1], RuntimeError,
     "Tavrin error: Incompatible edge spins for contraction: J1=1, J2=2"),
    ([1, 1, 1, 1], [1, 1, 1, 1], [0, 0], [0, 1], ValueError,
     "Invalid contraction: Edge index 0 appears more than once in axes_a"),
    ([1, 1, 1, 1], [1, 1, 1, 1], [0, 1], [1, 1], ValueError,
     "Invalid contraction: Edge index 1 appears more than once in axes_b"),
    ([1, 1], [1, 1], [0, 1], [1, 0], ValueError,
     "Invalid CGSpec: Cannot build canonical basis with 0 external edges (minimum is 2)"),
    ([1, 1, 2], [1, 1], [0, 1], [1, 0], ValueError,
     "Invalid CGSpec: Cannot build canonical basis with 1 external edges (minimum is 2)"),
    ([1, 1, 0], [1, 1, 2], [0, 1], [0, 1], ValueError,
     "Invalid CGSpec: Two-edge CG tensor requires equal spins, got j=0 and j=1"),
    ([4, 2, 2, 0], [2, 2, 0, 0], [1, 2], [0, 1], ValueError, "Invalid CGSpec: Edge spins ["),
]


@pytest.mark.parametrize("spins_a, spins_b, axes_a, axes_b, error, message", XSYMBOL_ERRORS,
                         ids=[m for *_, m in XSYMBOL_ERRORS])
def test_xsymbol_refuses(spins_a, spins_b, axes_a, axes_b, error, message):
    with pytest.raises(error) as caught:
        compute_xsymbol(spec_of(spins_a), spec_of(spins_b), Contraction(axes_a, axes_b))
    assert str(caught.value).startswith(message)
    if not message.endswith("["):
        assert str(caught.value) == message


@pytest.mark.parametrize(
    "axes_a, axes_b, message",
    [([0, 0], [0, 1], "Invalid contraction: Edge index 0 appears more than once in axes_a"),
     ([0, 4], [0, 1], "Tavrin error: Edge index 4 out of bounds (number of edges: 4)")],
)
def test_pair_checks_come_before_any_basis_is_fetched(tmp_path, monkeypatch, axes_a, axes_b,
                                                      message):
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path / "cache"))
    four = spec_of([1, 1, 1, 1])
    with pytest.raises((ValueError, RuntimeError), match="^" + re.escape(message) + "$"):
        compute_xsymbol(four, four, Contraction(axes_a, axes_b))
    assert not (tmp_path / "cache").exists()


CONJUGATES = [
    # (spins, signs, phase, conjugate signs)
    ([1, 1, 2], [1, 1, -1], 1.0, [-1, -1, 1]),
    ([1, 1, 1, 1], [1, 1, 1, 1], -1.0, [-1, -1, -1, -1]),
    ([1, 1, 2], [-1, -1, 1], 1.0, [1, 1, -1]),
    ([1], [1], -1.0, [-1]),
    ([3], [1], -1.0, [-1]),
    ([2], [1], 1.0, [-1]),
    ([], [], 1.0, []),
    ([2, 4, 2], [1, 1, 1], 1.0, [-1, -1, -1]),
    ([2, 4, 2], [-1, 1, -1], 1.0, [1, -1, 1]),
    ([1, 3, 2], [1, -1, 1], -1.0, [-1, 1, -1]),
]


@pytest.mark.parametrize("spins, signs, phase, conjugate_signs", CONJUGATES, ids=str)
def test_conjugate(spins, signs, phase, conjugate_signs):
    spec = spec_of(spins, signs)
    result_phase, conjugate = compute_conjugate(spec)
    assert type(result_phase) is float and result_phase == phase
    assert conjugate.get_spins() == spins
    assert conjugate.get_directions() == conjugate_signs
    assert conjugate.om_dimension() == spec.om_dimension()
    assert compute_conjugate(conjugate)[1] == spec


@pytest.mark.parametrize("twice, phase", [(0, 1.0), (1, -1.0), (2, 1.0), (3, -1.0),
                                          (2**31 - 1, -1.0), (2**31 - 2, 1.0)])
def test_fs_phase_for_spin(twice, phase):
    result = fs_phase_for_spin(Spin(twice))
    assert type(result) is float and result == phase
