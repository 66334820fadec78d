"""CGSpec and Contraction from Python: enumeration results, axis inversion, errors, hashes."""

import doctest
import itertools

import pytest

from spec_factory import canonical_signs, edge, spec_of
from tavrin import CGSpec, Contraction, Edge, Spin

LARGEST = 2**31 - 1


OM_DIMENSIONS = [
    ((), 1),
    ((1,), 1),
    ((2, 2), 1),
    ((1, 1, 2), 1),
    ((2, 2, 2), 1),
    ((1, 2, 3), 1),
    ((0, 0, 0), 1),
    ((1, 1, 1, 1), 2),
    ((2, 1, 1, 2), 2),
    ((2, 2, 2, 2), 3),
    ((4, 4, 4, 4), 5),
    ((1, 1, 1, 1, 1, 1), 5),
    ((LARGEST, LARGEST, 0), 1),
    ((LARGEST, LARGEST, 2), 1),
    ((LARGEST, 1, LARGEST - 1), 1),
]


@pytest.mark.parametrize("spins, om_dimension", OM_DIMENSIONS, ids=str)
def test_om_dimension(spins, om_dimension):
    spec = spec_of(spins)
    assert spec.om_dimension() == om_dimension
    assert spec.num_external() == len(spins)
    assert spec.get_spins() == list(spins)
    assert repr(spec) == f"CGSpec(num_external={len(spins)}, om_dim={om_dimension})"
    assert str(spec) == repr(spec)


@pytest.mark.parametrize("spins, om_dimension", OM_DIMENSIONS[:12], ids=str)
def test_directions_do_not_change_the_configurations(spins, om_dimension):
    for signs in itertools.product((1, -1), repeat=len(spins)):
        spec = spec_of(spins, signs)
        assert spec.om_dimension() == om_dimension
        assert spec.get_directions() == list(signs)


@pytest.mark.parametrize("spins", [(1, 1, 1), (1, 2, 4), (0, 0, 2), (1, 1, 1, 2)], ids=str)
def test_uncoupleable_spins_are_refused(spins):
    with pytest.raises(ValueError) as caught:
        spec_of(spins)
    assert str(caught.value).startswith("Invalid CGSpec: Edge spins [")


@pytest.mark.parametrize(
    "spins, message",
    [((1, 2), "got j=1/2 and j=1"), ((0, 2), "got j=0 and j=1"), ((3, 1), "got j=3/2 and j=1/2")],
    ids=str,
)
def test_two_edges_of_different_spins_are_refused(spins, message):
    # Refused where the specification is made, not later in a symbol of it.
    with pytest.raises(ValueError) as caught:
        spec_of(spins)
    assert str(caught.value) == ("Invalid CGSpec: Two-edge CG tensor requires equal spins, "
                                 + message)


def test_uncoupleable_message_lists_the_spins():
    with pytest.raises(ValueError) as caught:
        CGSpec.from_edges([Edge.incoming(Spin(1))] * 3)
    assert caught.value.args == (
        'Invalid CGSpec: Edge spins ["j=1/2", "j=1/2", "j=1/2"] do not satisfy SU(2) angular '
        "momentum conservation. Cannot construct valid fusion tree coupling to j=0. Common "
        "causes: an odd number of half-integer spins or incompatible spin values.",
    )


def om_dimension_or_zero(spins):
    try:
        return spec_of(spins).om_dimension()
    except ValueError:
        return 0


SPIN_LISTS = [spins for n in range(2, 7) for spins in itertools.product(range(4), repeat=n)
              if n < 5 or sum(spins) % 2 == 0]


def test_questions_agree_with_from_edges():
    for spins in SPIN_LISTS:
        count = om_dimension_or_zero(spins)
        edges = spec_of(spins, [(-1) ** i for i in range(len(spins))]).edges if count else [
            edge(s, 1) for s in spins]
        assert CGSpec.count_invariants(edges) == count, spins
        assert CGSpec.admits_invariant(edges) == (count > 0), spins


