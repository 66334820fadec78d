"""The spin-1/2 Heisenberg ring in its singlet sector, built from R-symbols alone.

H = sum_i S_i . S_(i+1) on a periodic ring of N sites. Its total-spin-0 sector is the space of
invariant tensors with N incoming spin-1/2 edges and one outgoing spin-0 edge, whose basis is
the CGSpec's OM basis (dimension: the Catalan number C(N/2)).

For the bond (i, j), the R-symbol R of the permutation that brings edges i and j to the front
relates the original basis |a> to the permuted one |b'> = sum_a R[a, b] |a>. In the permuted
basis, edges i and j couple first, to the first internal spin k1 (doubled), so S_i . S_j is
diagonal there with k1 (k1 + 2) / 8 - 3/4. Hence H_ij = R D R^T in the original basis.

Run after `pip install .`:  python examples/heisenberg_ring.py [N]
"""

import sys
import time

import numpy as np

import tavrin

LITERATURE_E0_N16 = -7.142296


def singlet_sector(n):
    half = tavrin.Spin(1)
    edges = [tavrin.Edge.incoming(half)] * n + [tavrin.Edge.outgoing(tavrin.Spin(0))]
    return tavrin.CGSpec.from_edges(edges)


def bond_operator(spec, i, j):
    """S_i . S_j in the OM basis of spec, from one R-symbol."""
    n = spec.num_external()
    rest = [e for e in range(n) if e not in (i, j)]
    r, permuted = tavrin.compute_rsymbol(spec, [i, j, *rest], method="recoupling")
    k1 = np.array([config[0] for config in permuted.get_om_configurations()])
    d = k1 * (k1 + 2) / 8.0 - 0.75
    return (r * d) @ r.T


def ring_hamiltonian(n):
    spec = singlet_sector(n)
    return sum(bond_operator(spec, i, (i + 1) % n) for i in range(n))


def dense_ground_state_energy(n):
    """Exact diagonalisation in the full 2^n space, for a cross-check on small rings."""
    sx = np.array([[0, 0.5], [0.5, 0]])
    sy = np.array([[0, -0.5j], [0.5j, 0]])
    sz = np.array([[0.5, 0], [0, -0.5]])

    def site(op, k):
        return np.kron(np.kron(np.eye(2 ** k), op), np.eye(2 ** (n - k - 1)))

    h = sum(site(s, i) @ site(s, (i + 1) % n) for i in range(n) for s in (sx, sy, sz))
    return float(np.linalg.eigvalsh(h)[0])


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 16
    check_n = 8
    e_check = float(np.linalg.eigvalsh(ring_hamiltonian(check_n))[0])
    print(f"N = {check_n}: singlet sector E0 = {e_check:.12f}, "
          f"full exact diagonalisation {dense_ground_state_energy(check_n):.12f}")

    start = time.perf_counter()
    h = ring_hamiltonian(n)
    assembled = time.perf_counter() - start
    e0 = float(np.linalg.eigvalsh(h)[0])
    print(f"N = {n}: singlet sector dimension {h.shape[0]}, Hamiltonian assembled from "
          f"{n} recoupling R-symbols in {assembled:.2f} s")
    print(f"ground-state energy {e0:.6f}", end="")
    if n == 16:
        print(f"   literature {LITERATURE_E0_N16:.6f}")
    else:
        print()


if __name__ == "__main__":
    main()
