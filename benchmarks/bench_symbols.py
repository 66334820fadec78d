"""X- and R-symbols against what a user would do instead: numpy.tensordot over the same dense
canonical bases, already fetched. Both sides run in one process, medians of repeats; the table
gives the ratio tavrin / NumPy per case and its geometric means, with tavrin's memo of symbol
results on (a repeated call is a copy of the first result) and off (every call does its sums).

Run after `pip install .`:  python benchmarks/bench_symbols.py [--repeats N] [--quick]

The measurement runs twice, in child processes: NumPy's BLAS limited to one thread, and at its
default. Then a repeated small symbol against the memo a user would write instead: the same call
behind functools.lru_cache, the array copied (the caller's own, as tavrin's is). Then, each in a
fresh process with the database warm and the in-process store empty, the first call of every
case; and the peak memory of the largest case (cache hit and cold build).
"""

import argparse
import json
import math
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

BLAS_THREAD_VARIABLES = ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS",
                         "BLIS_NUM_THREADS", "VECLIB_MAXIMUM_THREADS")


# Cases ------------------------------------------------------------------------------------------
# An edge is (2j, +1 incoming / -1 outgoing). A contraction pairs A's and B's edge positions.

def canonical(spins):
    return [(s, 1) for s in spins[:-1]] + [(spins[-1], -1)]


def opposite_partner(edges_a, axes_a, extra):
    """B's first edges pair with A's listed edges in the opposite direction; `extra` follows."""
    return [(edges_a[k][0], -edges_a[k][1]) for k in axes_a] + extra


def x_cases():
    cases = []

    def add(name, edges_a, edges_b, axes_a, axes_b):
        cases.append({"name": name, "a": edges_a, "b": edges_b,
                      "axes_a": axes_a, "axes_b": axes_b})

    def mirrored(name, spins, pairs):
        """A = spins (canonical pattern); B starts with A's last `pairs` edges, reversed
        and flipped, followed by the rest of a mirror image of A."""
        a = canonical(spins)
        n = len(spins)
        axes_a = list(range(n - 1, n - 1 - pairs, -1))
        rest = [(s, -d) for s, d in reversed(a[: n - pairs])]
        add(name, a, opposite_partner(a, axes_a, rest), axes_a, list(range(pairs)))

    mirrored("2 x 1/2, 1 pair", [1, 1], 1)
    add("(1/2,1/2,1)(1,1/2,1/2) 1 pair", canonical([1, 1, 2]), [(2, 1), (1, -1), (1, -1)],
        [2], [0])
    mirrored("4 x 1/2, 2 pairs", [1, 1, 1, 1], 2)
    mirrored("6 x 1/2, 3 pairs", [1] * 6, 3)
    mirrored("6 x 1/2, 1 pair", [1] * 6, 1)
    mirrored("8 x 1/2, 4 pairs", [1] * 8, 4)
    mirrored("8 x 1/2, 1 pair", [1] * 8, 1)
    mirrored("3 x 1, 1 pair", [2, 2, 2], 1)
    mirrored("4 x 1, 2 pairs", [2] * 4, 2)
    mirrored("5 x 1, 1 pair", [2] * 5, 1)
    mirrored("6 x 1, 3 pairs", [2] * 6, 3)
    mirrored("3 x 2j=4, 1 pair", [4, 4, 4], 1)
    mirrored("4 x 2j=6, 2 pairs", [6] * 4, 2)
    for s in (10, 16, 20):
        mirrored(f"3 x 2j={s}, 1 pair", [s, s, s], 1)
    mirrored("3 x 2j=20, 2 pairs", [20, 20, 20], 2)
    mirrored("(1,2,3,4) x 2, 2 pairs", [2, 4, 6, 4], 2)
    # Pairs of two incoming edges: not an invariant contraction, summed in full.
    add("4 x 1/2, 2 same-dir pairs", canonical([1] * 4), canonical([1] * 4), [0, 1], [0, 1])
    add("3 x 2j=10, same-dir pair", canonical([10] * 3), canonical([10] * 3), [0], [0])
    return cases