@pytest.mark.parametrize(
    "spins, count",
    [((), 1), ((0,), 1), ((2,), 0), ((1, 1, 1), 0), ((1,) * 80, 2622127042276492108820),
     ((LARGEST,) * 4, 2**31)],
    ids=["no edge", "spin 0", "spin 1", "odd", "80 spins 1/2", "largest spins"],
)
def test_count_invariants_beyond_from_edges(spins, count):
    edges = [edge(s, 1) for s in spins]
    assert CGSpec.count_invariants(edges) == count
    assert CGSpec.admits_invariant(edges) == (count > 0)
    assert CGSpec.count_invariants(edges=tuple(edges)) == count


def test_count_invariants_of_a_range_too_wide_to_count():
    edges = [edge(s, 1) for s in (LARGEST - 1, LARGEST - 1, 4, LARGEST - 1, LARGEST - 1)]
    assert CGSpec.admits_invariant(edges)
    with pytest.raises(ValueError, match="too many values to count"):
        CGSpec.count_invariants(edges)


@pytest.mark.parametrize("question", [CGSpec.admits_invariant, CGSpec.count_invariants],
                         ids=lambda q: q.__name__)
@pytest.mark.parametrize(
    "edges, message",
    [("ab", "argument 'edges': Can't extract `str` to `Vec`"),
     ([Spin(1)], "argument 'edges': 'Spin' object is not an instance of 'Edge'")],
    ids=["str", "Spin item"],
)
def test_questions_refuse_what_from_edges_refuses(question, edges, message):
    with pytest.raises(TypeError) as caught:
        question(edges)
    assert str(caught.value) == message


@pytest.mark.parametrize("method", [CGSpec.from_edges, CGSpec.admits_invariant,
                                    CGSpec.count_invariants], ids=lambda m: m.__name__)
def test_docstring_examples_run(method):
    test = doctest.DocTestParser().get_doctest(method.__doc__, {}, method.__name__, None, 0)
    assert test.examples
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test, out=lambda text: None)
    assert runner.failures == 0


def test_from_edges_accepts_any_sequence_and_keyword():
    edges = [edge(s, d) for s, d in zip((1, 1, 2), canonical_signs(3))]
    assert CGSpec.from_edges(tuple(edges)) == CGSpec.from_edges(edges)
    assert CGSpec.from_edges(edges=edges) == CGSpec.from_edges(edges)


@pytest.mark.parametrize(
    "edges, message",
    [
        ("ab", "argument 'edges': Can't extract `str` to `Vec`"),
        ("", "argument 'edges': Can't extract `str` to `Vec`"),
        (5, "argument 'edges': 'int' object is not an instance of 'Sequence'"),
        ({Edge.incoming(Spin(0))}, "argument 'edges': 'set' object is not an instance of 'Sequence'"),
        (iter([]), "argument 'edges': 'list_iterator' object is not an instance of 'Sequence'"),
        ([Edge.incoming(Spin(1)), 1], "argument 'edges': 'int' object is not an instance of 'Edge'"),
        ([Spin(1)], "argument 'edges': 'Spin' object is not an instance of 'Edge'"),
        ([None], "argument 'edges': 'None' is not an instance of 'Edge'"),
    ],
    ids=["str", "empty str", "int", "set", "iterator", "int item", "Spin item", "None item"],
)
def test_from_edges_refuses(edges, message):
    with pytest.raises(TypeError) as caught:
        CGSpec.from_edges(edges)
    assert str(caught.value) == message


def test_edges_property_builds_new_objects_in_order():
    edges = [edge(s, d) for s, d in zip((1, 2, 3), canonical_signs(3))]
    spec = CGSpec.from_edges(edges)
    assert spec.edges is not spec.edges
    assert spec.edges[0] is not spec.edges[0]
    assert spec.edges == spec.edges
    assert spec.edges == edges
    assert spec.get_directions() == [1, 1, -1]


