"""The coefficient functions against exact values (sympy), their selection rules and errors,
and their arrays: broadcasting, element types, threads."""

import math
import subprocess
import sys
import textwrap
import random
import threading
import time
from fractions import Fraction

import numpy as np
import pytest
from sympy import Rational, sign as sympy_sign
from sympy.physics import wigner as exact

from tavrin import clebsch_gordan, wigner_3j, wigner_6j, wigner_9j


# --- exact references ----------------------------------------------------------------------

def _halves(doubled):
    return [Rational(v, 2) for v in doubled]


def exact_square(function, doubled):
    """(sign, value^2) of sympy's exact value (a sqrt-rational) at doubled arguments."""
    value = function(*_halves(doubled))
    square = Rational(value**2)
    return int(sympy_sign(value)), Fraction(int(square.p), int(square.q))


def assert_correctly_rounded(value, sign, square):
    """value is the double nearest to sign * sqrt(square): the exact value lies between the
    midpoints to value's neighbours (and on the even side of a tie)."""
    if sign == 0:
        assert value == 0.0
        return
    assert math.copysign(1.0, value) == sign
    magnitude = abs(value)
    low = (Fraction(magnitude) + Fraction(math.nextafter(magnitude, 0.0))) / 2
    high = (Fraction(magnitude) + Fraction(math.nextafter(magnitude, math.inf))) / 2
    assert low * low <= square <= high * high


def _triad(a, b, c):
    return (a + b + c) % 2 == 0 and abs(a - b) <= c <= a + b


def _three_j_cases():
    cases = [(j1, j2, j3, m1, m2, -m1 - m2)
             for j1 in range(5) for j2 in range(5) for j3 in range(abs(j1 - j2), j1 + j2 + 1, 2)
             for m1 in range(-j1, j1 + 1, 2) for m2 in range(-j2, j2 + 1, 2)
             if abs(m1 + m2) <= j3]
    rng = random.Random(3)
    while len(cases) < 700:  # larger spins: the evaluation beyond fixed-width integers too
        j1, j2 = rng.randint(10, 500), rng.randint(10, 500)
        j3 = rng.randrange(abs(j1 - j2), j1 + j2 + 1, 2)
        m1, m2 = rng.randrange(-j1, j1 + 1, 2), rng.randrange(-j2, j2 + 1, 2)
        if abs(m1 + m2) <= j3:
            cases.append((j1, j2, j3, m1, m2, -m1 - m2))
    return cases


def test_wigner_3j_is_correctly_rounded():
    for args in _three_j_cases():
        assert_correctly_rounded(wigner_3j(*args), *exact_square(exact.wigner_3j, args))


def _nine_j_cases(seed=9, count=150, small=130, limit_small=8, limit_large=40):
    rng = random.Random(seed)
    cases = [(1, 1, 0, 1, 1, 0, 0, 0, 0), (1, 1, 2, 1, 1, 2, 2, 2, 4)]
    while len(cases) < count:
        limit = limit_small if len(cases) < small else limit_large
        j1, j2, j4, j5 = (rng.randint(0, limit) for _ in range(4))
        j3 = rng.randrange(abs(j1 - j2), j1 + j2 + 1, 2)
        j6 = rng.randrange(abs(j4 - j5), j4 + j5 + 1, 2)
        j7 = rng.randrange(abs(j1 - j4), j1 + j4 + 1, 2)
        j8 = rng.randrange(abs(j2 - j5), j2 + j5 + 1, 2)
        j9 = rng.randrange(abs(j3 - j6), j3 + j6 + 1, 2)
        if _triad(j7, j8, j9):
            cases.append((j1, j2, j3, j4, j5, j6, j7, j8, j9))
    return cases


def test_wigner_9j_is_correctly_rounded():
    for args in _nine_j_cases():
        assert_correctly_rounded(wigner_9j(*args), *exact_square(exact.wigner_9j, args))


def sympy_clebsch_gordan(j1, m1, j2, m2, j, m):
    return exact.clebsch_gordan(j1, j2, j, m1, m2, m)  # sympy takes the spins first


@pytest.mark.parametrize(
    "function, sympy_function, args",
    [(clebsch_gordan, sympy_clebsch_gordan, (3, 1, 5, -3, 4, -2)),
     (clebsch_gordan, sympy_clebsch_gordan, (61, -11, 40, 6, 83, -5)),
     (wigner_6j, exact.wigner_6j, (6, 9, 7, 8, 5, 5)),
     (wigner_6j, exact.wigner_6j, (102, 104, 130, 89, 117, 119))],
)
def test_clebsch_gordan_and_6j_agree_with_sympy(function, sympy_function, args):
    assert_correctly_rounded(function(*args), *exact_square(sympy_function, args))


# --- selection rules and arguments ---------------------------------------------------------