def r_cases():
    cases = []

    def add(name, edges, permutation):
        cases.append({"name": name, "edges": edges, "permutation": permutation})

    for n in (4, 6, 8, 10, 12):
        add(f"{n} x 1/2, swap", canonical([1] * n), [1, 0] + list(range(2, n)))
    add("8 x 1/2, reversed", canonical([1] * 8), list(range(7, -1, -1)))
    for n in (4, 5, 6):
        add(f"{n} x 1, swap", canonical([2] * n), [1, 0] + list(range(2, n)))
    add("6 x 1, cycle", canonical([2] * 6), list(range(1, 6)) + [0])
    for s in (10, 20):
        add(f"3 x 2j={s}, swap", canonical([s] * 3), [1, 0, 2])
    add("4 x 2j=10, cycle", canonical([10] * 4), [1, 2, 3, 0])
    add("4 x 2j=6, mixed directions", [(6, 1), (6, -1), (6, 1), (6, -1)], [2, 0, 3, 1])
    return cases


def legs(case):
    if "edges" in case:
        return len(case["edges"])
    return len(case["a"]) + len(case["b"])


# Building the tavrin objects and the NumPy equivalents ------------------------------------------

def make_spec(edges):
    from tavrin import CGSpec, Edge, Spin

    return CGSpec.from_edges([Edge.incoming(Spin(s)) if d > 0 else Edge.outgoing(Spin(s))
                              for s, d in edges])


def x_callables(case):
    import numpy
    import tavrin
    from tavrin import Contraction

    a, b = make_spec(case["a"]), make_spec(case["b"])
    contraction = Contraction(case["axes_a"], case["axes_b"])
    _, c = tavrin.compute_xsymbol(a, b, contraction)
    basis_a, basis_b, basis_c = (tavrin.canonical_basis(s) for s in (a, b, c))
    axes = (case["axes_a"], case["axes_b"])
    free_a = len(case["a"]) - len(case["axes_a"])
    t_rank = basis_a.ndim + basis_b.ndim - 2 * len(case["axes_a"])
    magnetic_t = [p for p in range(t_rank - 1) if p != free_a]
    magnetic_c = list(range(basis_c.ndim - 1))

    def with_numpy():
        t = numpy.tensordot(basis_a, basis_b, axes)
        return numpy.tensordot(t, basis_c, (magnetic_t, magnetic_c))

    def with_tavrin():
        return tavrin.compute_xsymbol(a, b, contraction)[0]

    largest = max(basis_a.nbytes, basis_b.nbytes, basis_c.nbytes)
    return with_tavrin, with_numpy, largest


def r_callables(case):
    import numpy
    import tavrin

    spec = make_spec(case["edges"])
    permutation = case["permutation"]
    _, permuted = tavrin.compute_rsymbol(spec, permutation)
    basis, basis_p = tavrin.canonical_basis(spec), tavrin.canonical_basis(permuted)
    n = len(permutation)
    magnetic = list(range(n))

    def with_numpy():
        return numpy.tensordot(basis.transpose(permutation + [n]), basis_p, (magnetic, magnetic))

    def with_tavrin():
        return tavrin.compute_rsymbol(spec, permutation)[0]

    return with_tavrin, with_numpy, max(basis.nbytes, basis_p.nbytes)


def callables(kind, case):
    return x_callables(case) if kind == "X" else r_callables(case)


# Timing -----------------------------------------------------------------------------------------

def calls_per_repeat(action, target=0.02):
    number = 1
    while True:
        start = time.perf_counter()
        for _ in range(number):
            action()
        if time.perf_counter() - start >= target or number >= 1 << 20:
            return number
        number *= 4


def median_time(action, repeats, number):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(number):
            action()
        times.append((time.perf_counter() - start) / number)
    return statistics.median(times)


RESULT_MEMOS = ("xsymbol_results", "rsymbol_results")
BOUNDS = {}  # the bounds the results memos had when the child started


def remember_bounds():
    import tavrin

    BOUNDS.update({name: tavrin.memo_info()[name].bound for name in RESULT_MEMOS})


