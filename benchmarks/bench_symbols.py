"""Times canonical bases (cold and warm cache), X-symbols and R-symbols on a fixed grid.

Run after `pip install .`:  python benchmarks/bench_symbols.py [--repeats N]
Each cold measurement uses a fresh, empty cache directory and a fresh process state is not
required: the cold time includes building the basis and storing it.
"""

import argparse
import os
import statistics
import tempfile
import time

import tavrin
from tavrin import CGSpec, Contraction, Edge, Spin


def spec(spins):
    """Canonical direction pattern: all incoming but the last edge."""
    edges = [Edge.incoming(Spin(s)) for s in spins[:-1]] + [Edge.outgoing(Spin(spins[-1]))]
    return CGSpec.from_edges(edges)


def grid():
    cases = [(f"{n} x spin 1/2", [1] * n) for n in (4, 6, 8, 10)]
    cases += [(f"{n} x spin 1", [2] * n) for n in (3, 4, 5, 6)]
    cases += [(f"3 edges 2j={s}", [s, s, s]) for s in (10, 20, 40)]
    return cases


def median_time(action, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def cold_basis(spins, repeats):
    times = []
    for _ in range(repeats):
        with tempfile.TemporaryDirectory() as directory:
            os.environ["TAVRIN_CACHE_PATH"] = directory
            s = spec(spins)
            start = time.perf_counter()
            tavrin.canonical_basis(s)
            times.append(time.perf_counter() - start)
    return statistics.median(times)


def symbol_inputs(spins):
    """A contraction of A's last half with the first half of its mirror image B (so C has as
    many edges as A), and the exchange of the first two edges."""
    a = spec(spins)
    n = len(spins)
    k = max(1, n // 2)
    mirrored = list(reversed(spins))
    edges_b = [Edge.incoming(Spin(s)) for s in mirrored[:-1]] + [Edge.outgoing(Spin(mirrored[-1]))]
    # B's first k edges must pair with A's last k edges in reverse order: the same spins.
    b = CGSpec.from_edges(edges_b)
    contraction = Contraction(list(range(n - 1, n - 1 - k, -1)), list(range(k)))
    permutation = [1, 0] + list(range(2, n))
    return a, b, contraction, permutation


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()

    header = f"{'specification':<18}{'elements':>12}{'om_dim':>8}{'cold basis':>13}{'warm basis':>13}{'X-symbol':>13}{'R-symbol':>13}"
    print(header)
    print("-" * len(header))
    with tempfile.TemporaryDirectory() as warm_directory:
        for name, spins in grid():
            cold = cold_basis(spins, args.repeats)
            os.environ["TAVRIN_CACHE_PATH"] = warm_directory
            s = spec(spins)
            basis = tavrin.canonical_basis(s)
            warm = median_time(lambda: tavrin.canonical_basis(s), args.repeats)
            a, b, contraction, permutation = symbol_inputs(spins)
            tavrin.compute_xsymbol(a, b, contraction)  # fill the cache for C
            tavrin.compute_rsymbol(s, permutation)
            x = median_time(lambda: tavrin.compute_xsymbol(a, b, contraction), args.repeats)
            r = median_time(lambda: tavrin.compute_rsymbol(s, permutation), args.repeats)
            print(
                f"{name:<18}{basis.size:>12}{s.om_dimension():>8}"
                f"{cold * 1e3:>11.3f}ms{warm * 1e3:>11.3f}ms{x * 1e3:>11.3f}ms{r * 1e3:>11.3f}ms"
            )


if __name__ == "__main__":
    main()
