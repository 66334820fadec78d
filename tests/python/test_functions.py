"""The module functions: calling convention, argument conversion, result types, docs."""

import doctest
import inspect

import numpy as np
import pytest

import tavrin
from spec_factory import spec_of
from tavrin import (
    CGSpec,
    Contraction,
    Spin,
    canonical_basis,
    clebsch_gordan,
    compute_conjugate,
    compute_rsymbol,
    compute_xsymbol,
    fs_phase_for_spin,
    wigner_3j,
    wigner_6j,
    wigner_9j,
)

FUNCTIONS = ["compute_xsymbol", "compute_rsymbol", "canonical_basis", "fs_phase_for_spin",
             "compute_conjugate", "clebsch_gordan", "wigner_6j", "wigner_3j", "wigner_9j",
             "memo_info", "clear_memos", "set_memo_bound"]
BLOCK_NAMES = ["Leg", "BlockTensor", "contract", "fusion_isometry", "lowest_eigenpair",
               "block_timings", "reset_block_timings"]

PAIR = spec_of([1, 1])                 # 1/2 in, 1/2 out
A = spec_of([1, 1, 2])                 # 1/2 in, 1/2 in, 1 out
B = spec_of([2, 1, 1], [1, -1, -1])    # 1 in, 1/2 out, 1/2 out
AB = Contraction([2], [0])
FOUR = spec_of([1, 1, 1, 1])


def test_functions_follow_the_classes_in_all_in_registration_order():
    assert tavrin.__all__ == ["Direction", "Spin", "Edge", "CGSpec", "Contraction", *FUNCTIONS,
                              *BLOCK_NAMES]


