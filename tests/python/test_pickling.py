"""The value classes survive pickle, copy and multiprocessing as equal, equally hashed objects."""

import copy
import multiprocessing
import pickle

import numpy as np
import pytest

import tavrin
from tavrin import CGSpec, Contraction, Direction, Edge, Spin

HALF, ONE = Spin(1), Spin(2)
SPEC = CGSpec.from_edges([Edge.incoming(HALF), Edge.incoming(HALF), Edge.outgoing(ONE)])
SAMPLES = [
    Spin(0),
    Spin(7),
    Direction.incoming(),
    Direction.outgoing(),
    Edge.outgoing(HALF),
    SPEC,
    SPEC.with_inverted_axes([0, 2]),
    CGSpec.from_edges([]),
    CGSpec.from_edges([Edge.incoming(HALF)] * 3 + [Edge.outgoing(HALF)]),
    Contraction([2], [0]),
    Contraction([], []),
]


def same_value(result, original):
    return type(result) is type(original) and result == original and hash(result) == hash(original)


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("obj", SAMPLES, ids=repr)
def test_pickle_round_trip_at_every_protocol(obj, protocol):
    assert same_value(pickle.loads(pickle.dumps(obj, protocol)), obj)


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy], ids=["copy", "deepcopy"])
@pytest.mark.parametrize("obj", SAMPLES, ids=repr)
def test_copies_are_equal(obj, copier):
    assert same_value(copier(obj), obj)


def test_deepcopy_of_an_object_holding_a_specification():
    class SymmetricTensor:
        def __init__(self, spec):
            self.spec = spec
            self.blocks = {spec: [1.0, 2.0]}

    clone = copy.deepcopy(SymmetricTensor(SPEC))
    assert clone.spec == SPEC and clone.blocks[SPEC] == [1.0, 2.0]


def test_reconstructor_is_private():
    assert "_reconstruct" not in tavrin.__all__ and "_reconstruct" not in dir(tavrin.Spin)
    assert pickle.dumps(SPEC, 0).startswith(b"ctavrin\n_reconstruct\n")


@pytest.mark.parametrize(
    "class_name, state, error, message",
    [
        ("Spin", (-1,), ValueError, "Invalid spin value: -1"),
        ("Direction", (0,), ValueError, "Invalid direction sign: 0"),
        ("Edge", (1,), TypeError, "state of Edge must be a tuple of 2 items"),
        ("CGSpec", ([Spin(1)],), TypeError, "not an instance of 'Edge'"),
        ("CGSpec", ([Edge.incoming(HALF)] * 3,), ValueError, "Invalid CGSpec"),
        ("Contraction", ([0], [-1]), ValueError, "-1 is negative: edge positions count from 0"),
        ("Tensor", (), ValueError, "no tavrin class named Tensor"),
    ],
)
def test_reconstructor_refuses_bad_state(class_name, state, error, message):
    with pytest.raises(error, match=message):
        tavrin._reconstruct(class_name, state)


def spec_summary(spec):
    """Runs in a worker process: takes a specification and returns new ones."""
    basis = tavrin.canonical_basis(spec)
    return spec, tavrin.compute_conjugate(spec)[1], basis.shape


@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_pool_map_over_specifications(method):
    specs = [SPEC, SPEC.with_inverted_axes([1]), SAMPLES[8]]
    with multiprocessing.get_context(method).Pool(2) as pool:
        results = pool.map(spec_summary, specs)
    for spec, (back, conjugate, shape) in zip(specs, results):
        assert same_value(back, spec)
        assert conjugate == tavrin.compute_conjugate(spec)[1]
        assert shape == tavrin.canonical_basis(spec).shape


LEG = tavrin.Leg.outgoing({0: 2, 3: 1})
TENSORS = [
    tavrin.BlockTensor.random([tavrin.Leg.incoming({1: 2}), tavrin.Leg.incoming({1: 1, 3: 1}),
                               tavrin.Leg.outgoing({0: 1, 2: 3})], seed=3),
    tavrin.BlockTensor.from_dense([], np.array(1.5)),
    tavrin.BlockTensor.zeros([tavrin.Leg.incoming({1: 1}), tavrin.Leg.incoming({0: 1})]),
]


def same_tensor(result, original):
    """Bit for bit: the same legs and the same blocks."""
    return (type(result) is tavrin.BlockTensor and result.legs == original.legs
            and result.blocks.keys() == original.blocks.keys()
            and all(np.array_equal(result.blocks[k], b) for k, b in original.blocks.items()))


@pytest.mark.parametrize("copier", [
    lambda t: pickle.loads(pickle.dumps(t, 0)),
    lambda t: pickle.loads(pickle.dumps(t, pickle.HIGHEST_PROTOCOL)),
    copy.copy,
    copy.deepcopy,
], ids=["pickle-0", "pickle-highest", "copy", "deepcopy"])
def test_legs_and_block_tensors_survive_pickle_and_copy(copier):
    assert same_value(copier(LEG), LEG)
    for tensor in TENSORS:
        assert same_tensor(copier(tensor), tensor)


@pytest.mark.parametrize("state, error, message", [
    (("Leg", (0, [(1, 1)])), ValueError, "Invalid direction sign: 0"),
    (("Leg", (1, [(1, 0)])), ValueError, "a multiplicity is at least 1, got 0"),
    (("BlockTensor", ([LEG], {(1,): np.zeros(1)})), ValueError, r"blocks\[\(1,\)\]"),
    (("BlockTensor", ([LEG],)), TypeError, "state of BlockTensor must be a tuple of 2 items"),
])
def test_reconstructor_refuses_bad_block_state(state, error, message):
    with pytest.raises(error, match=message):
        tavrin._reconstruct(*state)


def contracted_norm(tensor):
    """Runs in a worker process: takes a tensor and returns it with a number made from it."""
    return tensor, tavrin.contract(tensor, tensor.conj(), [0, 1, 2], [0, 1, 2]).blocks[()].item()


def test_block_tensors_through_a_process_pool():
    import concurrent.futures
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=context) as pool:
        results = list(pool.map(contracted_norm, TENSORS[:1] * 3))
    for back, value in results:
        assert same_tensor(back, TENSORS[0])
        assert value == pytest.approx(TENSORS[0].norm() ** 2)
