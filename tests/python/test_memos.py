"""The process-wide memos seen from Python: what memo_info reports, clear_memos and
set_memo_bound, the bound variables, and bounds that hold for the memory of the process."""

import doctest
import os
import subprocess
import sys
import textwrap

import pytest

import tavrin
from spec_factory import spec_of

NAMES = ["basis_store", "block_contraction_plans", "block_permutation_plans", "clebsch_gordan",
         "clebsch_gordan_rounded", "exchange_coefficients", "rsymbol_plans",
         "rsymbol_recoupling_plans", "rsymbol_results", "wigner_3j", "wigner_6j", "wigner_9j",
         "xsymbol_plans", "xsymbol_recoupling_plans", "xsymbol_results"]


@pytest.fixture
def restored_bounds():
    before = {name: info.bound for name, info in tavrin.memo_info().items()}
    yield
    for name, bound in before.items():
        tavrin.set_memo_bound(name, bound)


def test_every_memo_reports_its_use():
    info = tavrin.memo_info()
    assert sorted(info) == NAMES
    for record in info.values():
        assert isinstance(record, tavrin.MemoInfo)
        assert record._fields == ("hits", "misses", "bytes", "bound")
        assert record.bytes <= record.bound


def test_hits_misses_and_clearing(restored_bounds):
    tavrin.clear_memos()
    spec = spec_of([2, 2, 2, 2])
    for _ in range(3):
        tavrin.compute_rsymbol(spec, [1, 0, 2, 3])
    info = tavrin.memo_info()
    results, plans = info["rsymbol_results"], info["rsymbol_plans"]
    assert (results.hits, results.misses) == (2, 1) and results.bytes > 0
    assert (plans.hits, plans.misses) == (0, 1) and plans.bytes > 0  # repeats need no plan
    tavrin.clear_memos()
    assert all((r.hits, r.misses, r.bytes) == (0, 0, 0) for r in tavrin.memo_info().values())


def test_a_bound_of_zero_turns_a_memo_off_and_changes_no_result(restored_bounds):
    spec = spec_of([2, 2, 2, 2])
    expected = tavrin.compute_rsymbol(spec, [2, 0, 1, 3])[0]
    for name in NAMES:
        tavrin.set_memo_bound(name, 0)
    assert tavrin.compute_rsymbol(spec, [2, 0, 1, 3])[0].tobytes() == expected.tobytes()
    assert all(r.bytes == 0 and r.bound == 0 for r in tavrin.memo_info().values())


@pytest.mark.parametrize("args, error, message", [
    (("no such memo", 10), ValueError, "no memo is named 'no such memo'; the memos are "),
    (("wigner_6j", -1), ValueError, "argument 'nbytes': a bound is at least 0 bytes"),
    ((3, 10), TypeError, "argument 'name': 'int' object is not an instance of 'str'"),
    (("wigner_6j", 1.5), TypeError, "argument 'nbytes': "),
])
def test_set_memo_bound_refuses(args, error, message):
    with pytest.raises(error) as caught:
        tavrin.set_memo_bound(*args)
    assert str(caught.value).startswith(message)


def test_the_variables_set_bounds_when_they_change(monkeypatch, restored_bounds):
    monkeypatch.setenv("TAVRIN_WIGNER_6J_BYTES", "12345")
    assert tavrin.memo_info()["wigner_6j"].bound == 12345
    tavrin.set_memo_bound("wigner_6j", 999)
    assert tavrin.memo_info()["wigner_6j"].bound == 999  # the variable did not change
    monkeypatch.setenv("TAVRIN_WIGNER_6J_BYTES", "not a number")
    assert tavrin.memo_info()["wigner_6j"].bound == 64 << 20  # the default


@pytest.mark.parametrize("name", NAMES)
def test_each_memo_follows_the_variable_named_after_it(name, monkeypatch, restored_bounds):
    monkeypatch.setenv(f"TAVRIN_{name.upper()}_BYTES", "12345")
    assert tavrin.memo_info()[name].bound == 12345


# The memos of symbol results: name, function, arguments.
SYMBOLS = [
    ("xsymbol_results", tavrin.compute_xsymbol,
     (spec_of([1, 1, 2]), spec_of([2, 1, 1], [1, -1, -1]), tavrin.Contraction([2], [0]))),
    ("rsymbol_results", tavrin.compute_rsymbol, (spec_of([2, 2, 2, 2]), [1, 0, 3, 2])),
]