@pytest.mark.parametrize("name", FUNCTIONS + BLOCK_NAMES[2:])
def test_functions_are_builtins_bound_to_the_module(name):
    function = getattr(tavrin, name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == name
    assert function.__self__ is tavrin
    assert function.__module__ == "tavrin"


ACCEPTED_CALLS = [
    ("canonical_basis", (PAIR,), {}),
    ("canonical_basis", (), {"spec": PAIR}),
    ("compute_xsymbol", (A, B, AB), {}),
    ("compute_xsymbol", (A,), {"contraction": AB, "spec_b": B}),
    ("compute_xsymbol", (), {"spec_b": B, "contraction": AB, "spec_a": A}),
    ("compute_rsymbol", (FOUR, [1, 0, 2, 3]), {}),
    ("compute_rsymbol", (), {"permutation": [1, 0, 2, 3], "spec": FOUR}),
    ("compute_conjugate", (), {"spec": A}),
    ("fs_phase_for_spin", (), {"spin": Spin(1)}),
    ("clebsch_gordan", (1, 1), {"two_m": 0, "two_j": 0, "two_m2": -1, "two_j2": 1}),
    ("wigner_6j", (2, 2), {"two_j6": 2, "two_j5": 2, "two_j4": 2, "two_j3": 2}),
    ("wigner_3j", (2, 2), {"two_m3": -2, "two_m2": 0, "two_m1": 2, "two_j3": 2}),
    ("wigner_9j", (1, 1, 2, 1), {"two_j9": 4, "two_j8": 2, "two_j7": 2, "two_j6": 2, "two_j5": 1}),
]


@pytest.mark.parametrize("name, args, kwargs", ACCEPTED_CALLS)
def test_arguments_by_position_or_keyword_give_the_same_result(name, args, kwargs):
    function = getattr(tavrin, name)
    names = [p.name for p in inspect.signature(function).parameters.values()
             if p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD]
    positional = args + tuple(kwargs[n] for n in names[len(args):])
    assert _comparable(function(*args, **kwargs)) == _comparable(function(*positional))


def _comparable(result):
    if isinstance(result, tuple):
        return tuple(_comparable(item) for item in result)
    if isinstance(result, np.ndarray):
        return (result.shape, result.tobytes())
    return result


BINDING_ERRORS = [
    (canonical_basis, (PAIR, PAIR), {},
     "canonical_basis() takes 1 positional arguments but 2 were given"),
    (compute_xsymbol, (A, B, AB, AB), {},
     "compute_xsymbol() takes 3 positional arguments but 4 were given"),
    (fs_phase_for_spin, (Spin(1), Spin(1), Spin(1)), {},
     "fs_phase_for_spin() takes 1 positional arguments but 3 were given"),
    (canonical_basis, (PAIR, PAIR), {"bogus": 1},
     "canonical_basis() takes 1 positional arguments but 2 were given"),
    (canonical_basis, (PAIR,), {"bogus": 1},
     "canonical_basis() got an unexpected keyword argument 'bogus'"),
    (compute_conjugate, (), {"spec": A, "spin": Spin(1)},
     "compute_conjugate() got an unexpected keyword argument 'spin'"),
    (canonical_basis, (PAIR,), {"spec": PAIR},
     "canonical_basis() got multiple values for argument 'spec'"),
    (compute_rsymbol, (FOUR, [0, 1, 2, 3]), {"spec": FOUR},
     "compute_rsymbol() got multiple values for argument 'spec'"),
    (compute_xsymbol, (A, B), {"spec_b": B, "contraction": AB},
     "compute_xsymbol() got multiple values for argument 'spec_b'"),
    # keywords are examined in the order given
    (canonical_basis, (PAIR,), {"spec": PAIR, "bogus": 1},
     "canonical_basis() got multiple values for argument 'spec'"),
    (canonical_basis, (PAIR,), {"bogus": 1, "spec": PAIR},
     "canonical_basis() got an unexpected keyword argument 'bogus'"),
    (canonical_basis, (), {},
     "canonical_basis() missing 1 required positional argument: 'spec'"),
    (fs_phase_for_spin, (), {},
     "fs_phase_for_spin() missing 1 required positional argument: 'spin'"),
    (compute_xsymbol, (A, B), {},
     "compute_xsymbol() missing 1 required positional argument: 'contraction'"),
    (compute_xsymbol, (A,), {},
     "compute_xsymbol() missing 2 required positional arguments: 'spec_b' and 'contraction'"),
    (compute_xsymbol, (), {"spec_b": B},
     "compute_xsymbol() missing 2 required positional arguments: 'spec_a' and 'contraction'"),
    (compute_xsymbol, (), {},
     "compute_xsymbol() missing 3 required positional arguments: "
     "'spec_a', 'spec_b', and 'contraction'"),
    (compute_rsymbol, (), {"permutation": [0]},
     "compute_rsymbol() missing 1 required positional argument: 'spec'"),
]


@pytest.mark.parametrize("function, args, kwargs, message", BINDING_ERRORS)
def test_argument_binding_errors(function, args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        function(*args, **kwargs)
    assert str(caught.value) == message


class IndexFailsWithCause:
    def __index__(self):
        raise TypeError("no index here") from KeyError("the cause")


class IndexFailsWithValueError:
    def __index__(self):
        raise ValueError("not a TypeError")


CONVERSION_ERRORS = [
    (canonical_basis, (None,), TypeError, "argument 'spec': 'None' is not an instance of 'CGSpec'"),
    (canonical_basis, (Spin(1),), TypeError,
     "argument 'spec': 'Spin' object is not an instance of 'CGSpec'"),
    (compute_conjugate, ("spec",), TypeError,
     "argument 'spec': 'str' object is not an instance of 'CGSpec'"),
    (fs_phase_for_spin, (1,), TypeError,
     "argument 'spin': 'int' object is not an instance of 'Spin'"),
    (compute_xsymbol, (1, 2, 3), TypeError,
     "argument 'spec_a': 'int' object is not an instance of 'CGSpec'"),
    (compute_xsymbol, (A, None, 3), TypeError,
     "argument 'spec_b': 'None' is not an instance of 'CGSpec'"),
    (compute_xsymbol, (A, B, A), TypeError,
     "argument 'contraction': 'CGSpec' object is not an instance of 'Contraction'"),
    (compute_rsymbol, (None, "1023"), TypeError,
     "argument 'spec': 'None' is not an instance of 'CGSpec'"),
    (compute_rsymbol, (FOUR, "1023"), TypeError,
     "argument 'permutation': Can't extract `str` to `Vec`"),
    (compute_rsymbol, (FOUR, 5), TypeError,
     "argument 'permutation': 'int' object is not an instance of 'Sequence'"),
    (compute_rsymbol, (FOUR, {0: 1}), TypeError,
     "argument 'permutation': 'dict' object is not an instance of 'Sequence'"),
    (compute_rsymbol, (FOUR, [0, 1.0, 2, 3]), TypeError,
     "argument 'permutation': 'float' object cannot be interpreted as an integer"),
    (compute_rsymbol, (FOUR, [0, 1, IndexFailsWithValueError(), 3]), ValueError,
     "not a TypeError"),
]


@pytest.mark.parametrize("function, args, error, message", CONVERSION_ERRORS)
def test_argument_conversion_errors(function, args, error, message):
    with pytest.raises(error) as caught:
        function(*args)
    assert type(caught.value) is error
    assert str(caught.value) == message


def test_too_large_permutation_items_raise_overflow_error_unprefixed():
    with pytest.raises(OverflowError) as caught:
        compute_rsymbol(FOUR, [0, 1, 2, 2**64])
    assert not str(caught.value).startswith("argument")


@pytest.mark.parametrize("item", [-1, -2**70])
def test_negative_permutation_items_raise_value_error_naming_the_argument(item):
    with pytest.raises(ValueError) as caught:
        compute_rsymbol(FOUR, [1, 0, 2, item])
    assert type(caught.value) is ValueError
    assert str(caught.value) == (f"argument 'permutation': {item} is negative: edge positions "
                                 "count from 0")


def test_renamed_type_error_keeps_the_cause_of_the_conversion_error():
    with pytest.raises(TypeError) as caught:
        compute_rsymbol(FOUR, [IndexFailsWithCause(), 1, 2, 3])
    assert str(caught.value) == "argument 'permutation': no index here"
    assert isinstance(caught.value.__cause__, KeyError)


@pytest.mark.parametrize(
    "permutation, as_list",
    [((1, 0, 2, 3), [1, 0, 2, 3]),
     (range(4), [0, 1, 2, 3]),
     (np.array([1, 0, 3, 2]), [1, 0, 3, 2]),
     ([np.uint8(1), False, 2, np.int64(3)], [1, 0, 2, 3])],
    ids=["tuple", "range", "ndarray", "index-objects"],
)
def test_permutation_accepts_any_sequence_of_integers(permutation, as_list):
    expected, expected_spec = compute_rsymbol(FOUR, as_list)
    data, spec = compute_rsymbol(FOUR, permutation)
    assert data.tobytes() == expected.tobytes()
    assert spec == expected_spec


def test_conversion_errors_come_before_the_computation():
    empty = CGSpec.from_edges([])
    with pytest.raises(TypeError):
        compute_rsymbol(empty, "0")
    with pytest.raises(TypeError):
        compute_xsymbol(empty, empty, None)


def test_result_types():
    basis = canonical_basis(PAIR)
    assert type(basis) is np.ndarray and basis.dtype == np.float64
    for result in (compute_xsymbol(A, B, AB), compute_rsymbol(FOUR, [1, 0, 2, 3])):
        assert type(result) is tuple and len(result) == 2
        assert type(result[0]) is np.ndarray and type(result[1]) is CGSpec
    phase, conjugate = compute_conjugate(A)
    assert type(phase) is float and type(conjugate) is CGSpec
    assert type(fs_phase_for_spin(Spin(0))) is float


def test_input_objects_are_left_unchanged():
    before = (A.get_spins(), A.get_directions(), B.get_directions(), AB.axes_a, AB.axes_b)
    permutation = [1, 0, 2, 3]
    compute_xsymbol(A, B, AB)
    compute_conjugate(A)
    compute_rsymbol(FOUR, permutation)
    assert (A.get_spins(), A.get_directions(), B.get_directions(), AB.axes_a, AB.axes_b) == before
    assert permutation == [1, 0, 2, 3]


DOCSTRINGS = [
    (canonical_basis, "(spec)", "Compute canonical basis data for a coupled gauge tree.",
     ["If the CGSpec has fewer than 2 external edges.",
      "If the computation fails."]),
    (compute_xsymbol, "(spec_a, spec_b, contraction, *, method='dense')",
     "Compute X-symbol for tensor network contraction.",
     ["If the contraction specification is invalid.",
      "If the computation fails."]),
    (compute_rsymbol, "(spec, permutation, *, method='dense')",
     "Compute R-symbol for tensor edge permutation.",
     ["If the permutation is invalid.", "If the computation fails."]),
    (compute_conjugate, "(spec)",
     "Compute the conjugate CGSpec and the cumulated Frobenius-Schur phase.",
     ["If the conjugated edge configuration is invalid."]),
    (fs_phase_for_spin, "(spin)",
     "Return the Frobenius-Schur phase ``(-1)^{2j}`` for a single spin.", None),
    (clebsch_gordan, "(two_j1, two_m1, two_j2, two_m2, two_j, two_m)",
     "Return the Clebsch-Gordan coefficient <j1 m1; j2 m2 | j m>, correctly rounded.",
     ["If a doubled spin is negative"]),
    (wigner_6j, "(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6)",
     "Return the Wigner 6j symbol {j1 j2 j3; j4 j5 j6}, correctly rounded.",
     ["If a doubled spin is negative or above 20000"]),
    (wigner_3j, "(two_j1, two_j2, two_j3, two_m1, two_m2, two_m3)",
     "Return the Wigner 3j symbol (j1 j2 j3; m1 m2 m3), correctly rounded.",
     ["If a doubled spin is negative"]),
    (wigner_9j, "(two_j1, two_j2, two_j3, two_j4, two_j5, two_j6, two_j7, two_j8, two_j9)",
     "Return the Wigner 9j symbol {j1 j2 j3; j4 j5 j6; j7 j8 j9}, correctly rounded.",
     ["If a doubled spin is negative or above 2000"]),
]


@pytest.mark.parametrize("function, signature, summary, raises", DOCSTRINGS,
                         ids=[d[0].__name__ for d in DOCSTRINGS])
def test_docstring_layout(function, signature, summary, raises):
    assert function.__text_signature__ == signature
    assert str(inspect.signature(function)) == signature
    doc = function.__doc__
    assert doc.splitlines()[0] == summary
    for section in ("Parameters", "Returns", "Examples"):
        assert f"\n{section}\n{'-' * len(section)}\n" in doc
    if raises is None:
        assert "Raises" not in doc
    else:
        raises_section = doc.split("Raises\n------\n")[1].split("\n\n")[0]
        for statement in raises:
            assert statement in raises_section
        assert "ValueError" in raises_section
        assert ("RuntimeError" in raises_section) == (len(raises) == 2)
    # The functions that fetch bases warn about the cache instead of failing for it.
    warns = "\nWarns\n-----\nRuntimeWarning\n    If the basis cache cannot be read or written"
    assert (warns in doc) == (function in (canonical_basis, compute_xsymbol, compute_rsymbol))


@pytest.mark.parametrize("function", [d[0] for d in DOCSTRINGS], ids=lambda f: f.__name__)
def test_docstring_examples_run(function):
    test = doctest.DocTestParser().get_doctest(function.__doc__, {}, function.__name__, None, 0)
    assert test.examples
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test, out=lambda text: None)
    assert runner.failures == 0
