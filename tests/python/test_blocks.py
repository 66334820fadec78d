"""Block tensors from Python: every operation against NumPy on the dense tensors and what the
classes show (the arguments refused are in test_block_errors.py)."""

import itertools

import numpy as np
import pytest

import tavrin
from tavrin import BlockTensor, Direction, Leg, contract


def random_leg(rng, sign, widest=3):
    sectors = {}
    while not sectors:
        sectors = {j: int(rng.integers(1, 4)) for j in range(widest + 1) if rng.random() < 0.6}
    return Leg.incoming(sectors) if sign > 0 else Leg.outgoing(sectors)


def random_tensor(rng, signs, widest=3):
    while True:
        t = BlockTensor.random([random_leg(rng, s, widest) for s in signs],
                               seed=int(rng.integers(1 << 30)))
        if t.blocks:
            return t


PATTERNS = [signs for n in (2, 3) for signs in itertools.product((1, -1), repeat=n)]


@pytest.mark.parametrize("signs", PATTERNS, ids=str)
def test_dense_round_trip_and_arithmetic(signs):
    rng = np.random.default_rng(len(signs) * 7 + signs.count(1))
    a = random_tensor(rng, signs)
    dense = a.to_dense()
    assert dense.shape == tuple(leg.dense_dimension() for leg in a.legs)
    assert BlockTensor.from_dense(a.legs, dense) == a
    b = BlockTensor.random(a.legs, seed=3)
    np.testing.assert_allclose((2.0 * a - b / 4).to_dense(), 2 * dense - b.to_dense() / 4,
                               atol=1e-12)
    assert a.inner(b) == pytest.approx(np.sum(dense * b.to_dense()))
    assert a.norm() == pytest.approx(np.linalg.norm(dense))
    assert BlockTensor.from_blocks(a.legs, a.blocks) == a


def test_a_dense_array_that_is_not_invariant_is_projected():
    half = Leg.incoming({1: 1})
    legs = [half, half.flipped()]
    projected = BlockTensor.from_dense(legs, np.array([[1.0, 2.0], [3.0, 5.0]]))
    np.testing.assert_allclose(projected.to_dense(), 3.0 * np.eye(2), atol=1e-15)


CONTRACTIONS = [((3, 3), [2], [0]), ((3, 3), [0, 1], [1, 2]), ((4, 3), [3, 0], [1, 2]),
                ((2, 2), [0, 1], [1, 0]), ((3, 4), [1], [3])]


@pytest.mark.parametrize("ranks, axes_a, axes_b", CONTRACTIONS)
def test_contraction_is_the_dense_contraction(ranks, axes_a, axes_b):
    rng = np.random.default_rng(sum(ranks) + len(axes_a))
    for signs in itertools.product((1, -1), repeat=ranks[0]):
        a = random_tensor(rng, signs, widest=2)
        legs_b = [random_leg(rng, rng.choice([1, -1]), 2) for _ in range(ranks[1])]
        for i, j in zip(axes_a, axes_b):
            legs_b[j] = a.legs[i].flipped()
        b = BlockTensor.random(legs_b, seed=int(rng.integers(1 << 30)))
        c = contract(a, b, axes_a, axes_b)
        expected = np.tensordot(a.to_dense(), b.to_dense(), (axes_a, axes_b))
        np.testing.assert_allclose(c.to_dense(), expected, atol=1e-12)


@pytest.mark.parametrize("signs", PATTERNS, ids=str)
def test_legs_permuted_conjugated_and_flipped(signs):
    rng = np.random.default_rng(11 + len(signs))
    t = random_tensor(rng, signs)
    permutation = list(rng.permutation(len(signs)))
    np.testing.assert_allclose(t.permute(permutation).to_dense(),
                               np.transpose(t.to_dense(), permutation), atol=1e-12)
    conjugate = t.conj()
    assert [leg.direction for leg in conjugate.legs] == [leg.direction.flip() for leg in t.legs]
    np.testing.assert_allclose(conjugate.to_dense(), t.to_dense(), atol=1e-12)
    assert t.flip(0).flip(0) == t
    assert t.flip(0).legs[0] == t.legs[0].flipped()


def matrix(dense, cut):
    rows = int(np.prod(dense.shape[:cut]))
    return dense.reshape(rows, -1)


@pytest.mark.parametrize("signs, cut", [(s, c) for s in PATTERNS for c in range(1, len(s))],
                         ids=str)
def test_factorisations_across_a_cut(signs, cut):
    rng = np.random.default_rng(23 + 2 * len(signs) + cut)
    t = random_tensor(rng, signs)
    u, s, v, discarded = t.svd(cut)
    assert discarded == 0.0
    back = contract(contract(u, s, [cut], [0]), v, [cut], [0])
    np.testing.assert_allclose(back.to_dense(), t.to_dense(), atol=1e-12)
    left, right = matrix(u.to_dense(), cut), matrix(v.to_dense(), 1)
    np.testing.assert_allclose(left.T @ left, np.eye(left.shape[1]), atol=1e-12)
    np.testing.assert_allclose(right @ right.T, np.eye(right.shape[0]), atol=1e-12)
    values = sorted((x for k, xs in s.singular_values().items() for x in xs for _ in range(k + 1)),
                    reverse=True)
    dense_values = np.linalg.svd(matrix(t.to_dense(), cut), compute_uv=False)
    np.testing.assert_allclose(values, dense_values[:len(values)], atol=1e-12)
    q, r = t.qr(cut)
    np.testing.assert_allclose(contract(q, r, [cut], [0]).to_dense(), t.to_dense(), atol=1e-12)


