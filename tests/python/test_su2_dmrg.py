"""The DMRG example: its MPO is the Heisenberg chain (exact diagonalisation of chains up to
twelve sites from its pieces), its ground-state energies are exact for short chains and match
a dense reference at 32 sites."""

import importlib.util
import itertools
from pathlib import Path

import numpy as np
import pytest

from tavrin import contract

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "su2_dmrg.py"

pytestmark = pytest.mark.skipif(not EXAMPLE.is_file(), reason="needs the source tree")


@pytest.fixture(scope="module")
def example():
    spec = importlib.util.spec_from_file_location("su2_dmrg", EXAMPLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def two_site_coupling(mpo):
    """h[a1, b1, a2, b2] = <b1 b2| h |a1 a2> of the MPO's term between neighbours."""
    w = mpo.to_dense()
    return np.einsum("xabk,kcdy->abcd", w[0:1, :, :, 2:], w[2:, :, :, 1:2])


def reference_coupling(two_s):
    """S.S from the spin matrices of the magnetic states m = -s ... s."""
    s, m = two_s / 2, np.arange(-two_s, two_s + 1, 2) / 2
    plus = np.diag(np.sqrt(s * (s + 1) - m[:-1] * (m[:-1] + 1)), -1)
    sx, sy_imaginary, sz = (plus + plus.T) / 2, (plus - plus.T) / 2, np.diag(m)
    # S.S = Sx Sx + Sy Sy + Sz Sz with Sy = -i sy_imaginary: Sy Sy = -sy_imaginary x sy_imaginary
    h = np.kron(sx, sx) - np.kron(sy_imaginary, sy_imaginary) + np.kron(sz, sz)
    d = two_s + 1
    return h.reshape(d, d, d, d).transpose(2, 0, 3, 1)  # (b1 b2, a1 a2) -> (a1, b1, a2, b2)


def ground_energy(coupling, length, d):
    """Exact diagonalisation in the states of total S^z = 0, the term between each pair of
    neighbours from the coupling."""
    twice_m = np.arange(d) * 2 - (d - 1)
    states = [s for s in itertools.product(range(d), repeat=length)
              if sum(twice_m[list(s)]) == 0]
    index = {s: i for i, s in enumerate(states)}
    h = np.zeros((len(states), len(states)))
    for column, state in enumerate(states):
        for site in range(length - 1):
            a1, a2 = state[site], state[site + 1]
            for b1, b2 in zip(*np.nonzero(coupling[a1, :, a2, :])):
                new = state[:site] + (b1, b2) + state[site + 2:]
                h[index[new], column] += coupling[a1, b1, a2, b2]
    return np.linalg.eigvalsh(h)[0]


@pytest.mark.parametrize("two_s", [1, 2])
def test_the_mpo_term_is_the_heisenberg_coupling(example, two_s):
    np.testing.assert_allclose(two_site_coupling(example.heisenberg_mpo(two_s)),
                               reference_coupling(two_s), atol=1e-14)


@pytest.mark.parametrize("two_s, length", [(1, 4), (1, 8), (1, 12), (2, 4), (2, 8)])
def test_dmrg_reaches_the_exact_ground_state(example, two_s, length):
    exact = ground_energy(two_site_coupling(example.heisenberg_mpo(two_s)), length, two_s + 1)
    history, _, _ = example.dmrg(length, two_s, 64, 4, report=lambda line: None)
    assert history[-1][0] == pytest.approx(exact, abs=1e-10)
    assert history[-1][1] < 1e-12


def test_spin_one_half_chain_of_32_sites(example):
    history, mps, w = example.dmrg(32, 1, 64, 4, report=lambda line: None)
    # A dense two-site DMRG (no symmetry, D = 128) of the same chain.
    dense_reference = -13.997315618224
    energy = history[-1][0]
    assert energy == pytest.approx(dense_reference, abs=1e-9)
    # The energy of the whole state, contracted through every site, is the one reported.
    left, right = example.boundaries(w)
    environment = left
    for tensor in mps:
        environment = example.grow_left(environment, tensor, w)
    total = contract(environment, right, [0, 1, 2], [2, 1, 0]).blocks[()].item()
    assert total == pytest.approx(energy, abs=1e-9)
    assert all(example.multiplets(t.legs[2]) <= 64 for t in mps)
