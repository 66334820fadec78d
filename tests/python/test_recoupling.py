"""OM configurations, correctly rounded coefficients, and symbols by recoupling."""

import itertools
import math
import random
from fractions import Fraction

import numpy as np
import pytest

import tavrin
from spec_factory import spec_of
from tavrin import CGSpec, Contraction, clebsch_gordan, compute_rsymbol, compute_xsymbol, wigner_6j


# --- OM configurations ---------------------------------------------------------------------

@pytest.mark.parametrize(
    "spins, configurations",
    [
        ([], [[]]),
        ([2, 2], [[]]),
        ([1, 1, 2], [[2]]),
        ([2, 1, 1, 2], [[1, 2], [3, 2]]),
        ([4, 4, 4, 4], [[0, 4], [2, 4], [4, 4], [6, 4], [8, 4]]),
        ([1] * 6, [[0, 1, 0, 1], [0, 1, 2, 1], [2, 1, 0, 1], [2, 1, 2, 1], [2, 3, 2, 1]]),
    ],
)
def test_om_configurations_in_om_index_order(spins, configurations):
    spec = spec_of(spins, [1] * len(spins))
    assert spec.get_om_configurations() == configurations
    assert spec_of(spins).get_om_configurations() == configurations  # directions play no part


def test_om_configurations_are_a_new_list_each_time():
    spec = spec_of([1, 1, 1, 1])
    first = spec.get_om_configurations()
    first[0].append(99)
    first.append([])
    assert spec.get_om_configurations() == [[0, 1], [2, 1]]


# --- exact references ----------------------------------------------------------------------

def _f(n):
    return math.factorial(n)


def exact_cg_squared(tj1, tm1, tj2, tm2, tj, tm):
    """(sign, CG^2) from Racah's formula in rational arithmetic (doubled arguments)."""
    if tm1 + tm2 != tm or (tj1 + tj2 + tj) % 2 or not abs(tj1 - tj2) <= tj <= tj1 + tj2:
        return 0, Fraction(0)
    if abs(tm1) > tj1 or abs(tm2) > tj2 or abs(tm) > tj:
        return 0, Fraction(0)
    j = lambda *parts: sum(parts) // 2  # noqa: E731  (sums of doubled values are even here)
    t0, t1, t2 = j(tj1, tj2, -tj), j(tj1, -tm1), j(tj2, tm2)
    p1, p2 = j(tm1, tj, -tj2), j(tj, -tj1, -tm2)
    total = sum(Fraction((-1) ** k, _f(k) * _f(t0 - k) * _f(t1 - k) * _f(t2 - k) * _f(k + p1)
                         * _f(k + p2))
                for k in range(max(0, -p1, -p2), min(t0, t1, t2) + 1))
    a = ((tj + 1) * _f(t0) * _f(j(tj1, -tj2, tj)) * _f(j(tj2, -tj1, tj)) * _f(j(tj, tm))
         * _f(j(tj, -tm)) * _f(t1) * _f(j(tj1, tm1)) * _f(j(tj2, -tm2)) * _f(t2))
    square = Fraction(a, _f(j(tj1, tj2, tj) + 1)) * total * total
    return (total > 0) - (total < 0), square


def _triad(a, b, c):
    return (a + b + c) % 2 == 0 and abs(a - b) <= c <= a + b


