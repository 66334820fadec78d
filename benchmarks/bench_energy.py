"""The energy of SU(2) matrix-product states computed through X-symbols of both methods, against
the same computation with exact X-symbols: how symbol errors compound along a chain.

Run after `pip install .` and `pip install -r benchmarks/requirements-exactness.txt`:

    python benchmarks/bench_energy.py [--lengths 8 16 32] [--states 6]

A random SU(2)-invariant matrix-product state of L spins 1/2 (bond spins 2j <= 6, random
multiplicities and reduced blocks) is contracted with itself and with the Heisenberg chain
Hamiltonian sum_i S_i . S_(i+1), site by site, the way a DMRG code builds its environments: every
contraction of two symmetric tensors goes through compute_xsymbol. The reference does the same
contractions with exact X-symbols (bench_exactness.py). Both are carried out in rational
arithmetic, each method's symbols taken as the doubles they are, so that the symbols' errors are
the only ones. The table gives, per method, the mean and the largest of the signed errors of the
energy E = <psi|H|psi> / <psi|psi> (in units of the coupling) and of the relative errors of
<psi|psi>: a systematic error of the symbols shows as a mean that grows with L.
"""

import argparse
import functools
import itertools
import os
import random
import statistics
import sys
import tempfile
from fractions import Fraction

import numpy as np

import bench_exactness

MAX_TWICE = 6


# Symmetric tensors -----------------------------------------------------------------------------
# A tensor is (directions, blocks): directions +1 in / -1 out per leg, blocks a dict from
# (doubled spins of the legs, OM index) to the reduced array over the legs' multiplicities.

def make_spec(spins, directions):
    from tavrin import CGSpec, Edge, Spin

    return CGSpec.from_edges([Edge.incoming(Spin(s)) if d > 0 else Edge.outgoing(Spin(s))
                              for s, d in zip(spins, directions)])


@functools.lru_cache(maxsize=None)
def tavrin_xsymbol(method, spins_a, dirs_a, spins_b, dirs_b, axes_a, axes_b):
    import tavrin

    x, c = tavrin.compute_xsymbol(make_spec(spins_a, dirs_a), make_spec(spins_b, dirs_b),
                                  tavrin.Contraction(list(axes_a), list(axes_b)), method=method)
    return x, tuple(c.get_spins())


@functools.lru_cache(maxsize=None)
def tavrin_xsymbol_in_fractions(method, spins_a, dirs_a, spins_b, dirs_b, axes_a, axes_b):
    """A method's symbol, each double as the rational it is: contracted in exact arithmetic,
    the symbols' errors are the only ones."""
    x, spins_c = tavrin_xsymbol(method, spins_a, dirs_a, spins_b, dirs_b, axes_a, axes_b)
    return np.vectorize(Fraction, otypes=[object])(x), spins_c


@functools.lru_cache(maxsize=None)
def exact_xsymbol(spins_a, dirs_a, spins_b, dirs_b, axes_a, axes_b):
    x, spins_c = tavrin_xsymbol("dense", spins_a, dirs_a, spins_b, dirs_b, axes_a, axes_b)
    values = bench_exactness.exact_xsymbol(list(zip(spins_a, dirs_a)), list(zip(spins_b, dirs_b)),
                                           list(axes_a), list(axes_b))
    exact = np.full(x.shape, Fraction(0), dtype=object)
    flat = exact.reshape(-1)
    for index, value in values.items():
        flat[index] = value
    return exact, spins_c


def contract(first, second, axes_a, axes_b, xsymbol):
    dirs_a, blocks_a = first
    dirs_b, blocks_b = second
    free_a = [d for i, d in enumerate(dirs_a) if i not in axes_a]
    free_b = [d for i, d in enumerate(dirs_b) if i not in axes_b]
    dirs_c = tuple(free_a + free_b)
    blocks_c = {}
    for (spins_a, a), data_a in blocks_a.items():
        for (spins_b, b), data_b in blocks_b.items():
            if any(spins_a[i] != spins_b[j] for i, j in zip(axes_a, axes_b)):
                continue
            free = [s for i, s in enumerate(spins_a) if i not in axes_a] + [
                s for i, s in enumerate(spins_b) if i not in axes_b]
            if not bench_exactness.admits(free):
                continue  # no invariant with these edges: the blocks do not meet
            x, spins_c = xsymbol(spins_a, dirs_a, spins_b, dirs_b, tuple(axes_a), tuple(axes_b))
            product = np.tensordot(data_a, data_b, (list(axes_a), list(axes_b)))
            for c in range(x.shape[2]):
                if x[a, b, c] == 0:
                    continue
                key = (spins_c, c)
                blocks_c[key] = blocks_c.get(key, 0) + x[a, b, c] * product
    return dirs_c, blocks_c


def conjugate(tensor):
    """The same tensor with every direction reversed: canonical_basis(conjugate) = phase *
    canonical_basis(spec), so each block takes its specification's phase."""
    import tavrin

    dirs, blocks = tensor
    conjugated = {}
    for (spins, a), data in blocks.items():
        phase, _ = tavrin.compute_conjugate(make_spec(spins, dirs))
        conjugated[(spins, a)] = int(phase) * data
    return tuple(-d for d in dirs), conjugated


# The chain -------------------------------------------------------------------------------------

def bond_spins(length, rng):
    """For each bond 0 ... length, {2j: multiplicity}; bond 0 and bond length carry spin 0."""
    reachable = [{0}]
    for _ in range(length):
        reachable.append({k for j in reachable[-1] for k in (j - 1, j + 1) if 0 <= k <= MAX_TWICE})
    back = [set() for _ in range(length + 1)]
    back[length] = {0}
    for i in range(length - 1, -1, -1):
        back[i] = {j for j in reachable[i] if {j - 1, j + 1} & back[i + 1]}
    return [{j: (1 if i in (0, length) else rng.randint(1, 3)) for j in sorted(back[i])}
            for i in range(length + 1)]


