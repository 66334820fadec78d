"""X- and R-symbols: the dense method against recoupling, side by side.

Run after `pip install .`:  python benchmarks/bench_recoupling.py [--max-dense-n 16] [--quick]

The first table times both methods warm (the bases in the process's store, both plans kept) on
the cases of bench_symbols.py and on the cases tensor-network codes call most, in one process:
the median of interleaved repeats of each, and their ratio, with the memo of symbol results off
(each call of either method does its sums) and on (a repeated call is a copy of its first
result, the dense method's bases still fetched from the store).

The second table is the R-symbol of a spin-1/2 chain: the CGSpec of the total-spin-0 sector of
N spins 1/2 has N incoming spin-1/2 edges and one outgoing spin-0 edge; its OM dimension is the
Catalan number C(N/2). The symbol timed is the R-symbol of the exchange of the two middle sites.
Each (method, N) runs in a fresh child process so that its peak memory is its own: the dense
method twice (cold: empty cache, the basis is built and stored; warm: the second call, served
from the cache), the recoupling method as the median of several calls. The ratio is warm dense
over recoupling, the dense method's best case. The memo of symbol results is off in these
children: every call computes.

The third table joins two chains: A has n incoming spins 1/2 and an outgoing spin 1, B an
incoming spin 1 and n outgoing spins 1/2; the X-symbol contracts A's spin 1 with B's.
"""

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

SCRIPT = os.path.abspath(__file__)


def singlet_sector(tavrin, n):
    half = tavrin.Spin(1)
    edges = [tavrin.Edge.incoming(half)] * n + [tavrin.Edge.outgoing(tavrin.Spin(0))]
    return tavrin.CGSpec.from_edges(edges)


def middle_exchange(n):
    permutation = list(range(n + 1))
    i = n // 2 - 1
    permutation[i], permutation[i + 1] = permutation[i + 1], permutation[i]
    return permutation


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def joined_chains(tavrin, n):
    half, one = tavrin.Spin(1), tavrin.Spin(2)
    a = tavrin.CGSpec.from_edges([tavrin.Edge.incoming(half)] * n + [tavrin.Edge.outgoing(one)])
    b = tavrin.CGSpec.from_edges([tavrin.Edge.incoming(one)] + [tavrin.Edge.outgoing(half)] * n)
    return a, b, tavrin.Contraction([n], [0])


def small_cases():
    """(name, legs, kind, arguments) of the side-by-side table, as (2j, +1 in / -1 out) edges."""
    import bench_symbols

    cases = []
    for case in bench_symbols.x_cases():
        cases.append((case["name"], bench_symbols.legs(case), "X",
                      (case["a"], case["b"], case["axes_a"], case["axes_b"])))
    for case in bench_symbols.r_cases():
        cases.append((case["name"], bench_symbols.legs(case), "R",
                      (case["edges"], case["permutation"])))
    # The cases tensor-network codes call most.
    mps = ([(8, 1), (1, 1), (9, -1)], [(9, 1), (1, 1), (8, -1)], [2], [0])
    cases.append(("MPS (4,1/2,9/2)(9/2,1/2,4), bond", 6, "X", mps))
    mpo = ([(8, 1), (1, 1), (9, -1)], [(2, 1), (1, -1), (1, 1), (2, -1)], [1], [1])
    cases.append(("MPS x MPO (1,1/2,1/2,1), physical", 7, "X", mpo))
    five_four = ([(1, 1), (1, 1), (2, 1), (1, -1), (1, -1)], [(1, 1), (1, 1), (2, 1), (2, -1)],
                 [3, 4, 2], [0, 1, 3])
    cases.append(("5 x 4 legs, 3 pairs", 9, "X", five_four))
    cases.append(("8 x 1/2, cycled", 8, "R", ([(1, 1)] * 8, [1, 2, 3, 4, 5, 6, 7, 0])))
    return cases


def small_callables(case):
    import tavrin
    from bench_symbols import make_spec

    _, _, kind, arguments = case
    if kind == "X":
        a, b = make_spec(arguments[0]), make_spec(arguments[1])
        contraction = tavrin.Contraction(arguments[2], arguments[3])
        return [lambda method=method: tavrin.compute_xsymbol(a, b, contraction, method=method)
                for method in ("dense", "recoupling")]
    spec, permutation = make_spec(arguments[0]), arguments[1]
    return [lambda method=method: tavrin.compute_rsymbol(spec, permutation, method=method)
            for method in ("dense", "recoupling")]


