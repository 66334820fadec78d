"""Two-site DMRG of the open Heisenberg chain H = sum_i S_i . S_(i+1), written with tavrin's
SU(2) block tensors.

Every tensor keeps only its reduced blocks: a bond of D* multiplets stands for
D = sum over its spins of (2k + 1) * multiplicity states. Contractions, permutations and
factorisations run blockwise in C++ with the recoupling symbols, and so does the Lanczos
iteration of each step; nothing here touches a dense tensor but the two-site coupling the MPO
is made of.

    python su2_dmrg.py --spin 1/2 --length 32 --multiplets 64 --sweeps 6

The state is the lowest of total spin --total-spin (doubled, as every spin in tavrin; by default
0, or 1 for a chain of an odd number of half-integer spins): the last bond of the MPS carries
that spin, and the right environment that ends the chain is the identity on it.
"""

import argparse
import time
from fractions import Fraction

import numpy as np

from tavrin import BlockTensor, Leg, contract, lowest_eigenpair

# Leg conventions: an MPS tensor is (left in, physical in, right out); an MPO tensor is
# (left in, physical out, physical in, right out), its outgoing physical leg meeting the
# state's; a left environment is (bra in, MPO out, ket out), a right one (ket in, MPO in, bra out).


def spin_matrices(two_s):
    """S^z, S^+ and S^- of spin s on the magnetic states m = -s ... s (tavrin's order)."""
    m = np.arange(-two_s, two_s + 1, 2) / 2.0
    s = two_s / 2.0
    plus = np.zeros((two_s + 1, two_s + 1))
    for i in range(two_s):  # <m + 1| S^+ |m>
        plus[i + 1, i] = np.sqrt(s * (s + 1) - m[i] * (m[i] + 1))
    return np.diag(m), plus, plus.T


def heisenberg_mpo(two_s):
    """The MPO tensor of the chain, built from the two-site coupling S . S: its singular value
    decomposition splits it into a left and a right factor joined by a spin-1 bond, the MPO's
    bond keeps them between two spin-0 states (nothing yet, all done)."""
    z, plus, minus = spin_matrices(two_s)
    identity = np.eye(two_s + 1)
    physical = Leg.incoming({two_s: 1})
    # <b1 b2| S.S |a1 a2> with the legs (a1, b1, a2, b2)
    coupling = (np.einsum("ba,dc->abcd", z, z) + 0.5 * np.einsum("ba,dc->abcd", plus, minus)
                + 0.5 * np.einsum("ba,dc->abcd", minus, plus))
    legs = [physical.flipped(), physical, physical.flipped(), physical]
    pair = BlockTensor.from_dense(legs, coupling)
    assert np.allclose(pair.to_dense(), coupling, atol=1e-13), "S.S is SU(2)-invariant"
    left, s, right, _ = pair.svd(2, max_discarded_weight=1e-20)  # the vector part alone
    right = contract(s, right, [1], [0])
    bond = left.legs[2]
    mpo_leg = Leg.outgoing([(0, 2)] + bond.sectors)
    w = np.zeros((mpo_leg.dense_dimension(), two_s + 1, two_s + 1, mpo_leg.dense_dimension()))
    w[0, :, :, 0] = w[1, :, :, 1] = identity
    w[0, :, :, 2:] = left.to_dense()
    w[2:, :, :, 1] = right.to_dense()
    mpo = BlockTensor.from_dense([mpo_leg.flipped(), physical.flipped(), physical, mpo_leg], w)
    assert np.allclose(mpo.to_dense(), w, atol=1e-13)
    return mpo


def boundaries(mpo, total_spin=0):
    """The left environment that starts the MPO and the right one that ends it, on a bond of
    spin 0 at the left end and of the state's total spin at the right end."""
    trivial, target = Leg.incoming({0: 1}), Leg.incoming({total_spin: 1})
    mpo_leg = mpo.legs[0]
    start = np.zeros((1, mpo_leg.dense_dimension(), 1))
    end = np.zeros((total_spin + 1, mpo_leg.dense_dimension(), total_spin + 1))
    start[0, 0, 0] = 1.0
    end[:, 1, :] = np.eye(total_spin + 1)
    left = BlockTensor.from_dense([trivial, mpo_leg.flipped(), trivial.flipped()], start)
    right = BlockTensor.from_dense([target, mpo_leg, target.flipped()], end)
    assert np.allclose(right.to_dense(), end, atol=1e-13)
    return left, right


def grow_left(env, a, w):
    t = contract(a.conj(), env, [0], [0])   # (p', y', w, x)
    t = contract(t, w, [0, 2], [2, 0])      # (y', x, p, w')
    return contract(t, a, [1, 2], [0, 1])   # (y', w', y)


def grow_right(env, b, w):
    t = contract(b, env, [2], [0])          # (x, p, w', y')
    t = contract(t, w, [1, 2], [1, 3])      # (x, y', w, p')
    return contract(t, b.conj(), [1, 3], [2, 1])  # (x, w, x')