@pytest.mark.parametrize(
    "function, args",
    [(wigner_3j, (2, 2, 2, 2, 0, 0)),            # m1 + m2 + m3 != 0
     (wigner_3j, (2, 2, 6, 0, 0, 0)),            # triangle rule
     (wigner_3j, (1, 1, 1, 1, -1, 1)),           # half-integer j1 + j2 + j3
     (wigner_3j, (1, 1, 2, 3, -3, 0)),           # |m1| > j1
     (wigner_3j, (2, 2, 2, 0, 0, 0)),            # (1 1 1; 0 0 0): odd j1 + j2 + j3, all m = 0
     (wigner_3j, (6, 4, 4, 0, 0, 0)),            # the same with the phase -1
     (wigner_9j, (1, 1, 1, 1, 1, 0, 0, 0, 0)),   # a row fails
     (wigner_9j, (2, 2, 0, 2, 2, 0, 6, 2, 0)),   # a column fails
     (wigner_9j, (2, 2, 2, 2, 2, 2, 2, 2, 2))],  # every triad holds; the sum vanishes
)
def test_zero_where_a_selection_rule_fails(function, args):
    value = function(*args)
    assert value == 0.0 and math.copysign(1.0, value) == 1.0


@pytest.mark.parametrize(
    "function, args, message",
    [(wigner_3j, (-2, 2, 0, 0, 0, 0), "two_j1 must be non-negative, got -2"),
     (wigner_3j, (2, 2, 20002, 0, 0, 0), "two_j3 must be at most 20000, got 20002"),
     (wigner_3j, (2, 1, 1, 0, 0, 0), "two_m2 must have the parity of two_j2, got 0 and 1"),
     (wigner_9j, (0, 0, 0, 0, 0, 0, 0, 0, -1), "two_j9 must be non-negative, got -1"),
     (wigner_9j, (0, 0, 0, 0, 2001, 0, 0, 0, 0), "two_j5 must be at most 2000, got 2001"),
     (wigner_6j, ([2, -2], 2, 2, 2, 2, 2), "two_j1 must be non-negative, got -2"),
     (clebsch_gordan, (1, [1, 0], 1, -1, 0, 0),
      "two_m1 must have the parity of two_j1, got 0 and 1"),
     (wigner_6j, ([2, 4], [2, 4, 6], 2, 2, 2, 2),
      "arguments cannot be broadcast together: two_j1 (2,), two_j2 (3,), two_j3 (), "
      "two_j4 (), two_j5 (), two_j6 ()")],
)
def test_invalid_arguments_raise_value_error(function, args, message):
    with pytest.raises(ValueError) as caught:
        function(*args)
    assert str(caught.value) == message


@pytest.mark.parametrize(
    "args, error, message",
    [((2, 2, 2, 0, 0, 0.0), TypeError,
      "argument 'two_m3': 'float' object cannot be interpreted as an integer"),
     ((2, 2, 2, 0, 0, np.array([0.0])), TypeError,
      "argument 'two_m3': expected integers, got an array of dtype float64"),
     ((2, 2, 2, 0, 0, np.array(0.0)), TypeError,
      "argument 'two_m3': expected integers, got an array of dtype float64"),
     ((np.array([True]), 2, 2, 0, 0, 0), TypeError,
      "argument 'two_j1': expected integers, got an array of dtype bool"),
     ((["2"], 2, 2, 0, 0, 0), TypeError,
      "argument 'two_j1': expected integers, got an array of dtype <U1"),
     (([None], 2, 2, 0, 0, 0), TypeError,
      "argument 'two_j1': expected integers, got an array of dtype object"),
     (([], 2, 2, 0, 0, 0), TypeError,  # NumPy makes an empty list a float64 array
      "argument 'two_j1': expected integers, got an array of dtype float64"),
     ((2, 2, 2, 0, np.array([2**40]), 0), OverflowError,
      "argument 'two_m2': 1099511627776 does not fit a 32-bit signed integer"),
     ((2, 2, 2, 0, np.array([2**64 - 1], dtype=np.uint64), 0), OverflowError,
      "argument 'two_m2': a value of 2^63 - 1 or more does not fit a 32-bit signed integer"),
     ((2, 2, 2, 0, 0, 2**31), OverflowError, "Python int too large to convert to C int")],
)
def test_arguments_that_are_not_32_bit_integers(args, error, message):
    with pytest.raises(error) as caught:
        wigner_3j(*args)
    assert type(caught.value) is error
    assert str(caught.value) == message


# --- arrays --------------------------------------------------------------------------------

SIX_J = (4, 2, np.array([2, 4, 6]), 2, np.array([[2], [4]]), 4)


@pytest.mark.parametrize(
    "function, args",
    [(wigner_6j, SIX_J),
     (clebsch_gordan, (2, np.arange(-2, 3, 2), 2, np.arange(-2, 3, 2).reshape(3, 1), 2, 0)),
     (wigner_3j, (np.array([[[2]]]), 2, 2, [-2, 0, 2], 0, [2, 0, -2])),
     (wigner_9j, (2, 2, [0, 2, 4], 2, 2, 2, [[0], [2], [4]], 2, 2)),
     (wigner_6j, (np.arange(0, 8, 2).reshape(2, 1, 2), 2, 2, 2, 2, np.zeros((0, 1), int)))],
)
def test_arrays_broadcast_and_each_element_is_the_scalar_value(function, args):
    arrays = [np.asarray(a) for a in args]
    result = function(*args)
    assert type(result) is np.ndarray and result.dtype == np.float64
    assert result.shape == np.broadcast_shapes(*(a.shape for a in arrays))
    assert result.flags.c_contiguous and result.flags.writeable
    for index in np.ndindex(result.shape):
        scalars = [int(np.broadcast_to(a, result.shape)[index]) for a in arrays]
        assert result[index] == function(*scalars)