def side_by_side(repeats, quick, only):
    import numpy
    from bench_symbols import calls_per_repeat, median_time, remember_bounds, set_result_memos

    os.environ["TAVRIN_CACHE_PATH"] = tempfile.mkdtemp(prefix="tavrin-bench-recoupling-")
    remember_bounds()
    print(f"{'':39}{'memo off':^34}{'memo on':^24}")
    header = (f"{'case':<34}{'legs':>5}{'dense us':>11}{'recoupling us':>15}{'ratio':>8}"
              f"{'dense us':>11}{'recoupling us':>15}{'max diff':>10}")
    print(header)
    print("-" * len(header))
    ratios = []
    cases = [c for c in small_cases() if only is None or only in c[0]]
    for case in cases[::3] if quick else cases:
        dense, recoupled = small_callables(case)
        difference = float(numpy.max(numpy.abs(dense()[0] - recoupled()[0]), initial=0.0))
        # (memo on, action): dense and recoupling with the memo off, then on.
        sides = [(False, dense), (False, recoupled), (True, dense), (True, recoupled)]
        numbers = []
        for memo, action in sides:
            set_result_memos(memo)
            if memo:
                action()  # the timed calls are repeats
            numbers.append(calls_per_repeat(action))
        times = [[] for _ in sides]
        for _ in range(repeats):  # interleaved, so that the machine's load falls on all alike
            for side, (memo, action) in enumerate(sides):
                set_result_memos(memo)
                if memo:
                    action()  # turning the memo off emptied it
                times[side].append(median_time(action, 1, numbers[side]))
        t_dense, t_recoupled, t_dense_memo, t_recoupled_memo = (statistics.median(t)
                                                                for t in times)
        ratios.append(t_recoupled / t_dense)
        print(f"{case[0]:<34}{case[1]:>5}{t_dense * 1e6:>11.2f}{t_recoupled * 1e6:>15.2f}"
              f"{ratios[-1]:>8.2f}{t_dense_memo * 1e6:>11.2f}{t_recoupled_memo * 1e6:>15.2f}"
              f"{difference:>10.1e}", flush=True)
    print(f"{'largest ratio (memo off)':<50}{max(ratios):>15.2f}")
    print()


def child(symbol, method, n, repeats):
    """Runs in the child process: prints one JSON line with the timings and the peak memory."""
    import tavrin

    for name in ("xsymbol_results", "rsymbol_results"):  # every call computes
        tavrin.set_memo_bound(name, 0)

    if symbol == "r":
        spec = singlet_sector(tavrin, n)
        permutation = middle_exchange(n)
        result = {"om": spec.om_dimension()}

        def compute(**method_keyword):
            return tavrin.compute_rsymbol(spec, permutation, **method_keyword)
    else:
        a, b, contraction = joined_chains(tavrin, n)
        _, c = tavrin.compute_xsymbol(a, b, contraction, method="recoupling")
        result = {"om": [a.om_dimension(), b.om_dimension(), c.om_dimension()]}

        def compute(**method_keyword):
            return tavrin.compute_xsymbol(a, b, contraction, **method_keyword)

    if method == "dense":
        with tempfile.TemporaryDirectory() as directory:
            os.environ["TAVRIN_CACHE_PATH"] = directory
            result["cold"] = timed(compute)
            result["warm"] = statistics.median(timed(compute) for _ in range(repeats))
    else:
        result["time"] = statistics.median(
            timed(lambda: compute(method="recoupling")) for _ in range(repeats))
    result["peak_mib"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(json.dumps(result))


def measure(symbol, method, n, repeats):
    output = subprocess.run(
        [sys.executable, SCRIPT, "--child", symbol, method, str(n), str(repeats)],
        check=True, capture_output=True, text=True).stdout
    return json.loads(output.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--max-dense-n", type=int, default=16)
    parser.add_argument("--max-n", type=int, default=18)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--max-dense-x-n", type=int, default=6)
    parser.add_argument("--max-x-n", type=int, default=8)
    parser.add_argument("--quick", action="store_true", help="a third of the first table")
    parser.add_argument("--only", help="only the cases of the first table whose name has this")
    parser.add_argument("--first-table-only", action="store_true")
    parser.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], args.child[1], int(args.child[2]), int(args.child[3]))
        return
    side_by_side(args.repeats, args.quick, args.only)
    if args.first_table_only:
        return

    header = (f"{'N':>3}{'om_dim':>8}{'2^N':>9}{'dense cold s':>14}{'dense warm s':>14}"
              f"{'dense MiB':>11}{'recoupling s':>14}{'recoup. MiB':>13}{'warm/recoup.':>14}"
              f"{'recoup./om':>12}")
    print(header)
    print("-" * len(header))
    for n in range(4, args.max_n + 1, 2):
        fast = measure("r", "recoupling", n, args.repeats)
        dense = None
        if n <= args.max_dense_n:
            dense = measure("r", "dense", n, 1 if n >= 16 else 3)
        cells = [f"{n:>3}", f"{fast['om']:>8}", f"{2 ** n:>9}"]
        if dense:
            cells += [f"{dense['cold']:>14.4g}", f"{dense['warm']:>14.4g}",
                      f"{dense['peak_mib']:>11.0f}"]
        else:
            cells += [f"{'-':>14}", f"{'-':>14}", f"{'-':>11}"]
        cells += [f"{fast['time']:>14.4g}", f"{fast['peak_mib']:>13.0f}"]
        cells.append(f"{dense['warm'] / fast['time']:>14.0f}" if dense else f"{'-':>14}")
        cells.append(f"{fast['time'] / fast['om'] * 1e6:>10.2f}us")
        print("".join(cells), flush=True)

    print()
    header = (f"{'n':>3}{'om a, b, c':>18}{'dense cold s':>14}{'dense warm s':>14}"
              f"{'recoupling s':>14}{'warm/recoup.':>14}")
    print(header)
    print("-" * len(header))
    for n in range(2, args.max_x_n + 1, 2):
        fast = measure("x", "recoupling", n, args.repeats)
        dense = measure("x", "dense", n, 3) if n <= args.max_dense_x_n else None
        cells = [f"{n:>3}", f"{str(fast['om']):>18}"]
        if dense:
            cells += [f"{dense['cold']:>14.4g}", f"{dense['warm']:>14.4g}"]
        else:
            cells += [f"{'-':>14}", f"{'-':>14}"]
        cells.append(f"{fast['time']:>14.4g}")
        cells.append(f"{dense['warm'] / fast['time']:>14.0f}" if dense else f"{'-':>14}")
        print("".join(cells), flush=True)


if __name__ == "__main__":
    main()