def random_state(length, rng):
    """MPS tensors (left bond in, 1/2 in, right bond out) with random reduced blocks."""
    bonds = bond_spins(length, rng)
    tensors = []
    for i in range(length):
        blocks = {}
        for left, right in itertools.product(bonds[i], bonds[i + 1]):
            if abs(left - right) == 1:
                blocks[((left, 1, right), 0)] = np.array(
                    [[[rng.gauss(0.0, 1.0) for _ in range(bonds[i + 1][right])]]
                     for _ in range(bonds[i][left])])
        tensors.append(((1, 1, -1), blocks))
    return tensors


def heisenberg_bond():
    """S.S on two spins 1/2 as a tensor (1/2 out, 1/2 out, 1/2 in, 1/2 in): contracting a
    state's two incoming physical edges with the first two edges applies it."""
    import tavrin

    sz = np.diag([-0.5, 0.5])                       # index i stands for m = i - j
    sp = np.array([[0.0, 0.0], [1.0, 0.0]])         # S+ raises m
    h = (np.kron(sz, sz) + 0.5 * (np.kron(sp, sp.T) + np.kron(sp.T, sp))).reshape(2, 2, 2, 2)
    dense = np.transpose(h, (2, 3, 0, 1))           # [m_in of the ket, ..., m_out, ...]
    dirs = (-1, -1, 1, 1)
    basis = tavrin.canonical_basis(make_spec((1, 1, 1, 1), dirs))
    reduced = np.tensordot(dense, basis, ([0, 1, 2, 3], [0, 1, 2, 3]))
    assert np.allclose(np.tensordot(basis, reduced, ([4], [0])), dense, atol=1e-15)
    blocks = {((1, 1, 1, 1), c): np.array(reduced[c]).reshape(1, 1, 1, 1)
              for c in range(len(reduced)) if reduced[c] != 0}
    return dirs, blocks


def expectations(tensors, bond, xsymbol, exact):
    """<psi|psi> and <psi|H|psi>, site by site through environments (ket bond out, bra bond
    in)."""
    def as_exact(tensor):
        dirs, blocks = tensor
        return dirs, {key: np.vectorize(Fraction, otypes=[object])(data)
                      for key, data in blocks.items()}

    if exact:
        tensors = [as_exact(t) for t in tensors]
        bond = as_exact(bond)
    unit = np.ones((1, 1), dtype=object) if exact else np.ones((1, 1))
    empty = ((-1, 1), {})
    norm = ((-1, 1), {((0, 0), 0): unit * (Fraction(1) if exact else 1.0)})
    energy, before = empty, None
    for site, tensor in enumerate(tensors):
        bra = conjugate(tensor)

        def transfer(environment, ket=tensor, bra=bra):
            half = contract(environment, ket, [0], [0], xsymbol)          # (bra in, 1/2 in, out)
            return contract(half, bra, [0, 1], [0, 1], xsymbol)           # (out, in)

        new_energy = transfer(energy) if energy[1] else empty
        if before is not None:
            previous, previous_bra = tensors[site - 1], conjugate(tensors[site - 1])
            t = contract(before, previous, [0], [0], xsymbol)             # (bra, s1, r1)
            t = contract(t, tensor, [2], [0], xsymbol)                    # (bra, s1, s2, r2)
            t = contract(t, bond, [1, 2], [0, 1], xsymbol)                # (bra, r2, s1, s2)
            t = contract(t, previous_bra, [0, 2], [0, 1], xsymbol)        # (r2, s2, bra r1)
            t = contract(t, bra, [2, 1], [0, 1], xsymbol)                 # (r2, bra r2)
            for key, value in t[1].items():
                new_energy[1][key] = new_energy[1].get(key, 0) + value
        before, norm = norm, transfer(norm)
        energy = new_energy
    return norm[1][((0, 0), 0)].item(), energy[1][((0, 0), 0)].item()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lengths", type=int, nargs="+", default=[8, 16, 32])
    parser.add_argument("--states", type=int, default=8)
    parser.add_argument("--seed", type=int, default=17)
    args = parser.parse_args()
    os.environ.setdefault("TAVRIN_CACHE_PATH", tempfile.mkdtemp(prefix="tavrin-energy-"))
    rng = random.Random(args.seed)
    bond = heisenberg_bond()
    print(f"{'L':>4}{'method':>12}{'mean error of E':>18}{'largest':>11}"
          f"{'mean rel. err. norm':>22}{'largest':>11}")
    for length in args.lengths:
        states = [random_state(length, rng) for _ in range(args.states)]
        exact = [expectations(s, bond, exact_xsymbol, True) for s in states]
        for method in ("dense", "recoupling"):
            errors_e, errors_n = [], []
            for state, (norm_x, energy_x) in zip(states, exact):
                norm, energy = expectations(
                    state, bond, functools.partial(tavrin_xsymbol_in_fractions, method), True)
                errors_e.append(float(Fraction(energy) / Fraction(norm) - energy_x / norm_x))
                errors_n.append(float((Fraction(norm) - norm_x) / norm_x))
            print(f"{length:>4}{method:>12}{statistics.mean(errors_e):>18.2e}"
                  f"{max(errors_e, key=abs):>11.2e}{statistics.mean(errors_n):>22.2e}"
                  f"{max(errors_n, key=abs):>11.2e}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