def test_spec_equality_and_hash():
    spec = spec_of((1, 1, 2))
    assert spec == spec_of((1, 1, 2))
    assert hash(spec) == hash(spec_of((1, 1, 2)))
    assert spec != spec_of((1, 1, 2), (1, 1, 1))
    assert spec != spec_of((2, 2, 2))
    assert spec != spec_of((1, 1, 2, 0))
    assert (spec == Contraction([], [])) is False
    with pytest.raises(TypeError):
        spec < spec_of((2, 2, 2))


@pytest.mark.parametrize(
    "spec, hash_value",
    [
        (spec_of((1, 1, 2)), 2261397287976574378),
        (spec_of(()), -3315872660926475476),
    ],
    ids=["in 1, in 1, out 2", "no edges"],
)
def test_spec_hash(spec, hash_value):
    assert hash(spec) == hash_value


@pytest.mark.parametrize(
    "axes, directions",
    [
        ([], [1, 1, 1, -1]),
        ((), [1, 1, 1, -1]),
        ([0], [-1, 1, 1, -1]),
        ([0, 0], [-1, 1, 1, -1]),
        ([3, 1], [1, -1, 1, 1]),
        ([0, 1, 2, 3], [-1, -1, -1, 1]),
    ],
    ids=str,
)
def test_with_inverted_axes(axes, directions):
    spec = spec_of((1, 1, 1, 1))
    inverted = spec.with_inverted_axes(axes)
    assert inverted.get_directions() == directions
    assert inverted.get_spins() == spec.get_spins()
    assert inverted.om_dimension() == spec.om_dimension()
    assert inverted.with_inverted_axes(axes) == spec
    assert spec.with_inverted_axes(axes=axes) == inverted
    assert spec.get_directions() == [1, 1, 1, -1]


def test_inverting_no_axes_gives_an_equal_spec():
    spec = spec_of((1, 1, 2))
    assert spec.with_inverted_axes([]) == spec


@pytest.mark.parametrize(
    "axes, error, message",
    [
        ([3], RuntimeError, "Tavrin error: Edge index 3 out of bounds (number of edges: 3)"),
        ([5, 4], RuntimeError, "Tavrin error: Edge index 5 out of bounds (number of edges: 3)"),
        ([0, 2**64 - 1], RuntimeError,
         "Tavrin error: Edge index 18446744073709551615 out of bounds (number of edges: 3)"),
        ([-1], ValueError, "argument 'axes': -1 is negative: edge positions count from 0"),
        ([2**64], OverflowError, None),
        (["0"], TypeError, "argument 'axes': "),
        ([0.0], TypeError, "argument 'axes': "),
        ("01", TypeError, "argument 'axes': Can't extract `str` to `Vec`"),
        (0, TypeError, "argument 'axes': 'int' object is not an instance of 'Sequence'"),
    ],
    ids=str,
)
def test_with_inverted_axes_refuses(axes, error, message):
    with pytest.raises(error) as caught:
        spec_of((1, 1, 2)).with_inverted_axes(axes)
    assert type(caught.value) is error
    if message is not None:
        assert str(caught.value).startswith(message)
    if error is RuntimeError:
        assert caught.value.args == (message,)


@pytest.mark.parametrize(
    "axes_a, axes_b, text",
    [
        ([2], [0], "Contraction(axes_a=[2], axes_b=[0])"),
        ([], [], "Contraction(axes_a=[], axes_b=[])"),
        ([0, 0], [1, 1], "Contraction(axes_a=[0, 0], axes_b=[1, 1])"),
        ((7,), (9,), "Contraction(axes_a=[7], axes_b=[9])"),
        ([2**64 - 1, True], [0, 3],
         "Contraction(axes_a=[18446744073709551615, 1], axes_b=[0, 3])"),
    ],
)
def test_contraction_values_and_text(axes_a, axes_b, text):
    contraction = Contraction(axes_a, axes_b)
    assert contraction.axes_a == [int(a) for a in axes_a]
    assert contraction.axes_b == [int(b) for b in axes_b]
    assert repr(contraction) == text
    assert str(contraction) == text


