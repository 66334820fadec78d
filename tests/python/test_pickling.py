"""The value classes survive pickle, copy and multiprocessing as equal, equally hashed objects."""

import copy
import multiprocessing
import pickle

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
