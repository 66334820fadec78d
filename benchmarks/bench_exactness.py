"""X- and R-symbols of both methods against their exact values.

Run after `pip install .` and `pip install -r benchmarks/requirements-exactness.txt`:

    python benchmarks/bench_exactness.py [--quick] [--seed N]

The exact values do not come from tavrin's bases: every canonical-basis entry is a product of
Clebsch-Gordan coefficients, each of the form sign * sqrt(rational), computed here from Racah's
formula in integer arithmetic (and checked against sympy's exact coefficients at the start).
A symbol entry is the plain dense sum of products of such entries; each product is
sign * sqrt(rational), exactly, and the sum is taken in fixed point with every square root
to 200 bits: exact for any figure printed here.

The table of symbols holds the MPS family (A = (j in, 1/2 in, k out), B = (k in, 1/2 in, j' out)
over one pair), two MPO families (3-edge x 4-edge over one pair), and random R- and X-symbols up
to 10 edges with 2j <= 12, every direction pattern. For each method and family it prints the
number of non-zero exact entries, the mean signed relative error (computed - exact) / exact,
the largest error in units in the last place, the share of correctly rounded entries, and the
entries whose exact value is zero but whose computed value is not. A second table checks
relations that hold exactly, which a code relies on when it builds a Hermitian operator or an
orthogonal change of basis from symbols: the symbols of conjugate specifications, and R R^T = 1.
"""

import argparse
import collections
import itertools
import math
import os
import random
import sys
import tempfile
from fractions import Fraction

PRECISION_BITS = 200


# Exact Clebsch-Gordan coefficients -------------------------------------------------------------
# All quantum numbers doubled. A coefficient is (sign, square) with value sign * sqrt(square).

def _factorial(n):
    return math.factorial(n) if n >= 0 else None


_CG = {}