@pytest.mark.parametrize(
    "column",
    [np.array([2, 4, 6], dtype=np.int8), np.array([2, 4, 6], dtype=np.uint16),
     np.array([2, 4, 6], dtype=">i4"), np.array([2, 4, 6], dtype=np.uint64),
     np.array([2, 9, 4, 9, 6])[::2], np.array([[2, 4, 6]]).T[:, 0], [2, 4, 6], (2, 4, 6)],
    ids=["int8", "uint16", "big-endian", "uint64", "strided", "column", "list", "tuple"],
)
def test_integer_types_and_layouts_give_the_same_values(column):
    expected = [wigner_6j(4, 2, c, 2, 4, 4) for c in (2, 4, 6)]
    assert wigner_6j(4, 2, column, 2, 4, 4).tolist() == expected


def test_scalars_give_a_float_and_zero_dimensional_arrays_an_array():
    assert type(wigner_6j(2, 2, 2, 2, 2, 2)) is float
    assert type(wigner_6j(np.int16(2), 2, 2, 2, 2, np.uint8(2))) is float
    result = wigner_6j(np.array(2), 2, 2, 2, 2, 2)
    assert type(result) is np.ndarray and result.shape == ()
    assert result[()] == wigner_6j(2, 2, 2, 2, 2, 2)


def test_an_invalid_element_anywhere_raises_before_any_work():
    spins = np.full(10_000, 40)
    spins[-1] = -2
    with pytest.raises(ValueError, match="two_j4 must be non-negative, got -2"):
        wigner_6j(40, 40, 40, spins, 40, 40)


def test_large_arrays_from_threads_give_the_single_threaded_values():
    # Symbols no other test asks for, each several times: the threads compute and memoise
    # them at the same time.
    cases = set(_nine_j_cases(seed=19, count=800, small=800, limit_small=16)) - set(_nine_j_cases())
    rows = np.array(sorted(cases) * 3)
    np.random.default_rng(5).shuffle(rows)
    columns = [rows[:, k] for k in range(9)]
    results = [None] * 4

    def work(k):
        results[k] = wigner_9j(*columns)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    expected = np.array([wigner_9j(*(int(v) for v in row)) for row in rows])
    for result in results:
        assert result.tobytes() == expected.tobytes()


def test_another_thread_runs_during_a_large_array():
    # Distinct symbols {a b c; a b c} at 2j up to 400, so that no memo answers: a few tenths of
    # a second here.
    rng = np.random.default_rng(8)
    a, b = rng.integers(200, 400, 3000), rng.integers(200, 400, 3000)
    c = np.abs(a - b) + 2 * rng.integers(0, np.minimum(a, b) // 2 + 1)  # a triad
    spins = [a, b, c, a, b, c]
    ticks, done = [], threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.002)

    thread = threading.Thread(target=ticker)
    thread.start()
    time.sleep(0.01)
    start = time.perf_counter()
    wigner_6j(*spins)
    end = time.perf_counter()
    done.set()
    thread.join()
    # With the lock held for the whole call the thread would tick at most once.
    assert end - start > 0.05
    assert sum(start < t < end for t in ticks) >= 5, f"{end - start:.3f} s"


def test_ctrl_c_stops_a_large_array_quickly():
    code = textwrap.dedent("""
        import os, signal, threading, time
        import numpy as np
        import tavrin
        rng = np.random.default_rng(2)
        a, b = rng.integers(100, 160, 2000), rng.integers(100, 160, 2000)
        c = abs(a - b) + 2 * rng.integers(0, np.minimum(a, b) // 2 + 1)
        d = abs(a - b) + 2 * rng.integers(0, np.minimum(a, b) // 2 + 1)
        e = 2 * rng.integers(0, np.minimum(c, d) + 1)
        spins = [a, b, c, b, a, c, d, d, e]  # every triad holds: many seconds for them all
        sent = []
        def interrupt():
            sent.append(time.perf_counter())
            os.kill(os.getpid(), signal.SIGINT)
        threading.Timer(0.2, interrupt).start()
        try:
            tavrin.wigner_9j(*spins)
            print("finished")
        except KeyboardInterrupt:
            print("KeyboardInterrupt", round(time.perf_counter() - sent[0], 3))
    """)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            timeout=300)
    assert result.returncode == 0, result.stderr
    outcome, latency = result.stdout.split()
    assert outcome == "KeyboardInterrupt"
    assert float(latency) < 1.0