def set_result_memos(on):
    """Turns tavrin's memos of symbol results on (the bounds remembered) or off (bound 0)."""
    import tavrin

    for name in RESULT_MEMOS:
        tavrin.set_memo_bound(name, BOUNDS[name] if on else 0)


def measure(kind, case, repeats):
    import numpy

    with_tavrin, with_numpy, _ = callables(kind, case)
    difference = float(numpy.max(numpy.abs(with_tavrin() - with_numpy()), initial=0.0))

    def memo_on():
        set_result_memos(True)
        with_tavrin()  # kept: the timed calls are repeats

    def memo_off():
        set_result_memos(False)

    sides = {"memo on": (memo_on, with_tavrin), "memo off": (memo_off, with_tavrin),
             "numpy": (lambda: None, with_numpy)}
    numbers = {}
    for name, (prepare, action) in sides.items():
        prepare()
        numbers[name] = calls_per_repeat(action)
    # Alternate the sides so that the machine's load falls on all alike.
    times = {name: [] for name in sides}
    for _ in range(repeats):
        for name, (prepare, action) in sides.items():
            prepare()
            times[name].append(median_time(action, 1, numbers[name]))
    set_result_memos(True)
    return {name: statistics.median(t) for name, t in times.items()}, difference


def repeated_cases():
    """(kind, case) of small symbols a tensor-network code repeats: a few of the tables' and the
    bond of a spin-1/2 matrix-product state."""
    x, r = x_cases(), r_cases()
    mps = {"name": "MPS (4,1/2,9/2)(9/2,1/2,4), bond", "a": [(8, 1), (1, 1), (9, -1)],
           "b": [(9, 1), (1, 1), (8, -1)], "axes_a": [2], "axes_b": [0]}
    return [("X", x[0]), ("X", x[1]), ("X", x[2]), ("X", mps), ("R", r[0]), ("R", r[6])]


def lru_callables(kind, case):
    import functools

    import tavrin
    from tavrin import Contraction

    if kind == "X":
        arguments = (make_spec(case["a"]), make_spec(case["b"]),
                     Contraction(case["axes_a"], case["axes_b"]))
        function = tavrin.compute_xsymbol
    else:
        arguments = (make_spec(case["edges"]), tuple(case["permutation"]))
        function = tavrin.compute_rsymbol
    kept = functools.lru_cache(maxsize=None)(function)

    def with_tavrin():
        return function(*arguments)

    def with_lru_cache():
        data, spec = kept(*arguments)
        return data.copy(), spec

    return with_tavrin, with_lru_cache


def wall_and_cpu_time(action, number):
    """Seconds per call of `number` calls: elapsed, and the calling thread's CPU time (which a
    machine shared with other processes does not inflate: these calls wait for nothing)."""
    wall, cpu = time.perf_counter(), time.thread_time()
    for _ in range(number):
        action()
    return (time.perf_counter() - wall) / number, (time.thread_time() - cpu) / number


def measure_repeated(kind, case, repeats):
    with_tavrin, with_lru_cache = lru_callables(kind, case)
    set_result_memos(True)
    with_tavrin(), with_lru_cache()
    sides = {"memo": with_tavrin, "lru": with_lru_cache}
    numbers = {name: calls_per_repeat(action) for name, action in sides.items()}
    times = {name: [] for name in sides}
    for _ in range(repeats):
        for name, action in sides.items():
            times[name].append(wall_and_cpu_time(action, numbers[name]))
    return {f"{name}_{clock}": statistics.median(t[k] for t in times[name])
            for name in sides for k, clock in enumerate(("wall", "cpu"))}


def child_measure(args):
    remember_bounds()
    results = []
    for kind, cases in (("X", x_cases()), ("R", r_cases())):
        for case in select(cases, args.quick):
            times, difference = measure(kind, case, args.repeats)
            results.append({"kind": kind, "name": case["name"], "legs": legs(case),
                            "tavrin": times["memo on"], "tavrin_off": times["memo off"],
                            "numpy": times["numpy"], "difference": difference})
    json.dump(results, sys.stdout)