def test_contraction_by_keyword_and_properties_are_copies():
    contraction = Contraction(axes_b=[0], axes_a=[2])
    assert contraction == Contraction([2], [0])
    axes = contraction.axes_a
    axes.append(5)
    assert contraction.axes_a == [2]
    assert contraction.axes_a is not contraction.axes_a


def test_contraction_equality_and_hash():
    assert Contraction([1, 2], [3, 4]) == Contraction((1, 2), (3, 4))
    assert hash(Contraction([1, 2], [3, 4])) == hash(Contraction((1, 2), (3, 4)))
    assert Contraction([1, 2], [3, 4]) != Contraction([1, 2], [4, 3])
    assert Contraction([1], [2]) != Contraction([2], [1])
    assert (Contraction([], []) == []) is False
    with pytest.raises(TypeError):
        Contraction([], []) < Contraction([], [])


@pytest.mark.parametrize(
    "contraction, hash_value",
    [
        (Contraction([2], [0]), -6065167987181194167),
        (Contraction([], []), 8556445246977061536),
    ],
    ids=repr,
)
def test_contraction_hash(contraction, hash_value):
    assert hash(contraction) == hash_value


@pytest.mark.parametrize(
    "axes_a, axes_b, left, right",
    [([1, 2], [0], 2, 1), ([], [0], 0, 1), ([0, 1, 2], [], 3, 0)],
)
def test_contraction_of_unequal_lengths_is_an_internal_fault(axes_a, axes_b, left, right):
    with pytest.raises(BaseException) as caught:
        Contraction(axes_a, axes_b)
    assert type(caught.value).__name__ == "InternalFault"
    assert not isinstance(caught.value, Exception)
    assert str(caught.value) == (
        "assertion `left == right` failed: Contraction axes must have same length\n"
        f"  left: {left}\n"
        f" right: {right}"
    )


@pytest.mark.parametrize(
    "args, error, message",
    [
        (("ab", [0]), TypeError, "argument 'axes_a': Can't extract `str` to `Vec`"),
        (([0], None), TypeError, "argument 'axes_b': 'None' is not an instance of 'Sequence'"),
        (([0], [Spin(1)]), TypeError, "argument 'axes_b': "),
        (([-1], [0]), ValueError,
         "argument 'axes_a': -1 is negative: edge positions count from 0"),
        (([0], [2**64]), OverflowError, None),
        (([0],), TypeError, None),
        (([0], [0], [0]), TypeError, None),
    ],
    ids=str,
)
def test_contraction_refuses(args, error, message):
    with pytest.raises(error) as caught:
        Contraction(*args)
    assert type(caught.value) is error
    if message is not None:
        assert str(caught.value).startswith(message)


def test_argument_errors_are_reported_before_the_length_check():
    with pytest.raises(ValueError, match="^argument 'axes_b': -1 is negative"):
        Contraction([0, 1], [-1])


@pytest.mark.parametrize(
    "spins, message",
    [
        (
            (LARGEST,) * 4,
            "Invalid CGSpec: The edge spins admit more OM configurations than one specification "
            "can hold (limits: 16777216 configurations, 268435456 internal spins in all)",
        ),
        (
            (LARGEST, LARGEST, LARGEST, 1),
            "Invalid CGSpec: Internal spin 2j=2147483648 of the fusion tree exceeds the largest "
            "supported 2j=2147483647",
        ),
    ],
    ids=["four-largest", "internal-overflow"],
)
def test_enumeration_beyond_memory_is_refused(spins, message):
    with pytest.raises(ValueError) as raised:
        spec_of(spins)
    assert str(raised.value).startswith(message)


def test_largest_spins_with_few_configurations():
    spec = spec_of((LARGEST, LARGEST, 0, 0, 0))
    assert spec.om_dimension() == 1
    assert spec_of((LARGEST - 2, 2, LARGEST, 2)).om_dimension() == 2
