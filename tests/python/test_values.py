"""Spin, Direction and Edge from Python: values, text forms, comparisons, hashes, errors."""

import pytest

from tavrin import Direction, Edge, Spin

LARGEST = 2**31 - 1


class Index:
    """An integer-like object that is not an int."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(
    "twice, text, value, dimension, is_integer",
    [
        (0, "0", 0.0, 1, True),
        (1, "1/2", 0.5, 2, False),
        (2, "1", 1.0, 3, True),
        (3, "3/2", 1.5, 4, False),
        (10, "5", 5.0, 11, True),
        (LARGEST, "2147483647/2", 1073741823.5, 2147483648, False),
    ],
)
def test_spin_values_and_text(twice, text, value, dimension, is_integer):
    spin = Spin(twice)
    assert spin.twice() == twice
    assert spin.value() == value
    assert spin.dimension() == dimension
    assert spin.is_integer() is is_integer
    assert spin.is_half_integer() is (not is_integer)
    assert repr(spin) == f"Spin({text})"
    assert str(spin) == text
    assert hash(spin) == twice


@pytest.mark.parametrize("argument", [True, Index(3)], ids=["bool", "__index__"])
def test_spin_accepts_any_integer_like_argument(argument):
    assert Spin(argument).twice() == int(argument.__index__())


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((-1,), {}, ValueError, "Invalid spin value: -1"),
        ((-(2**31),), {}, ValueError, "Invalid spin value: -2147483648"),
        ((1.5,), {}, TypeError, "argument 'j_doubled': "),
        (("1",), {}, TypeError, "argument 'j_doubled': "),
        ((None,), {}, TypeError, "argument 'j_doubled': "),
        ((2**31,), {}, OverflowError, None),
        ((-(2**31) - 1,), {}, OverflowError, None),
        ((2**40,), {}, OverflowError, None),
        ((2**70,), {}, OverflowError, None),
        ((), {}, TypeError, None),
        ((1, 2), {}, TypeError, None),
        ((), {"twice": 1}, TypeError, None),
        ((1,), {"j_doubled": 1}, TypeError, None),
    ],
)
def test_spin_refuses(args, kwargs, error, message):
    with pytest.raises(error) as caught:
        Spin(*args, **kwargs)
    assert type(caught.value) is error
    if message is not None:
        assert str(caught.value).startswith(message)
    if error is ValueError:
        assert caught.value.args == (message,)


def test_renamed_type_error_keeps_the_cause_of_the_original():
    class Broken:
        def __index__(self):
            raise TypeError("no index here") from KeyError("root")

    with pytest.raises(TypeError) as caught:
        Spin(Broken())
    assert str(caught.value) == "argument 'j_doubled': no index here"
    assert isinstance(caught.value.__cause__, KeyError)


def test_conversion_errors_other_than_type_error_pass_unchanged():
    class Broken:
        def __index__(self):
            raise ZeroDivisionError("inner")

    with pytest.raises(ZeroDivisionError, match="^inner$"):
        Spin(Broken())


def test_spin_by_keyword():
    assert Spin(j_doubled=2) == Spin(2)


def test_spin_comparisons():
    assert Spin(1) == Spin(1)
    assert Spin(1) != Spin(2)
    assert not (Spin(1) != Spin(1))
    assert Spin(1) < Spin(2)
    assert not (Spin(2) < Spin(1))
    assert Spin(2) > Spin(1)  # reflected to Spin(1) < Spin(2)
    assert Spin(0) < Spin(LARGEST)
    assert (Spin(1) == 1) is False
    assert (Spin(1) != 1) is True


@pytest.mark.parametrize(
    "compare",
    [
        lambda a, b: a <= b,
        lambda a, b: a >= b,
        lambda a, b: a < 1,
        lambda a, b: a < Direction.incoming(),
    ],
    ids=["<=", ">=", "< int", "< Direction"],
)
def test_spin_unsupported_comparisons_raise_type_error(compare):
    with pytest.raises(TypeError):
        compare(Spin(1), Spin(2))


def test_spin_is_immutable():
    spin = Spin(1)
    with pytest.raises(AttributeError):
        spin.twice = 3
    assert spin.twice() == 1


@pytest.mark.parametrize(
    "direction, text, sign, hash_value",
    [
        (Direction.incoming(), "Direction.incoming", 1, 1),
        (Direction.outgoing(), "Direction.outgoing", -1, -2),
    ],
    ids=["incoming", "outgoing"],
)
def test_direction_values_and_text(direction, text, sign, hash_value):
    assert repr(direction) == text
    assert str(direction) == text
    assert direction.sign() == sign
    assert direction.is_incoming() is (sign == 1)
    assert direction.is_outgoing() is (sign == -1)
    assert hash(direction) == hash_value
    assert Direction.from_sign(sign) == direction
    assert Direction.from_sign(sign=sign) == direction
    assert direction.flip() != direction
    assert direction.flip().flip() == direction


def test_direction_factories_make_new_equal_objects():
    first, second = Direction.incoming(), Direction.incoming()
    assert first is not second
    assert first == second
    assert Direction.incoming() != Direction.outgoing()


@pytest.mark.parametrize(
    "sign, error, message",
    [
        (0, ValueError, "Invalid CGSpec: Invalid direction sign: 0"),
        (2, ValueError, "Invalid CGSpec: Invalid direction sign: 2"),
        (-2, ValueError, "Invalid CGSpec: Invalid direction sign: -2"),
        (2**31 - 1, ValueError, "Invalid CGSpec: Invalid direction sign: 2147483647"),
        (1.0, TypeError, "argument 'sign': "),
        (2**40, OverflowError, None),
    ],
)
def test_direction_from_sign_refuses(sign, error, message):
    with pytest.raises(error) as caught:
        Direction.from_sign(sign)
    if message is not None:
        assert str(caught.value).startswith(message)


def test_direction_answers_only_equality():
    incoming = Direction.incoming()
    assert (incoming == Edge.incoming(Spin(0))) is False
    with pytest.raises(TypeError):
        incoming < Direction.outgoing()


@pytest.mark.parametrize(
    "make, spin, text",
    [
        (Edge.incoming, Spin(1), "Edge.incoming(Spin(1/2))"),
        (Edge.outgoing, Spin(2), "Edge.outgoing(Spin(1))"),
        (Edge.incoming, Spin(0), "Edge.incoming(Spin(0))"),
        (Edge.outgoing, Spin(LARGEST), "Edge.outgoing(Spin(2147483647/2))"),
    ],
)
def test_edge_values_and_text(make, spin, text):
    edge = make(spin)
    assert repr(edge) == text
    assert str(edge) == text
    assert edge.j == spin
    incoming = make is Edge.incoming
    assert edge.dir == (Direction.incoming() if incoming else Direction.outgoing())
    assert edge.is_incoming() is incoming
    assert edge.is_outgoing() is (not incoming)


def test_edge_properties_build_new_objects():
    edge = Edge.incoming(Spin(3))
    assert edge.j is not edge.j
    assert edge.dir is not edge.dir
    assert edge.j == edge.j


def test_edge_by_keyword():
    assert Edge.outgoing(spin=Spin(1)) == Edge.outgoing(Spin(1))


@pytest.mark.parametrize(
    "argument, message",
    [
        (1, "argument 'spin': 'int' object is not an instance of 'Spin'"),
        (None, "argument 'spin': 'None' is not an instance of 'Spin'"),
        (Direction.incoming(), "argument 'spin': 'Direction' object is not an instance of 'Spin'"),
    ],
)
@pytest.mark.parametrize("make", [Edge.incoming, Edge.outgoing], ids=["incoming", "outgoing"])
def test_edge_refuses_non_spin(make, argument, message):
    with pytest.raises(TypeError) as caught:
        make(argument)
    assert str(caught.value) == message


def test_edge_equality():
    half = Spin(1)
    assert Edge.incoming(half) == Edge.incoming(Spin(1))
    assert Edge.incoming(half) != Edge.outgoing(half)
    assert Edge.incoming(half) != Edge.incoming(Spin(3))
    assert (Edge.incoming(half) == half) is False
    with pytest.raises(TypeError):
        Edge.incoming(half) < Edge.incoming(Spin(2))


@pytest.mark.parametrize(
    "edge, hash_value",
    [
        (Edge.incoming(Spin(1)), -9139210087585002035),
        (Edge.outgoing(Spin(1)), 9206285802170995626),
    ],
)
def test_edge_hash(edge, hash_value):
    assert hash(edge) == hash_value


def test_edge_is_immutable():
    edge = Edge.incoming(Spin(1))
    with pytest.raises(AttributeError):
        edge.j = Spin(2)
    with pytest.raises(AttributeError):
        edge.dir = Direction.outgoing()
    assert edge == Edge.incoming(Spin(1))
