"""Canonical bases from Python: exact values, orthonormality, direction phases, arrays."""

import gc
import random
import resource

import numpy as np
import pytest

from spec_factory import canonical_signs, random_spec, spec_of
from tavrin import Contraction, canonical_basis, compute_rsymbol, compute_xsymbol

R2 = 0.7071067811865475
R3 = 0.5773502691896258

# (spins, signs, shape, every element in row-major order), compared bit for bit: the sign of
# zero included.
EXACT_BASES = [
    ((1, 1), (1, -1), (2, 2, 1), [R2, 0.0, 0.0, R2]),
    ((1, 1), (1, 1), (2, 2, 1), [-0.0, R2, -R2, 0.0]),
    ((2, 2), (1, 1), (3, 3, 1), [0.0, -0.0, R3, 0.0, -R3, 0.0, R3, -0.0, 0.0]),
    ((1, 1, 0), (1, 1, -1), (2, 2, 1, 1),
     [0.0, -0.7071067811865476, 0.7071067811865476, 0.0]),
]


@pytest.mark.parametrize("spins, signs, shape, elements", EXACT_BASES, ids=str)
def test_exact_elements(spins, signs, shape, elements):
    basis = canonical_basis(spec_of(spins, signs))
    assert basis.shape == shape
    assert basis.tobytes() == np.array(elements, dtype=np.float64).tobytes()


@pytest.mark.parametrize(
    "index, value",
    [((0, 1, 0, 0, 0), -0.5), ((1, 0, 0, 0, 0), 0.5), ((0, 0, 1, 0, 1), -0.5773502691896256),
     ((1, 1, 0, 1, 1), 0.5773502691896256), ((0, 1, 0, 0, 1), 0.28867513459481287)],
    ids=str,
)
def test_four_half_spins_in_the_canonical_pattern(index, value):
    basis = canonical_basis(spec_of([1, 1, 1, 1]))
    assert basis.shape == (2, 2, 2, 2, 2)
    assert basis[index] == value


def test_four_incoming_half_spins_have_the_documented_shape():
    assert canonical_basis(spec_of([1, 1, 1, 1], [1, 1, 1, 1])).shape == (2, 2, 2, 2, 2)


@pytest.mark.parametrize(
    "spins, message",
    [((), "Cannot build canonical basis with 0 external edges (minimum is 2)"),
     ((2,), "Cannot build canonical basis with 1 external edges (minimum is 2)")],
    ids=str,
)
def test_refused_specifications(spins, message):
    with pytest.raises(ValueError) as caught:
        canonical_basis(spec_of(spins))
    assert str(caught.value) == "Invalid CGSpec: " + message


def test_three_half_spins_cannot_even_be_specified():
    with pytest.raises(ValueError, match="^Invalid CGSpec: "):
        spec_of([1, 1, 1])


def random_specs(seed, count, max_edges=6):
    rng = random.Random(seed)
    return [random_spec(rng, rng.randint(2, max_edges)) for _ in range(count)]


def om_gram(basis):
    slices = basis.reshape(-1, basis.shape[-1])
    return slices.T @ slices


@pytest.mark.parametrize("spec", random_specs(seed=7, count=40),
                         ids=lambda s: f"{s.get_spins()}{s.get_directions()}")
def test_om_slices_are_orthonormal(spec):
    basis = canonical_basis(spec)
    assert basis.shape == tuple(s + 1 for s in spec.get_spins()) + (spec.om_dimension(),)
    np.testing.assert_allclose(om_gram(basis), np.eye(spec.om_dimension()), rtol=0, atol=1e-12)


def direction_phases(basis, spins, signs):
    """The phases of the edges whose direction differs from the canonical pattern."""
    result = basis.copy()
    for axis, (twice, sign, expected) in enumerate(zip(spins, signs, canonical_signs(len(spins)))):
        if sign != expected:
            result = np.flip(result, axis)
            phase = np.array([1.0 if (twice - i) % 2 == 0 else -1.0 for i in range(twice + 1)])
            shape = [1] * result.ndim
            shape[axis] = twice + 1
            result = result * phase.reshape(shape)
    return result


@pytest.mark.parametrize("spec", random_specs(seed=11, count=15, max_edges=5),
                         ids=lambda s: f"{s.get_spins()}{s.get_directions()}")
def test_directions_act_as_reversal_and_sign_of_each_flipped_axis(spec):
    spins = spec.get_spins()
    canonical = canonical_basis(spec_of(spins))
    expected = direction_phases(canonical, spins, spec.get_directions())
    assert canonical_basis(spec).tobytes() == np.ascontiguousarray(expected).tobytes()


def test_array_properties():
    basis = canonical_basis(spec_of([2, 2, 2], [1, -1, 1]))
    assert basis.dtype == np.dtype("float64") and basis.dtype.isnative
    assert basis.flags.writeable and basis.flags.c_contiguous and basis.flags.aligned
    assert basis.strides == (3 * 3 * 8, 3 * 8, 8, 8)
    assert not basis.flags.owndata
    assert type(basis.base).__name__ == "PySliceContainer"


def test_arrays_are_independent_of_the_cache_and_of_later_calls():
    spec = spec_of([2, 1, 1])
    first = canonical_basis(spec)
    pristine = first.copy()
    first[...] = 42.0
    second = canonical_basis(spec)
    assert second.tobytes() == pristine.tobytes()
    assert not np.shares_memory(first, second)
    assert second.base is not first.base


def test_symbol_arrays_are_independent_of_later_calls():
    spec = spec_of([1, 1, 1, 1])
    first, _ = compute_rsymbol(spec, [1, 0, 2, 3])
    pristine = first.copy()
    first *= 3.0
    second, _ = compute_rsymbol(spec, [1, 0, 2, 3])
    assert second.tobytes() == pristine.tobytes()


def test_array_outlives_the_tuple_it_came_in():
    a = spec_of([1, 1, 2])
    b = spec_of([2, 1, 1], [1, -1, -1])
    result = compute_xsymbol(a, b, Contraction([2], [0]))
    data = result[0]
    expected = data.copy()
    del result
    gc.collect()
    for _ in range(50):  # churn the allocator
        canonical_basis(spec_of([2, 2, 2, 2]))
    assert data.tobytes() == expected.tobytes()
    assert data.sum() == expected.sum()


def test_views_keep_the_storage_alive():
    basis = canonical_basis(spec_of([2, 2]))
    view = basis[1:]
    expected = view.copy()
    del basis
    gc.collect()
    assert view.tobytes() == expected.tobytes()


def test_released_arrays_free_their_storage():
    spec = spec_of([4, 4, 4, 4, 4, 4])  # 8 MB per array
    canonical_basis(spec)
    peak_before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss  # KiB
    for _ in range(40):
        canonical_basis(spec)
    growth_mib = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - peak_before) / 1024
    assert growth_mib < 150  # 320 MiB if the storage leaked


def test_array_of_32_axes_is_made():
    basis = canonical_basis(spec_of([0] * 31))
    assert basis.shape == (1,) * 32
    assert basis.item() == 1.0


def test_array_of_more_than_32_axes_is_an_internal_fault():
    spec = spec_of([0] * 32)
    assert spec.om_dimension() == 1
    with pytest.raises(BaseException) as caught:
        try:
            canonical_basis(spec)
        except Exception:
            pytest.fail("an internal fault must not be caught by 'except Exception'")
    assert type(caught.value).__name__ == "InternalFault"
    assert "33 axes" in str(caught.value) and "32" in str(caught.value)