def child_repeated(args):
    remember_bounds()
    results = []
    for kind, case in repeated_cases():
        results.append({"kind": kind, "name": case["name"],
                        **measure_repeated(kind, case, args.repeats)})
    json.dump(results, sys.stdout)


def child_first_call(args):
    """One case in a fresh process: the first tavrin call, then NumPy at its steady state."""
    import numpy  # noqa: F401  (imported before the clock starts, as a user's program would)
    import tavrin

    kind, index = args.first_call.split(":")
    case = (x_cases() if kind == "X" else r_cases())[int(index)]
    if kind == "X":
        a, b = make_spec(case["a"]), make_spec(case["b"])
        contraction = tavrin.Contraction(case["axes_a"], case["axes_b"])
        start = time.perf_counter()
        tavrin.compute_xsymbol(a, b, contraction)
    else:
        spec = make_spec(case["edges"])
        start = time.perf_counter()
        tavrin.compute_rsymbol(spec, case["permutation"])
    first = time.perf_counter() - start
    json.dump({"first": first}, sys.stdout)


def child_peak(args):
    """Peak resident memory of one X-symbol in a fresh process, against its largest basis."""
    import numpy  # noqa: F401  (loaded before the baseline: the symbol comes back as an array)
    import tavrin

    spins = [args.peak_spin] * 3
    a = make_spec(canonical(spins))
    b = make_spec([(args.peak_spin, 1), (args.peak_spin, -1), (args.peak_spin, -1)])
    contraction = tavrin.Contraction([2], [0])
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    start = time.perf_counter()
    x, c = tavrin.compute_xsymbol(a, b, contraction)
    elapsed = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    largest = c.om_dimension() * 8
    for twice in c.get_spins():
        largest *= twice + 1
    json.dump({"before": before, "peak": peak, "largest": largest, "seconds": elapsed},
              sys.stdout)


# The parent: runs the children and prints the tables --------------------------------------------

def select(cases, quick):
    return cases[::3] if quick else cases


def run_child(extra, environment):
    output = subprocess.run([sys.executable, __file__, *extra], env=environment, check=True,
                            capture_output=True, text=True).stdout
    return json.loads(output)


def environment_for(threads, cache):
    environment = dict(os.environ, TAVRIN_CACHE_PATH=cache)
    for variable in BLAS_THREAD_VARIABLES:
        environment.pop(variable, None)
        if threads == "1":
            environment[variable] = "1"
    return environment


def geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def print_ratios(title, rows):
    print(f"\n{title}")
    header = (f"{'':2}{'case':<32}{'legs':>5}{'memo on':>11}{'memo off':>11}{'NumPy':>11}"
              f"{'on/NumPy':>10}{'off/NumPy':>10}{'max |diff|':>12}")
    print(header)
    print("-" * len(header))
    for row in rows:
        print(f"{row['kind']:<2}{row['name']:<32}{row['legs']:>5}{row['tavrin'] * 1e6:>9.2f}us"
              f"{row['tavrin_off'] * 1e6:>9.1f}us{row['numpy'] * 1e6:>9.1f}us"
              f"{row['tavrin'] / row['numpy']:>10.3f}{row['tavrin_off'] / row['numpy']:>10.3f}"
              f"{row['difference']:>12.1e}")
    for kind in ("X", "R", None):
        chosen = [r for r in rows if kind is None or r["kind"] == kind]
        label = {"X": "X-symbols", "R": "R-symbols", None: "all"}[kind]
        for memo, key in (("on", "tavrin"), ("off", "tavrin_off")):
            ratios = [r[key] / r["numpy"] for r in chosen]
            wide = [r[key] / r["numpy"] for r in chosen if r["legs"] >= 6]
            print(f"  {label:<10} memo {memo:<4} geomean {geomean(ratios):.3f}   with 6+ legs "
                  f"{geomean(wide):.3f}   largest {max(ratios):.3f}   ({len(ratios)} cases)")


