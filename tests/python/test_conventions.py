"""The conventions codes build on: conjugation, the norm of basis slices and isometric
splittings, and which contractions the X-symbol expands."""

import itertools

import numpy as np
import pytest

from spec_factory import spec_of
from tavrin import Contraction, canonical_basis, compute_conjugate, compute_xsymbol

SPIN_LISTS = [(1, 1), (2, 2), (1, 1, 2), (2, 2, 2), (1, 2, 3), (1, 1, 1, 1), (2, 1, 1, 2),
              (3, 3, 2, 2), (1, 1, 1, 1, 2)]


@pytest.mark.parametrize("spins", SPIN_LISTS, ids=str)
def test_conjugate_basis_is_the_phase_times_the_basis(spins):
    for signs in itertools.product((1, -1), repeat=len(spins)):
        spec = spec_of(spins, signs)
        phase, conjugate = compute_conjugate(spec)
        assert np.array_equal(canonical_basis(conjugate), phase * canonical_basis(spec)), signs


@pytest.mark.parametrize("spins", [(1, 1, 2), (2, 2, 2), (3, 4, 5), (1, 1, 1, 1), (2, 2, 2, 2),
                                   (1, 2, 1, 2, 2)], ids=str)
def test_slices_are_orthonormal_and_sqrt_2k_plus_1_from_an_isometry(spins):
    basis = canonical_basis(spec_of(spins))
    om, k = basis.shape[-1], spins[-1]
    slices = basis.reshape(-1, om)
    np.testing.assert_allclose(slices.T @ slices, np.eye(om), rtol=0, atol=1e-15)
    for a in range(om):
        isometry = np.sqrt(k + 1) * basis[..., a].reshape(-1, k + 1)
        np.testing.assert_allclose(isometry.T @ isometry, np.eye(k + 1), rtol=0, atol=1e-15)


def test_isometric_splitting_takes_the_factor_into_its_reduced_block():
    """A symmetric tensor t (x) B of edges (j1 in with multiplicity 3, j2 in, k out with
    multiplicity 2) is an isometry from the k edge when t^T t = (2k+1) 1."""
    k = 3
    basis = canonical_basis(spec_of([2, 1, k]))[..., 0]      # (1, 1/2, 3/2)
    orthonormal, _ = np.linalg.qr(np.random.default_rng(7).normal(size=(3, 2)))
    reduced = np.sqrt(k + 1) * orthonormal
    full = np.einsum("ab,ijm->iajmb", reduced, basis).reshape(3 * 2 * 3, (k + 1) * 2)
    np.testing.assert_allclose(full.T @ full, np.eye((k + 1) * 2), rtol=0, atol=1e-14)


def contracted_basis(a, b, axes_a, axes_b):
    """contract(BA[..., i], BB[..., j]) for every (i, j), and the expansion sum X BC."""
    x, c = compute_xsymbol(a, b, Contraction(axes_a, axes_b))
    basis_a, basis_b, basis_c = (canonical_basis(s) for s in (a, b, c))
    product = np.tensordot(basis_a, basis_b, (axes_a, axes_b))
    free_a = a.num_external() - len(axes_a)
    product = np.moveaxis(product, free_a, -2)               # C's edges, then om_a, om_b
    expansion = np.einsum("abc,...c->...ab", x, basis_c)
    return product, expansion, basis_c


OPPOSITE_PAIRS = [
    (spec_of([1, 1, 2]), spec_of([2, 1, 1], [1, -1, -1]), [2], [0]),
    (spec_of([6, 1, 5]), spec_of([5, 1, 4]), [2], [0]),
    (spec_of([6, 1, 5]), spec_of([2, 1, 1, 2], [1, -1, 1, -1]), [1], [1]),
    (spec_of([2, 2, 2, 2], [1, 1, -1, -1]), spec_of([2, 2, 2, 2], [1, 1, -1, -1]), [2, 3], [1, 0]),
    (spec_of([1, 2, 3, 2], [1, 1, -1, -1]), spec_of([3, 2, 1, 2], [1, 1, -1, 1]), [2, 3], [0, 1]),
]


@pytest.mark.parametrize("a, b, axes_a, axes_b", OPPOSITE_PAIRS)
def test_opposite_pairs_expand_exactly(a, b, axes_a, axes_b):
    product, expansion, _ = contracted_basis(a, b, axes_a, axes_b)
    assert np.abs(product).max() > 0.1
    np.testing.assert_allclose(product, expansion, rtol=0, atol=1e-14)


SAME_DIRECTION_PAIRS = [
    (spec_of([1, 1, 2]), spec_of([2, 1, 1], [-1, -1, -1]), [2], [0]),
    (spec_of([2, 2, 2, 2]), spec_of([2, 2, 2, 2]), [0, 1], [0, 1]),
]


@pytest.mark.parametrize("a, b, axes_a, axes_b", SAME_DIRECTION_PAIRS)
def test_same_direction_pairs_give_the_projection_onto_the_invariants(a, b, axes_a, axes_b):
    product, expansion, basis_c = contracted_basis(a, b, axes_a, axes_b)
    remainder = product - expansion
    assert np.abs(remainder).max() > 0.1, "the product is not invariant"
    edges = basis_c.ndim - 1
    overlaps = np.tensordot(basis_c, remainder, (list(range(edges)), list(range(edges))))
    np.testing.assert_allclose(overlaps, 0.0, rtol=0, atol=1e-14)


def test_two_spin_one_half_edges_of_one_direction_pair_to_zero():
    a = spec_of([1, 1], [1, -1])
    x_dense, _ = compute_xsymbol(a, a, Contraction([0], [0]))
    x_recoupled, _ = compute_xsymbol(a, a, Contraction([0], [0]), method="recoupling")
    np.testing.assert_allclose(x_dense, 0.0, rtol=0, atol=1e-16)
    assert np.all(x_recoupled == 0.0)
    one = spec_of([2, 2], [1, -1])
    assert abs(compute_xsymbol(one, one, Contraction([0], [0]))[0].item()) > 0.1