def exact_6j_squared(a, b, c, d, e, f):
    """(sign, {a b c; d e f}^2) from Racah's formula in rational arithmetic (doubled spins)."""
    if not (_triad(a, b, c) and _triad(a, e, f) and _triad(d, b, f) and _triad(d, e, c)):
        return 0, Fraction(0)
    delta = Fraction(1)
    for x, y, z in ((a, b, c), (a, e, f), (d, b, f), (d, e, c)):
        delta *= Fraction(_f((x + y - z) // 2) * _f((x - y + z) // 2) * _f((-x + y + z) // 2),
                          _f((x + y + z) // 2 + 1))
    alphas = [(a + b + c) // 2, (a + e + f) // 2, (d + b + f) // 2, (d + e + c) // 2]
    betas = [(a + b + d + e) // 2, (b + c + e + f) // 2, (c + a + f + d) // 2]
    total = Fraction(0)
    for t in range(max(alphas), min(betas) + 1):
        denominator = 1
        for x in alphas:
            denominator *= _f(t - x)
        for x in betas:
            denominator *= _f(x - t)
        total += Fraction((-1) ** t * _f(t + 1), denominator)
    return (total > 0) - (total < 0), delta * total * total


def assert_correctly_rounded(value, sign, square):
    """value is the double nearest to sign * sqrt(square): the exact value lies between the
    midpoints to value's neighbours."""
    if sign == 0:
        assert value == 0.0
        return
    assert math.copysign(1.0, value) == sign
    magnitude = abs(value)
    low = (Fraction(magnitude) + Fraction(math.nextafter(magnitude, 0.0))) / 2
    high = (Fraction(magnitude) + Fraction(math.nextafter(magnitude, math.inf))) / 2
    assert low * low <= square <= high * high


def _cg_grid():
    cases = []
    for tj1 in range(0, 7):
        for tj2 in range(0, 7):
            for tj in range(abs(tj1 - tj2), tj1 + tj2 + 1, 2):
                for tm1 in range(-tj1, tj1 + 1, 2):
                    for tm2 in range(-tj2, tj2 + 1, 2):
                        if abs(tm1 + tm2) <= tj:
                            cases.append((tj1, tm1, tj2, tm2, tj, tm1 + tm2))
    rng = random.Random(12)
    for _ in range(60):  # large spins, where doubles overflow or cancel badly
        tj1, tj2 = rng.randint(20, 240), rng.randint(20, 240)
        tj = rng.randrange(abs(tj1 - tj2), tj1 + tj2 + 1, 2)
        tm1 = rng.randrange(-tj1, tj1 + 1, 2)
        low, high = max(-tj2, -tj - tm1), min(tj2, tj - tm1)
        tm2 = low + 2 * rng.randint(0, (high - low) // 2)
        cases.append((tj1, tm1, tj2, tm2, tj, tm1 + tm2))
    return cases


def test_clebsch_gordan_is_correctly_rounded():
    for args in _cg_grid():
        assert_correctly_rounded(clebsch_gordan(*args), *exact_cg_squared(*args))


def _six_j_grid():
    rng = random.Random(6)
    cases = []
    while len(cases) < 400:
        limit = 12 if len(cases) < 340 else 160
        a, b, d, e = (rng.randint(0, limit) for _ in range(4))
        c = rng.randrange(abs(a - b), a + b + 1, 2)
        f = rng.randrange(abs(a - e), a + e + 1, 2)
        if _triad(d, b, f) and _triad(d, e, c):
            cases.append((a, b, c, d, e, f))
    return cases


def test_wigner_6j_is_correctly_rounded():
    for args in _six_j_grid():
        assert_correctly_rounded(wigner_6j(*args), *exact_6j_squared(*args))


@pytest.mark.parametrize(
    "args",
    [(1, 1, 1, 1, 0, 0),    # m1 + m2 != m
     (4, 0, 2, 0, 4, 0),    # <2 0; 1 0 | 2 0>: j1 + j2 + j odd with all m = 0
     (2, 0, 2, 0, 6, 0),    # triangle rule
     (1, 3, 1, -3, 0, 0),   # |m1| > j1
     (1, 1, 1, 1, 0, 2)],   # |m| > j
)
def test_clebsch_gordan_is_zero_where_a_selection_rule_fails(args):
    assert clebsch_gordan(*args) == 0.0


@pytest.mark.parametrize("args", [(1, 1, 1, 1, 1, 1), (2, 2, 2, 2, 2, 6), (0, 2, 4, 2, 2, 2)])
def test_wigner_6j_is_zero_where_a_triad_fails(args):
    assert wigner_6j(*args) == 0.0


@pytest.mark.parametrize(
    "function, args, message",
    [(clebsch_gordan, (-1, 1, 1, 1, 0, 0), "two_j1 must be non-negative, got -1"),
     (clebsch_gordan, (1, 1, 1, -1, -2, 0), "two_j must be non-negative, got -2"),
     (clebsch_gordan, (1, 0, 1, 0, 0, 0), "two_m1 must have the parity of two_j1, got 0 and 1"),
     (clebsch_gordan, (1, 1, 2, 1, 1, 2), "two_m2 must have the parity of two_j2, got 1 and 2"),
     (clebsch_gordan, (1, 1, 1, -1, 0, 1), "two_m must have the parity of two_j, got 1 and 0"),
     (wigner_6j, (1, 1, 0, 1, 1, -4), "two_j6 must be non-negative, got -4"),
     # Exact evaluation of spins near the 32-bit limit would run for hours.
     (wigner_6j, (2 ** 31 - 1, 1, 2 ** 31 - 2, 1, 1, 0),
      "two_j1 must be at most 20000, got 2147483647"),
     (clebsch_gordan, (1, 1, 20001, -1, 20000, 0), "two_j2 must be at most 20000, got 20001")],
)
def test_invalid_arguments_raise_value_error(function, args, message):
    with pytest.raises(ValueError) as caught:
        function(*args)
    assert str(caught.value) == message


def test_argument_conversion_errors_name_the_argument():
    with pytest.raises(TypeError, match=r"^argument 'two_m2': "):
        clebsch_gordan(1, 1, 1, 1.0, 0, 0)
    with pytest.raises(OverflowError):
        wigner_6j(2 ** 31, 0, 0, 0, 0, 0)


# --- symbols by recoupling ------------------------------------------------------------------

R_CASES = [
    (spec_of([1, 1, 1, 1]), [1, 0, 2, 3]),
    (spec_of([1, 2, 3, 2], [-1, 1, -1, 1]), [3, 1, 0, 2]),
    (spec_of([1] * 8 + [0]), [4, 5, 0, 1, 2, 3, 6, 7, 8]),
]
X_CASES = [
    (spec_of([1, 1, 2]), spec_of([2, 1, 1], [1, -1, -1]), Contraction([2], [0])),
    (spec_of([1, 1, 2]), spec_of([2, 1, 1], [-1, -1, -1]), Contraction([2], [0])),
    (spec_of([2, 2, 2, 2]), spec_of([2, 2, 2], [-1, 1, 1]), Contraction([0, 3], [1, 0])),
    (spec_of([1, 1]), spec_of([2, 2]), Contraction([], [])),
]


@pytest.mark.parametrize("spec, permutation", R_CASES)
def test_rsymbol_by_recoupling_matches_dense(spec, permutation):
    dense, dense_spec = compute_rsymbol(spec, permutation)
    fast, fast_spec = compute_rsymbol(spec, permutation, method="recoupling")
    assert fast_spec == dense_spec
    assert fast.shape == dense.shape and fast.dtype == np.float64
    np.testing.assert_allclose(fast, dense, rtol=0, atol=1e-13)
    explicit, _ = compute_rsymbol(spec, permutation, method="dense")
    assert explicit.tobytes() == dense.tobytes()


@pytest.mark.parametrize("spec_a, spec_b, contraction", X_CASES)
def test_xsymbol_by_recoupling_matches_dense(spec_a, spec_b, contraction):
    dense, dense_spec = compute_xsymbol(spec_a, spec_b, contraction)
    fast, fast_spec = compute_xsymbol(spec_a, spec_b, contraction, method="recoupling")
    assert fast_spec == dense_spec
    np.testing.assert_allclose(fast, dense, rtol=0, atol=1e-13)


MPS_CHAIN = [(j, k, j2) for j in range(61) for k in (j - 1, j + 1) if 0 <= k <= 60
             for j2 in (k - 1, k + 1) if 0 <= j2 <= 60]


def test_singlet_weights_are_correctly_rounded_and_zeros_exact():
    """Matrix-product-state tensors (j in, 1/2 in, k out) and (k in, 1/2 in, j' out) over their
    bond: X is +-1/sqrt(2k+1) where C's first internal spin is k, and 0.0 elsewhere, where the
    dense sums leave rounding residue."""
    for j, k, j2 in MPS_CHAIN:
        a, b = spec_of([j, 1, k]), spec_of([k, 1, j2])
        x, c = compute_xsymbol(a, b, Contraction([2], [0]), method="recoupling")
        dense, _ = compute_xsymbol(a, b, Contraction([2], [0]))
        for index, config in enumerate(c.get_om_configurations()):
            if config[0] != k:
                assert x[0, 0, index] == 0.0
                continue
            sign = 1 if dense[0, 0, index] > 0 else -1
            assert_correctly_rounded(x[0, 0, index], sign, Fraction(1, k + 1))


def _four_edge_spins():
    for spins in itertools.product(range(7), range(7), range(7), range(8)):
        if sum(spins) % 2 == 0 and 2 * max(spins) <= sum(spins):
            yield spins
    yield 12, 9, 7, 6


def test_exchange_coefficients_are_correctly_rounded():
    """Exchanging the middle edges of (j0, j1, j2 in, J out):
    R[k, k'] = (-1)^(j1 + j2 + k + k') sqrt((2k+1)(2k'+1)) {j0 j1 k; J j2 k'}, one coefficient."""
    for j0, j1, j2, big_j in _four_edge_spins():
        spec = spec_of([j0, j1, j2, big_j])
        r, permuted = compute_rsymbol(spec, [0, 2, 1, 3], method="recoupling")
        for a, (k, _) in enumerate(spec.get_om_configurations()):
            for b, (k_new, _) in enumerate(permuted.get_om_configurations()):
                sign, square = exact_6j_squared(j0, j1, k, big_j, j2, k_new)
                if ((j1 + j2 + k + k_new) // 2) % 2:
                    sign = -sign
                assert_correctly_rounded(r[a, b], sign, (k + 1) * (k_new + 1) * square)


def test_recoupling_neither_reads_nor_writes_the_cache(tmp_path, monkeypatch):
    cache = tmp_path / "cache"
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(cache))
    for spec, permutation in R_CASES:
        compute_rsymbol(spec, permutation, method="recoupling")
    for spec_a, spec_b, contraction in X_CASES:
        compute_xsymbol(spec_a, spec_b, contraction, method="recoupling")
    assert not cache.exists()


SYMBOL_ERRORS = [
    (compute_rsymbol, (spec_of([1, 1, 2]), [0, 0])),
    (compute_rsymbol, (spec_of([1, 1, 2]), [0, 3, 0])),
    (compute_rsymbol, (CGSpec.from_edges([]), [])),
    (compute_rsymbol, (spec_of([1]), [0])),
    (compute_xsymbol, (spec_of([1, 1, 2]), spec_of([1, 1, 2]), Contraction([0, 5], [0, 1]))),
    (compute_xsymbol, (spec_of([1, 1, 2]), spec_of([2, 1, 1]), Contraction([0], [0]))),
    (compute_xsymbol, (spec_of([1, 1, 0]), spec_of([1, 1, 2]), Contraction([0, 1], [0, 1]))),
    (compute_xsymbol, (spec_of([1, 1, 2]), spec_of([1, 1, 2]), Contraction([0, 1, 2], [0, 1, 2]))),
    (compute_xsymbol, (spec_of([1, 1, 2]), spec_of([2, 1, 1]), Contraction([0], [7]))),
    (compute_xsymbol, (spec_of([1, 1]), spec_of([1, 1]), Contraction([0, 0], [0, 1]))),
]


@pytest.mark.parametrize("function, args", SYMBOL_ERRORS)
def test_both_methods_raise_the_same_error(function, args, tmp_path, monkeypatch):
    with pytest.raises(Exception) as dense:
        function(*args)
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path / "cache"))
    with pytest.raises(Exception) as fast:
        function(*args, method="recoupling")
    assert type(fast.value) is type(dense.value)
    assert str(fast.value) == str(dense.value)
    assert not (tmp_path / "cache").exists()


@pytest.mark.parametrize(
    "call, error, message",
    [(lambda: compute_rsymbol(spec_of([1, 1]), [0, 1], "recoupling"), TypeError,
      "compute_rsymbol() takes 2 positional arguments but 3 were given"),
     (lambda: compute_xsymbol(*X_CASES[0], "dense"), TypeError,
      "compute_xsymbol() takes 3 positional arguments but 4 were given"),
     (lambda: compute_rsymbol(spec_of([1, 1]), [0, 1], method=None), TypeError,
      "argument 'method': 'None' is not an instance of 'str'"),
     (lambda: compute_xsymbol(*X_CASES[0], method=b"dense"), TypeError,
      "argument 'method': 'bytes' object is not an instance of 'str'"),
     (lambda: compute_rsymbol(spec_of([1, 1]), [0, 1], method="Dense"), ValueError,
      "method must be 'dense' or 'recoupling', got 'Dense'"),
     (lambda: compute_rsymbol(spec_of([1, 1]), [0, 1], method="dense", methods=1), TypeError,
      "compute_rsymbol() got an unexpected keyword argument 'methods'"),
     (lambda: compute_rsymbol(spec_of([1, 1]), method="dense"), TypeError,
      "compute_rsymbol() missing 1 required positional argument: 'permutation'")],
)
def test_method_keyword_errors(call, error, message):
    with pytest.raises(error) as caught:
        call()
    assert type(caught.value) is error
    assert str(caught.value) == message


def test_new_functions_follow_the_ten_existing_names():
    assert tavrin.__all__[10:14] == ["clebsch_gordan", "wigner_6j", "wigner_3j", "wigner_9j"]