def print_repeated(repeats, rows):
    print(f"\nA repeated small symbol: tavrin's memo against functools.lru_cache + copy "
          f"(medians of {repeats} repeats; elapsed, and the thread's CPU time)")
    header = (f"{'':2}{'case':<32}{'memo':>11}{'lru + copy':>12}{'ratio':>8}"
              f"{'memo cpu':>11}{'lru cpu':>11}{'ratio':>8}")
    print(header)
    print("-" * len(header))
    for row in rows:
        print(f"{row['kind']:<2}{row['name']:<32}{row['memo_wall'] * 1e6:>9.3f}us"
              f"{row['lru_wall'] * 1e6:>10.3f}us{row['memo_wall'] / row['lru_wall']:>8.3f}"
              f"{row['memo_cpu'] * 1e6:>9.3f}us{row['lru_cpu'] * 1e6:>9.3f}us"
              f"{row['memo_cpu'] / row['lru_cpu']:>8.3f}")
    for kind in ("X", "R"):
        for clock in ("wall", "cpu"):
            ratios = [r[f"memo_{clock}"] / r[f"lru_{clock}"] for r in rows if r["kind"] == kind]
            print(f"  {kind}-symbols {'elapsed' if clock == 'wall' else 'CPU':<8} geomean "
                  f"{geomean(ratios):.3f}   largest {max(ratios):.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--quick", action="store_true", help="every third case only")
    parser.add_argument("--peak-spins", type=int, nargs="*", default=[20, 40],
                        help="2j of the three-edge peak-memory cases")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    parser.add_argument("--first-call", help=argparse.SUPPRESS)
    parser.add_argument("--peak-spin", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child == "measure":
        return child_measure(args)
    if args.child == "repeated":
        return child_repeated(args)
    if args.child == "first":
        return child_first_call(args)
    if args.child == "peak":
        return child_peak(args)

    with tempfile.TemporaryDirectory() as cache:
        passed = ["--repeats", str(args.repeats)] + (["--quick"] if args.quick else [])
        by_threads = {}
        for threads in ("1", "default"):
            by_threads[threads] = run_child(["--child", "measure", *passed],
                                            environment_for(threads, cache))
            print_ratios(f"BLAS threads: {threads} (medians of {args.repeats} repeats)",
                         by_threads[threads])
        print_repeated(args.repeats, run_child(["--child", "repeated", *passed],
                                               environment_for("1", cache)))

        print("\nFirst call in a fresh process (database warm, in-process store empty)")
        header = f"{'':2}{'case':<32}{'first call':>12}{'NumPy':>12}{'ratio':>9}"
        print(header)
        print("-" * len(header))
        steady = {(r["kind"], r["name"]): r["numpy"] for r in by_threads["1"]}
        firsts = []
        for kind, cases in (("X", x_cases()), ("R", r_cases())):
            for index, case in enumerate(cases):
                if case not in select(cases, args.quick):
                    continue
                first = run_child(["--child", "first", "--first-call", f"{kind}:{index}"],
                                  environment_for("1", cache))["first"]
                numpy_time = steady[(kind, case["name"])]
                firsts.append(first / numpy_time)
                print(f"{kind:<2}{case['name']:<32}{first * 1e6:>10.1f}us"
                      f"{numpy_time * 1e6:>10.1f}us{first / numpy_time:>9.2f}")
        print(f"  geomean {geomean(firsts):.3f}   largest {max(firsts):.3f}")

        print("\nPeak resident memory of compute_xsymbol, three edges over one pair")
        header = (f"{'2j':>4}{'cache':>7}{'largest basis':>15}{'peak growth':>13}{'ratio':>8}"
                  f"{'time':>10}")
        print(header)
        print("-" * len(header))
        for spin in args.peak_spins:
            with tempfile.TemporaryDirectory() as fresh:
                for label, directory in (("cold", fresh), ("hit", fresh)):
                    peak = run_child(["--child", "peak", "--peak-spin", str(spin)],
                                     environment_for("1", directory))
                    growth = peak["peak"] - peak["before"]
                    print(f"{spin:>4}{label:>7}{peak['largest'] / 2**20:>12.1f}MiB"
                          f"{growth / 2**20:>10.1f}MiB{growth / peak['largest']:>8.2f}"
                          f"{peak['seconds']:>9.2f}s")


if __name__ == "__main__":
    main()