def clebsch_gordan(j1, m1, j2, m2, j, m):
    """<j1/2 m1/2; j2/2 m2/2 | j/2 m/2> as (sign, square); (0, 0) when it vanishes."""
    key = (j1, m1, j2, m2, j, m)
    if key in _CG:
        return _CG[key]
    result = (0, Fraction(0))
    if (m1 + m2 == m and (j1 + j2 + j) % 2 == 0 and abs(j1 - j2) <= j <= j1 + j2
            and abs(m1) <= j1 and abs(m2) <= j2 and abs(m) <= j):
        a = (j1 + j2 - j) // 2
        b = (j1 - j2 + j) // 2
        c = (-j1 + j2 + j) // 2
        delta = Fraction(math.factorial(a) * math.factorial(b) * math.factorial(c),
                         math.factorial((j1 + j2 + j) // 2 + 1))
        prefactor = (j + 1) * math.prod(math.factorial(x) for x in (
            (j + m) // 2, (j - m) // 2, (j1 - m1) // 2, (j1 + m1) // 2, (j2 - m2) // 2,
            (j2 + m2) // 2))
        total = Fraction(0)
        t1, t2 = (j1 - m1) // 2, (j2 + m2) // 2
        p1, p2 = (m1 + j - j2) // 2, (j - j1 - m2) // 2
        for k in range(max(0, -p1, -p2), min(a, t1, t2) + 1):
            denominator = math.prod(math.factorial(x) for x in (
                k, a - k, t1 - k, t2 - k, k + p1, k + p2))
            total += Fraction((-1) ** k, denominator)
        if total != 0:
            result = (1 if total > 0 else -1, delta * prefactor * total * total)
    _CG[key] = result
    return result


def check_against_sympy(rng, count=200):
    """Our Racah evaluation against sympy's exact coefficients on random arguments."""
    from sympy import Rational, S
    from sympy.physics.wigner import clebsch_gordan as sympy_cg

    for _ in range(count):
        j1, j2 = rng.randint(0, 12), rng.randint(0, 12)
        j = rng.randrange(abs(j1 - j2), j1 + j2 + 1, 2)
        m1 = rng.randrange(-j1, j1 + 1, 2)
        m2 = rng.randrange(-j2, j2 + 1, 2)
        if abs(m1 + m2) > j:
            continue
        sign, square = clebsch_gordan(j1, m1, j2, m2, j, m1 + m2)
        exact = sympy_cg(Rational(j1, 2), Rational(j2, 2), Rational(j, 2),
                         Rational(m1, 2), Rational(m2, 2), Rational(m1 + m2, 2))
        expected = S(exact)
        assert (expected ** 2 == Rational(square.numerator, square.denominator)
                and (expected > 0) == (sign > 0) and (expected == 0) == (sign == 0)), (
            j1, m1, j2, m2, j)


# Exact canonical bases -------------------------------------------------------------------------

def configurations(spins):
    n = len(spins)
    if n <= 2:
        return [()]
    found = []

    def walk(path, k, p):
        if p == n - 1:
            if k == spins[-1]:
                found.append(tuple(path))
            return
        for nxt in range(abs(k - spins[p]), k + spins[p] + 1, 2):
            walk(path + [nxt], nxt, p + 1)

    for k1 in range(abs(spins[0] - spins[1]), spins[0] + spins[1] + 1, 2):
        if n == 3:
            if k1 == spins[2]:
                found.append((k1,))
        else:
            walk([k1], k1, 2)
    return found


_BASES = {}


def exact_basis(edges):
    """{m tuple (doubled): [(a, sign, square), ...]} of the canonical basis of the edges
    ((2j, +1 in / -1 out) each), non-zero entries only."""
    key = tuple(edges)
    if key in _BASES:
        return _BASES[key]
    spins = [s for s, _ in edges]
    n = len(spins)
    entries = collections.defaultdict(list)
    norm = Fraction(1, spins[-1] + 1)
    for a, config in enumerate(configurations(spins)):
        if n == 2:
            for m in range(-spins[0], spins[0] + 1, 2):
                entries[(m, m)].append((a, 1, norm))
            continue
        for ms in itertools.product(*[range(-s, s + 1, 2) for s in spins[:-1]]):
            sign, square, mu = 1, norm, ms[0]
            for p in range(1, n - 1):
                k_before = spins[0] if p == 1 else config[p - 2]
                k_after = config[p - 1]
                s, q = clebsch_gordan(k_before, mu, spins[p], ms[p], k_after, mu + ms[p])
                if s == 0:
                    break
                sign, square, mu = sign * s, square * q, mu + ms[p]
            else:
                entries[ms + (mu,)].append((a, sign, square))
    # Edges out of the canonical pattern: X'[..., m, ...] = (-1)^(j - m) X[..., -m, ...].
    for position, (s, direction) in enumerate(edges):
        if direction == (1 if position + 1 < n else -1):
            continue
        flipped = collections.defaultdict(list)
        for ms, items in entries.items():
            m = ms[position]
            phase = -1 if ((s + m) // 2) % 2 else 1  # X'[-m] = (-1)^(j + m) X[m]
            reflected = ms[:position] + (-m,) + ms[position + 1:]
            flipped[reflected] = [(a, sign * phase, q) for a, sign, q in items]
        entries = flipped
    _BASES[key] = dict(entries)
    return _BASES[key]


_ROOTS = {}


def fixed_root(square):
    """floor(sqrt(square) * 2^PRECISION_BITS)."""
    root = _ROOTS.get(square)
    if root is None:
        root = math.isqrt(square.numerator * 4 ** PRECISION_BITS // square.denominator)
        _ROOTS[square] = root
    return root


def exact_values(terms, shape):
    """{flat index: Fraction} from {flat index: {square: summed sign}}."""
    values = {}
    for index, by_square in terms.items():
        total = sum(count * fixed_root(q) for q, count in by_square.items() if count)
        values[index] = Fraction(total, 2 ** PRECISION_BITS)
    return values


def exact_rsymbol(edges, permutation):
    basis = exact_basis(edges)
    permuted_edges = [edges[p] for p in permutation]
    permuted = exact_basis(permuted_edges)
    om_p = len(configurations([s for s, _ in permuted_edges]))
    terms = collections.defaultdict(lambda: collections.defaultdict(int))
    for ms, items in basis.items():
        for b, sign_b, q_b in permuted.get(tuple(ms[p] for p in permutation), ()):
            for a, sign_a, q_a in items:
                terms[a * om_p + b][q_a * q_b] += sign_a * sign_b
    return exact_values(terms, None)


def exact_xsymbol(edges_a, edges_b, axes_a, axes_b):
    basis_a, basis_b = exact_basis(edges_a), exact_basis(edges_b)
    free_a = [i for i in range(len(edges_a)) if i not in axes_a]
    free_b = [i for i in range(len(edges_b)) if i not in axes_b]
    edges_c = [edges_a[i] for i in free_a] + [edges_b[i] for i in free_b]
    basis_c = exact_basis(edges_c)
    om_b = len(configurations([s for s, _ in edges_b]))
    om_c = len(configurations([s for s, _ in edges_c]))
    by_pairs = collections.defaultdict(list)
    for ms, items in basis_b.items():
        by_pairs[tuple(ms[i] for i in axes_b)].append((ms, items))
    terms = collections.defaultdict(lambda: collections.defaultdict(int))
    for ms_a, items_a in basis_a.items():
        for ms_b, items_b in by_pairs.get(tuple(ms_a[i] for i in axes_a), ()):
            ms_c = tuple(ms_a[i] for i in free_a) + tuple(ms_b[i] for i in free_b)
            items_c = basis_c.get(ms_c)
            if not items_c:
                continue
            for a, sign_a, q_a in items_a:
                for b, sign_b, q_b in items_b:
                    q_ab, sign_ab = q_a * q_b, sign_a * sign_b
                    for c, sign_c, q_c in items_c:
                        terms[(a * om_b + b) * om_c + c][q_ab * q_c] += sign_ab * sign_c
    return exact_values(terms, None)


# The table of symbols --------------------------------------------------------------------------

def canonical(spins):
    return [(s, 1) for s in spins[:-1]] + [(spins[-1], -1)]


def mps_family(max_twice):
    """A = (j in, 1/2 in, k out), B = (k in, 1/2 in, j' out), A's k paired with B's."""
    cases = []
    for j in range(0, max_twice + 1):
        for k in (j - 1, j + 1):
            if k < 0 or k > max_twice:
                continue
            for j2 in (k - 1, k + 1):
                if 0 <= j2 <= max_twice:
                    cases.append(("x", [(j, 1), (1, 1), (k, -1)], [(k, 1), (1, 1), (j2, -1)],
                                  [2], [0]))
    return cases


def mpo_families(max_twice, rng, count):
    """3-edge x 4-edge over one pair: an MPS tensor (j in, 1/2 in, k out) with an MPO tensor
    (w in, 1/2 in, 1/2 out, w' out) over the physical edge (w, w' in {0, 1}), and with an
    environment (k' in, w in, k out, ...) over the bond edge."""
    cases = []
    for _ in range(count):
        j = rng.randint(0, max_twice)
        k = j + rng.choice((-1, 1)) if j > 0 else 1
        if k > max_twice:
            k = j - 1
        w, w2 = rng.choice([(0, 2), (2, 0), (2, 2)])
        a = [(j, 1), (1, 1), (k, -1)]
        mpo = [(w, 1), (1, -1), (1, 1), (w2, -1)]
        cases.append(("x", a, mpo, [1], [1]))
        # An environment-like (k in, w in, 1/2 in, k2 out) over A's bond edge k.
        k2 = rng.choice([x for x in range(abs(k - w) - 1, k + w + 2, 2)
                         if 0 <= x <= max_twice and admits([k, w, 1, x])])
        cases.append(("x", a, [(k, 1), (w, 1), (1, 1), (k2, -1)], [2], [0]))
    return cases


def admits(spins):
    """Whether edges of these doubled spins couple to 0."""
    return sum(spins) % 2 == 0 and 2 * max(spins, default=0) <= sum(spins)


def coupled_spins(n, max_twice, rng):
    for _ in range(50):
        spins, k = [], 0
        for _ in range(n - 1):
            s = rng.randint(0, max_twice)
            spins.append(s)
            k = rng.randrange(abs(k - s), k + s + 1, 2)
        if k <= max_twice:
            return spins + [k]
    return None


def basis_size(spins):
    return len(configurations(spins)) * math.prod(s + 1 for s in spins)


def random_edges(spins, rng):
    return [(s, rng.choice((1, -1))) for s in spins]


def random_rsymbols(rng, count, max_size):
    cases = []
    while len(cases) < count:
        n = rng.randint(2, 10)
        spins = coupled_spins(n, 12 if n <= 4 else (4 if n <= 6 else 2), rng)
        if spins is None or basis_size(spins) > max_size:
            continue
        permutation = list(range(n))
        rng.shuffle(permutation)
        cases.append(("r", random_edges(spins, rng), permutation))
    return cases


def random_xsymbols(rng, count, max_size, opposite_only):
    cases = []
    while len(cases) < count:
        n_a = rng.randint(2, 6)
        spins_a = coupled_spins(n_a, 12 if n_a <= 3 else 4, rng)
        if spins_a is None:
            continue
        edges_a = random_edges(spins_a, rng)
        k = rng.randint(1, n_a)
        axes_a = rng.sample(range(n_a), k)
        paired = [(edges_a[i][0], -edges_a[i][1] if opposite_only else rng.choice((1, -1)))
                  for i in axes_a]
        extra = [(s, rng.choice((1, -1))) for s in
                 (rng.randint(0, 4) for _ in range(rng.randint(0, 3)))]
        edges_b = paired + extra
        order = list(range(len(edges_b)))
        rng.shuffle(order)
        placed = [None] * len(edges_b)
        for source, target in enumerate(order):
            placed[target] = edges_b[source]
        axes_b = order[:k]
        spins_b = [s for s, _ in placed]
        free = [edges_a[i][0] for i in range(n_a) if i not in axes_a] + [
            placed[i][0] for i in range(len(placed)) if i not in axes_b]
        if len(placed) < 2 or len(free) < 2 or not admits(spins_b) or not admits(free):
            continue
        if max(basis_size(spins_a), basis_size(spins_b), basis_size(free)) > max_size:
            continue
        cases.append(("x", edges_a, placed, axes_a, axes_b))
    return cases


def symbol_table(rng, quick):
    scale = 4 if quick else 1
    return {
        "MPS 3x3, one pair, 2j<=60": mps_family(60)[::scale],
        "MPO 3x4, one pair, 2j<=60": mpo_families(60, rng, 120 // scale),
        "random R, <=10 edges, 2j<=12": random_rsymbols(rng, 160 // scale, 1 << 15),
        "random X, opposite pairs": random_xsymbols(rng, 120 // scale, 1 << 13, True),
        "random X, any pairs": random_xsymbols(rng, 60 // scale, 1 << 13, False),
    }


# Measuring -------------------------------------------------------------------------------------

def tavrin_symbol(case, method):
    import tavrin
    from tavrin import CGSpec, Contraction, Edge, Spin

    def spec(edges):
        return CGSpec.from_edges([Edge.incoming(Spin(s)) if d > 0 else Edge.outgoing(Spin(s))
                                  for s, d in edges])

    if case[0] == "r":
        return tavrin.compute_rsymbol(spec(case[1]), case[2], method=method)[0].ravel()
    _, a, b, axes_a, axes_b = case
    return tavrin.compute_xsymbol(spec(a), spec(b), Contraction(axes_a, axes_b),
                                  method=method)[0].ravel()


def conjugated(case):
    """The same symbol of the conjugate specifications (every direction reversed)."""
    flip = lambda edges: [(s, -d) for s, d in edges]  # noqa: E731
    if case[0] == "r":
        return ("r", flip(case[1]), case[2])
    return ("x", flip(case[1]), flip(case[2]), case[3], case[4])


def conjugation_phase(case):
    """The product of the phases of compute_conjugate of the specifications of the symbol: the
    symbol of the conjugates is this phase times the symbol (canonical_basis(conjugate) =
    phase * canonical_basis(spec) for each)."""
    import tavrin
    from tavrin import CGSpec, Contraction, Edge, Spin

    def spec(edges):
        return CGSpec.from_edges([Edge.incoming(Spin(s)) if d > 0 else Edge.outgoing(Spin(s))
                                  for s, d in edges])

    if case[0] == "r":
        first = spec(case[1])
        _, second = tavrin.compute_rsymbol(first, case[2])
        specs = [first, second]
    else:
        a, b = spec(case[1]), spec(case[2])
        _, c = tavrin.compute_xsymbol(a, b, Contraction(case[3], case[4]))
        specs = [a, b, c]
    return math.prod(tavrin.compute_conjugate(s)[0] for s in specs)


class Consistency:
    """How far a method's symbols keep relations that hold exactly: the symbol of the
    conjugate specifications is the phase times the symbol, and R R^T = 1."""

    def __init__(self):
        self.entries = 0
        self.conjugate_mismatches = 0
        self.r_matrices = 0
        self.largest_defect = Fraction(0)
        self.diagonal_defect_sum = Fraction(0)
        self.diagonal_entries = 0

    def add(self, case, method):
        values = tavrin_symbol(case, method)
        conjugate = tavrin_symbol(conjugated(case), method)
        phase = conjugation_phase(case)
        self.entries += len(values)
        self.conjugate_mismatches += sum(1 for x, y in zip(values, conjugate) if y != phase * x)
        if case[0] == "r":
            n = round(math.sqrt(len(values)))
            rows = [[Fraction(float(v)) for v in values[i * n:(i + 1) * n]] for i in range(n)]
            self.r_matrices += 1
            for i in range(n):
                for j in range(n):
                    defect = sum(x * y for x, y in zip(rows[i], rows[j])) - (i == j)
                    self.largest_defect = max(self.largest_defect, abs(defect))
                    if i == j:
                        self.diagonal_defect_sum += defect
                        self.diagonal_entries += 1

    def row(self):
        mean = (float(self.diagonal_defect_sum / self.diagonal_entries)
                if self.diagonal_entries else 0.0)
        share = self.conjugate_mismatches / self.entries if self.entries else 0.0
        return (f"{self.conjugate_mismatches:>10}{share:>9.1%}{float(self.largest_defect):>13.2e}"
                f"{mean:>13.2e}")


def exact_symbol(case):
    if case[0] == "r":
        return exact_rsymbol(case[1], case[2])
    return exact_xsymbol(*case[1:])


ZERO = Fraction(1, 2 ** (PRECISION_BITS - 40))


class Figures:
    def __init__(self):
        self.nonzero = 0
        self.relative_sum = Fraction(0)
        self.largest_ulps = 0.0
        self.correctly_rounded = 0
        self.residues = 0
        self.largest_residue = 0.0

    def add(self, computed, exact):
        for index, value in enumerate(computed):
            value = float(value)
            truth = exact.get(index, Fraction(0))
            if abs(truth) < ZERO:
                if value != 0.0:
                    self.residues += 1
                    self.largest_residue = max(self.largest_residue, abs(value))
                continue
            self.nonzero += 1
            error = Fraction(value) - truth
            self.relative_sum += error / truth
            self.largest_ulps = max(self.largest_ulps,
                                    float(abs(error) / Fraction(math.ulp(float(truth)))))
            self.correctly_rounded += value == float(truth)

    def merge(self, other):
        for name in ("nonzero", "relative_sum", "correctly_rounded", "residues"):
            setattr(self, name, getattr(self, name) + getattr(other, name))
        self.largest_ulps = max(self.largest_ulps, other.largest_ulps)
        self.largest_residue = max(self.largest_residue, other.largest_residue)

    def row(self):
        mean = float(self.relative_sum / self.nonzero) if self.nonzero else 0.0
        share = self.correctly_rounded / self.nonzero if self.nonzero else 1.0
        return (f"{self.nonzero:>8}{mean:>14.2e}{self.largest_ulps:>10.2f}{share:>10.1%}"
                f"{self.residues:>10}{self.largest_residue:>11.1e}")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a quarter of the table")
    parser.add_argument("--seed", type=int, default=2024)
    args = parser.parse_args()
    os.environ.setdefault("TAVRIN_CACHE_PATH", tempfile.mkdtemp(prefix="tavrin-exactness-"))
    rng = random.Random(args.seed)
    check_against_sympy(rng)

    table = symbol_table(rng, args.quick)
    print(f"{sum(len(c) for c in table.values())} symbols; error of each non-zero entry against "
          "its exact value")
    header = (f"{'family':<32}{'method':<12}{'symbols':>8}{'entries':>8}{'mean rel.':>14}"
              f"{'max ulp':>10}{'c. round.':>10}{'residues':>10}{'largest':>11}")
    print(header)
    print("-" * len(header))
    totals = {"dense": Figures(), "recoupling": Figures()}
    for family, cases in table.items():
        figures = {"dense": Figures(), "recoupling": Figures()}
        for case in cases:
            exact = exact_symbol(case)
            for method, collected in figures.items():
                collected.add(tavrin_symbol(case, method), exact)
        for method, collected in figures.items():
            print(f"{family:<32}{method:<12}{len(cases):>8}{collected.row()}", flush=True)
            totals[method].merge(collected)
    print("-" * len(header))
    count = sum(len(c) for c in table.values())
    for method, collected in totals.items():
        print(f"{'all':<32}{method:<12}{count:>8}{collected.row()}")
    print("\nmean rel.: mean of (computed - exact) / exact; max ulp: largest |computed - exact| "
          "in units in the last place of the exact value; c. round.: share of entries equal "
          "to the exact value rounded to the nearest double; residues: entries whose exact "
          "value is 0 but computed value is not, and the largest of them.")

    print("\nRelations that hold exactly: the symbol of the conjugate specifications against "
          "the phase times the symbol, entry by entry; R R^T - 1 of the R-symbols, in exact "
          "arithmetic on the returned doubles")
    header = (f"{'family':<32}{'method':<12}{'conj. diff':>10}{'share':>9}{'max |RRt-1|':>13}"
              f"{'mean diag-1':>13}")
    print(header)
    print("-" * len(header))
    for family, cases in table.items():
        for method in ("dense", "recoupling"):
            consistency = Consistency()
            for case in cases:
                consistency.add(case, method)
            print(f"{family:<32}{method:<12}{consistency.row()}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