def effective_hamiltonian(env_left, w, env_right):
    """H acting on two sites as a chain of contractions, for tavrin.lowest_eigenpair:
    (operand, axes of the current tensor, axes of the operand, operand first)."""
    return [(env_left, [0], [2], True),      # (x', w, p1, p2, y)
            (w, [1, 2], [0, 1], False),      # (x', p2, y, p1', w')
            (w, [4, 1], [0, 1], False),      # (x', y, p1', p2', w'')
            (env_right, [1, 4], [0, 1], False)]  # (x', p1', p2', y')


def reachable_spins(sites, others, two_s, total_spin, widest):
    """The bond spins 2k after `sites` sites that the remaining `others` sites can still couple
    to the total spin, the smallest of them up to `widest`."""
    parity = (sites * two_s) % 2
    low = max(total_spin - others * two_s, parity)
    top = min(sites * two_s, total_spin + others * two_s)
    return list(range(low, min(top, max(low, widest)) + 1, 2))


def check_total_spin(length, two_s, total_spin):
    if total_spin < 0 or total_spin > length * two_s or (total_spin - length * two_s) % 2:
        raise ValueError(f"{length} sites of spin 2s = {two_s} cannot couple to a total "
                         f"spin 2S = {total_spin}")


def random_mps(length, two_s, total_spin=0, seed=0):
    physical = Leg.incoming({two_s: 1})
    bonds = [Leg.outgoing({k: 1 for k in reachable_spins(i, length - i, two_s, total_spin, 4)})
             for i in range(length + 1)]
    mps = [BlockTensor.random([bonds[i].flipped(), physical, bonds[i + 1]], seed=seed + i)
           for i in range(length)]
    for i in range(length - 1, 0, -1):  # right-canonical from the right
        u, s, v, _ = mps[i].svd(1)
        mps[i] = v
        mps[i - 1] = contract(mps[i - 1], contract(u, s, [1], [0]), [2], [0])
    return mps


def multiplets(leg):
    return sum(count for _, count in leg.sectors)


def dmrg(length, two_s, max_multiplets, sweeps, max_discarded_weight=1e-14, report=print,
         total_spin=None):
    """Sweeps of two-site DMRG towards the lowest state of total spin `total_spin` (the lowest
    the chain allows if None); reports and returns each sweep's energy, largest truncation
    error, largest bond in multiplets (D*) and in states (D), and time."""
    total_spin = (length * two_s) % 2 if total_spin is None else total_spin
    check_total_spin(length, two_s, total_spin)
    w = heisenberg_mpo(two_s)
    mps = random_mps(length, two_s, total_spin)
    left_end, right_end = boundaries(w, total_spin)
    left = [left_end] + [None] * length
    right = [None] * length + [right_end]
    for i in range(length - 1, 0, -1):
        right[i] = grow_right(right[i + 1], mps[i], w)
    history = []
    for sweep in range(sweeps):
        started, error, widest = time.perf_counter(), 0.0, None
        for direction, sites in ((1, range(length - 1)), (-1, range(length - 2, -1, -1))):
            for i in sites:
                theta = contract(mps[i], mps[i + 1], [2], [0])
                energy, theta = lowest_eigenpair(
                    theta, effective_hamiltonian(left[i], w, right[i + 2]))
                u, s, v, discarded = theta.svd(2, max_multiplets=max_multiplets,
                                               max_discarded_weight=max_discarded_weight)
                s = s / s.norm()
                error = max(error, discarded)
                bond = u.legs[2]
                if widest is None or multiplets(bond) > multiplets(widest):
                    widest = bond
                if direction > 0:
                    mps[i], mps[i + 1] = u, contract(s, v, [1], [0])
                    left[i + 1] = grow_left(left[i], mps[i], w)
                else:
                    mps[i], mps[i + 1] = contract(u, s, [2], [0]), v
                    right[i + 1] = grow_right(right[i + 2], mps[i + 1], w)
        seconds = time.perf_counter() - started
        history.append((energy, error, multiplets(widest), widest.dense_dimension(), seconds))
        report(f"sweep {sweep + 1}: E = {energy:.12f}  truncation error {error:.2e}  "
               f"D*/D = {multiplets(widest)}/{widest.dense_dimension()}  {seconds:.2f} s")
    return history, mps, w


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spin", default="1/2", help="the chain's spin: 1/2, 1, 3/2, ...")
    parser.add_argument("--length", type=int, default=32)
    parser.add_argument("--multiplets", type=int, default=64, help="D*, kept multiplets")
    parser.add_argument("--sweeps", type=int, default=6)
    parser.add_argument("--total-spin", type=int, default=None,
                        help="2S of the state (doubled); default 0, or 1 for an odd chain of "
                             "half-integer spins")
    args = parser.parse_args()
    two_s = int(2 * Fraction(args.spin))
    try:
        dmrg(args.length, two_s, args.multiplets, args.sweeps, total_spin=args.total_spin)
    except ValueError as error:
        parser.error(str(error))


if __name__ == "__main__":
    main()