def test_truncation_error_is_the_discarded_weight():
    rng = np.random.default_rng(5)
    t = random_tensor(rng, (1, 1, -1, -1))
    t = t / t.norm()
    for keep in (1, 2, 3):
        u, s, v, discarded = t.svd(2, max_multiplets=keep)
        assert sum(len(x) for x in s.singular_values().values()) == keep
        approximation = contract(contract(u, s, [2], [0]), v, [2], [0])
        assert (t - approximation).norm() ** 2 == pytest.approx(discarded, rel=1e-10)
    _, _, _, within = t.svd(2, max_discarded_weight=discarded)
    assert within <= discarded * (1 + 1e-12)


def test_eigensystem_of_a_hermitian_operator():
    rng = np.random.default_rng(2)
    a = random_tensor(rng, (1, -1, -1), widest=2)
    h = contract(a, a.conj(), [2], [2])
    values, vectors = h.eigh()
    dense = matrix(h.to_dense(), 2)
    spectrum = sorted(x for k, xs in values.items() for x in xs for _ in range(k + 1))
    np.testing.assert_allclose(spectrum, np.linalg.eigvalsh(dense), atol=1e-12)
    v = matrix(vectors.to_dense(), 2)
    np.testing.assert_allclose(v.T @ v, np.eye(v.shape[1]), atol=1e-12)


@pytest.mark.parametrize("first, count", [(0, 2), (1, 2), (0, 3), (2, 2)])
def test_fusing_and_splitting(first, count):
    rng = np.random.default_rng(first * 3 + count)
    t = random_tensor(rng, (1, -1, 1, -1), widest=2)
    parts = t.legs[first:first + count]
    for direction in (Direction.incoming(), Direction.outgoing()):
        fused = t.fuse(first, count, direction=direction)
        assert fused.legs[first].direction == direction
        assert fused.legs[first].dense_dimension() == np.prod([p.dense_dimension() for p in parts])
        assert fused.split(first, parts) == t
    if first == 0:
        u = tavrin.fusion_isometry(parts).to_dense()
        axes = list(range(count))
        np.testing.assert_allclose(t.fuse(0, count, direction=Direction.incoming()).to_dense(),
                                   np.tensordot(u, t.to_dense(), (axes, axes)), atol=1e-12)


def test_plans_are_kept_per_leg_structure():
    tavrin.clear_memos()
    rng = np.random.default_rng(9)
    a = random_tensor(rng, (1, 1, -1))
    for seed in range(3):
        contract(a, BlockTensor.random(a.legs, seed=seed).conj(), [2], [2])
    plans = tavrin.memo_info()["block_contraction_plans"]
    assert (plans.hits, plans.misses) == (2, 1)
    assert tavrin.block_timings()["block_loops"] > 0.0


HALF = Leg.incoming({1: 1})


def test_what_the_classes_show():
    t = BlockTensor.zeros([HALF, Leg.outgoing({1: 2})])
    assert repr(t) == "BlockTensor([Leg.incoming({1: 1}), Leg.outgoing({1: 2})], blocks=1)"
    assert repr(t.legs[1]) == "Leg.outgoing({1: 2})"
    assert t.legs[1].sectors == [(1, 2)] and t.legs[1].multiplicity(3) == 0
    assert {Leg.incoming({1: 1}), HALF} == {HALF}
    assert t != t + BlockTensor.random(t.legs, seed=1)
    with pytest.raises(TypeError):
        hash(t)


def test_lowest_eigenpair_of_a_chain_of_contractions():
    rng = np.random.default_rng(4)
    a = random_tensor(rng, (1, 1, -1), widest=2)
    h = contract(a, a.conj(), [2], [2])              # (rows, columns): a a^T, Hermitian
    chain = [(-1.0 * h, [0, 1], [2, 3], True)]      # the largest of a a^T, as the lowest of -h
    start = BlockTensor.random(h.legs[:2], seed=1)
    value, vector = tavrin.lowest_eigenpair(start, chain)
    apply = lambda v: contract(-1.0 * h, v, [2, 3], [0, 1])
    # The map in the orthonormal basis of the blocks' entries.
    units = []
    for key, block in start.blocks.items():
        for index in np.ndindex(block.shape):
            unit = {k: np.zeros_like(b) for k, b in start.blocks.items()}
            unit[key][index] = 1.0
            units.append(BlockTensor.from_blocks(start.legs, unit))
    m = np.array([[u.inner(apply(v)) for v in units] for u in units])
    assert value == pytest.approx(np.linalg.eigvalsh(m)[0], abs=1e-10)
    assert (apply(vector) - value * vector).norm() < 1e-6
    assert vector.norm() == pytest.approx(1.0)
    with pytest.raises(ValueError, match="zero"):
        tavrin.lowest_eigenpair(BlockTensor.zeros(start.legs), chain)