@pytest.mark.parametrize("method", ["dense", "recoupling"])
@pytest.mark.parametrize("name, function, args", SYMBOLS, ids=[name for name, _, _ in SYMBOLS])
def test_a_repeated_symbol_is_an_array_of_the_callers_own(name, function, args, method):
    tavrin.clear_memos()
    first, spec = function(*args, method=method)
    expected = first.tobytes()
    first[...] = 7.0
    for _ in range(2):
        again, spec_again = function(*args, method=method)
        assert again.tobytes() == expected and again.shape == first.shape
        assert again.flags.writeable and again.base is not first.base
        assert spec_again == spec
        again[...] = 5.0
    assert tavrin.memo_info()[name][:2] == (2, 1)


@pytest.mark.parametrize("function, args, error, message", [
    (tavrin.compute_xsymbol, (spec_of([1, 1, 2]), spec_of([2, 1, 1], [1, -1, -1]),
                              tavrin.Contraction([0], [0])), RuntimeError, "Tavrin error: "),
    (tavrin.compute_rsymbol, (spec_of([2, 2, 2, 2]), [0, 0, 1, 2]), ValueError,
     "Invalid CGSpec: Permutation index 0 appears more than once"),
], ids=["xsymbol", "rsymbol"])
def test_errors_are_raised_again_and_never_kept(function, args, error, message):
    tavrin.clear_memos()
    raised = []
    for _ in range(2):
        with pytest.raises(error) as caught:
            function(*args)
        raised.append(str(caught.value))
    assert raised[0].startswith(message) and raised[1] == raised[0]
    info = tavrin.memo_info()
    assert all(info[name].bytes == 0 for name, _, _ in SYMBOLS)


@pytest.mark.parametrize("function", [tavrin.memo_info, tavrin.clear_memos, tavrin.set_memo_bound],
                         ids=lambda f: f.__name__)
def test_docstring_examples_run(function, restored_bounds):
    assert function.__doc__.splitlines()[0].endswith(".")
    test = doctest.DocTestParser().get_doctest(function.__doc__, {}, function.__name__, None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test, out=lambda text: None)
    assert test.examples and runner.failures == 0


# The resident memory a workload adds beyond what it needs with the memo turned off stays
# within the memo's bound (plus a little for the allocator's own bookkeeping).
RSS = """
    import os, tavrin
    from tavrin import CGSpec, Edge, Spin
    def rss():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    def spec(spins):
        return CGSpec.from_edges([Edge.incoming(Spin(s)) for s in spins[:-1]]
                                 + [Edge.outgoing(Spin(spins[-1]))])
    LISTS = [[a, b, c] for a in range(0, 41) for b in range(0, 41) for c in range(abs(a - b), a + b + 1, 2)
             if (a + 1) * (b + 1) * (c + 1) <= 4000]
    PERMS = [[p, q, r, s, 4] for p in range(4) for q in range(4) for r in range(4) for s in range(4)
             if len({p, q, r, s}) == 4]
    def workload():
        if NAME.startswith("rsymbol"):
            for spins in ([1, 1, 2, 2, 2], [2, 2, 2, 2, 2], [1, 3, 2, 2, 2], [3, 3, 2, 2, 2]):
                for perm in PERMS:
                    tavrin.compute_rsymbol(spec(spins), perm)
        else:
            for spins in LISTS:
                tavrin.canonical_basis(spec(spins))
                tavrin.canonical_basis(spec(spins))
    for name in IN_FRONT:  # memos that would answer before this one is asked
        tavrin.set_memo_bound(name, 0)
    tavrin.set_memo_bound(NAME, 0)
    workload()
    tavrin.clear_memos()
    workload()
    before = rss()
    tavrin.set_memo_bound(NAME, BOUND)
    workload()
    workload()
    info = tavrin.memo_info()[NAME]
    print(info.bytes, rss() - before)
"""


@pytest.mark.parametrize("name, bound, in_front", [
    ("basis_store", 2_000_000, []),
    ("clebsch_gordan", 4_000_000, []),
    ("rsymbol_plans", 200_000, ["rsymbol_results"]),
    ("rsymbol_results", 40_000, []),
])
def test_resident_memory_stays_within_the_bound(tmp_path, name, bound, in_front):
    code = f"NAME, BOUND, IN_FRONT = {name!r}, {bound}, {in_front!r}\n" + textwrap.dedent(RSS)
    cache = tmp_path / "cache"
    if name == "clebsch_gordan":  # every basis built at every call: no cache to read it from
        cache = tmp_path / "blocked"
        cache.write_text("")
    result = subprocess.run([sys.executable, "-W", "ignore", "-c", code], capture_output=True,
                            text=True, timeout=300,
                            env={**os.environ, "TAVRIN_CACHE_PATH": str(cache)})
    assert result.returncode == 0, result.stderr
    held, grown = map(int, result.stdout.split())
    assert 0 < held <= bound
    assert grown <= bound + (2 << 20), f"{grown} bytes more resident under a bound of {bound}"
