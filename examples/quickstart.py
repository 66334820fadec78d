"""A first look at tavrin: bases, X-symbols, R-symbols and conjugation of SU(2) tensors."""

import os
import tempfile

import numpy as np

import tavrin
from tavrin import CGSpec, Contraction, Edge, Spin

# Keep this example's cache apart from any real one unless the caller chose a place.
os.environ.setdefault("TAVRIN_CACHE_PATH", os.path.join(tempfile.gettempdir(), "tavrin-quickstart"))

half, one = Spin(1), Spin(2)  # spins are given as 2j

# A three-leg tensor: two spin-1/2 legs fuse into a spin-1 leg.
a = CGSpec.from_edges([Edge.incoming(half), Edge.incoming(half), Edge.outgoing(one)])
b = CGSpec.from_edges([Edge.incoming(one), Edge.outgoing(half), Edge.outgoing(half)])
four = CGSpec.from_edges([Edge.incoming(half)] * 3 + [Edge.outgoing(half)])
print(a, "spins (2j):", a.get_spins(), "directions:", a.get_directions())
print(four, "-> OM dimension", four.om_dimension())

# Canonical basis: one normalised fusion-tree tensor per OM configuration (last axis).
basis = tavrin.canonical_basis(four)
gram = np.einsum("abcdi,abcdj->ij", basis, basis)
print("canonical basis of", four, "has shape", basis.shape)
print("its OM slices are orthonormal:", np.allclose(gram, np.eye(four.om_dimension())))

# X-symbol: contract edge 2 of a with edge 0 of b; c is the contracted tensor.
x, c = tavrin.compute_xsymbol(a, b, Contraction([2], [0]))
print("X-symbol of", Contraction([2], [0]), "has shape", x.shape, "with C =", c)
print(np.array2string(x, precision=6))

# R-symbol: exchange the first two legs of the four-leg tensor.
r, swapped = tavrin.compute_rsymbol(four, [1, 0, 2, 3])
print("R-symbol of the swap (1, 0, 2, 3):")
print(np.array2string(r, precision=6))

# Conjugation reverses every direction; the phase collects Frobenius-Schur signs.
phase, conj = tavrin.compute_conjugate(four)
print("conjugate of", four, "has directions", conj.get_directions(), "and phase", phase)
print("Frobenius-Schur phase of spin 1/2:", tavrin.fs_phase_for_spin(half))

print("bases are cached in", os.path.join(os.environ["TAVRIN_CACHE_PATH"], "cgbasis.db"))
