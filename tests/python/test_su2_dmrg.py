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


def magnetic_states(length, d, twice_m_total):
    twice_m = np.arange(d) * 2 - (d - 1)
    states = [s for s in itertools.product(range(d), repeat=length)
              if sum(twice_m[list(s)]) == twice_m_total]
    return states, {s: i for i, s in enumerate(states)}


def ground_energy(coupling, length, d, total_spin=0):
    """Exact diagonalisation among the states of total spin S (2S = total_spin): the term
    between each pair of neighbours from the coupling, on the states of S^z = S that S^+
    annihilates (a chain whose ground state has a larger spin has states of S^z = S below
    the lowest of spin S)."""
    states, index = magnetic_states(length, d, total_spin)
    raised, raised_index = magnetic_states(length, d, total_spin + 2)
    s, m = (d - 1) / 2, np.arange(d) - (d - 1) / 2
    h = np.zeros((len(states), len(states)))
    plus = np.zeros((len(raised), len(states)))
    for column, state in enumerate(states):
        for site in range(length - 1):
            a1, a2 = state[site], state[site + 1]
            for b1, b2 in zip(*np.nonzero(coupling[a1, :, a2, :])):
                new = state[:site] + (b1, b2) + state[site + 2:]
                h[index[new], column] += coupling[a1, b1, a2, b2]
        for site, a in enumerate(state):
            if a + 1 < d:
                new = state[:site] + (a + 1,) + state[site + 1:]
                plus[raised_index[new], column] = np.sqrt(s * (s + 1) - m[a] * (m[a] + 1))
    _, singular, vt = np.linalg.svd(plus) if raised else (None, np.zeros(0), np.eye(len(states)))
    highest = vt[np.count_nonzero(singular > 1e-10):].T
    return np.linalg.eigvalsh(highest.T @ h @ highest)[0]


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


@pytest.mark.parametrize("two_s, length, total_spin", [
    (1, 5, 1), (1, 5, 3), (1, 5, 5), (1, 6, 2), (1, 7, 3), (2, 3, 0), (2, 4, 2), (2, 5, 4)])
def test_dmrg_reaches_the_lowest_state_of_each_total_spin(example, two_s, length, total_spin):
    exact = ground_energy(two_site_coupling(example.heisenberg_mpo(two_s)), length, two_s + 1,
                          total_spin)
    history, _, _ = example.dmrg(length, two_s, 64, 4, report=lambda line: None,
                                 total_spin=total_spin)
    assert history[-1][0] == pytest.approx(exact, abs=1e-10)


@pytest.mark.parametrize("two_s, length, total_spin", [(1, 6, 1), (1, 5, 0), (1, 5, 7), (2, 3, -2)])
def test_a_total_spin_the_chain_cannot_reach_is_refused(example, two_s, length, total_spin):
    with pytest.raises(ValueError, match="cannot couple"):
        example.dmrg(length, two_s, 8, 1, report=lambda line: None, total_spin=total_spin)


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
