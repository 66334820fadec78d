// Docstrings of Leg, BlockTensor and the block functions. Each callable's begins with its
// signature line and "--" so that CPython derives __text_signature__ from it.
#pragma once

namespace tavrin::bindings::docs {

inline constexpr const char* leg_class =
    "Leg(direction, sectors)\n"
    "--\n"
    "\n"
    "A leg of a block tensor: a direction and the spins it carries, each with a multiplicity.\n"
    "\n"
    "``sectors`` maps each doubled spin 2j to its multiplicity of 1 or more (a dict in any\n"
    "order, or pairs in ascending spin). The leg's dense axis runs over the sectors in order,\n"
    "within a sector multiplet by multiplet, within a multiplet over m = -j ... j: its length\n"
    "is the sum of multiplicity * (2j + 1), at most 2^63 - 1.\n"
    "\n"
    ">>> from tavrin import Leg\n"
    ">>> leg = Leg.incoming({1: 2, 3: 1})\n"
    ">>> leg, leg.dense_dimension(), leg.multiplicity(3)\n"
    "(Leg.incoming({1: 2, 3: 1}), 8, 1)\n";

inline constexpr const char* leg_incoming =
    "incoming(sectors)\n"
    "--\n"
    "\n"
    "An incoming leg of the given sectors (2j to multiplicity).\n";

inline constexpr const char* leg_outgoing =
    "outgoing(sectors)\n"
    "--\n"
    "\n"
    "An outgoing leg of the given sectors (2j to multiplicity).\n";

inline constexpr const char* leg_direction = "The leg's Direction.";
inline constexpr const char* leg_sectors =
    "The sectors as (2j, multiplicity) pairs, in ascending spin.";

inline constexpr const char* leg_dense_dimension =
    "dense_dimension($self)\n"
    "--\n"
    "\n"
    "The length of the leg's dense axis: the sum of multiplicity * (2j + 1).\n";

inline constexpr const char* leg_multiplicity =
    "multiplicity($self, two_j)\n"
    "--\n"
    "\n"
    "The multiplicity of spin 2j on the leg (0 when it has none).\n";

inline constexpr const char* leg_flipped =
    "flipped($self)\n"
    "--\n"
    "\n"
    "The same sectors with the opposite direction.\n";

inline constexpr const char* block_tensor_class =
    "An SU(2)-invariant tensor in reduced form: its legs and one block per tuple of sectors\n"
    "whose spins admit an invariant.\n"
    "\n"
    "A block is a float64 array of shape (multiplicity of each leg's sector..., OM dimension);\n"
    "the dense tensor is the sum over blocks of the block times the canonical basis of its\n"
    "spins and the legs' directions (see ``canonical_basis``). Every operation works blockwise\n"
    "with the symbols, never through the dense tensor; ``from_dense`` and ``to_dense`` are for\n"
    "checking and for small cases. Tensors are values: operations return new tensors.\n"
    "\n"
    ">>> import numpy as np\n"
    ">>> from tavrin import BlockTensor, Leg, contract\n"
    ">>> half = {1: 1}\n"
    ">>> a = BlockTensor.random([Leg.incoming(half), Leg.incoming(half),\n"
    "...                         Leg.outgoing({0: 1, 2: 1})], seed=1)\n"
    ">>> a\n"
    "BlockTensor([Leg.incoming({1: 1}), Leg.incoming({1: 1}), Leg.outgoing({0: 1, 2: 1})], "
    "blocks=2)\n"
    ">>> b = contract(a, a.conj(), [2], [2])\n"
    ">>> dense = np.tensordot(a.to_dense(), a.to_dense(), ([2], [2]))\n"
    ">>> bool(np.allclose(b.to_dense(), dense))\n"
    "True\n";

inline constexpr const char* block_tensor_legs = "The legs, a list of Leg.";
inline constexpr const char* block_tensor_blocks =
    "The blocks, a new dict from the tuple of each block's doubled spins to a copy of its "
    "array.";

inline constexpr const char* block_tensor_zeros =
    "zeros(legs)\n"
    "--\n"
    "\n"
    "The tensor of the legs (at most 31) with every block zero. MemoryError, before anything is\n"
    "allocated, when the blocks would not fit in the machine's physical memory.\n";

inline constexpr const char* block_tensor_random =
    "random(legs, *, seed=0)\n"
    "--\n"
    "\n"
    "The tensor of the legs with standard normal entries, the same for the same seed.\n";

inline constexpr const char* block_tensor_from_dense =
    "from_dense(legs, array)\n"
    "--\n"
    "\n"
    "The projection of a dense array (shape: each leg's dense dimension) onto the invariant\n"
    "tensors of the legs: each block is the overlap with its orthonormal basis slices, so that\n"
    "``from_dense(legs, t).to_dense()`` gives ``t`` back whenever ``t`` is invariant.\n";

inline constexpr const char* block_tensor_from_blocks =
    "from_blocks(legs, blocks)\n"
    "--\n"
    "\n"
    "The tensor of the legs with the given blocks (a dict from doubled spins to arrays, as\n"
    "``blocks`` gives them); blocks not given are zero.\n";

inline constexpr const char* block_tensor_to_dense =
    "to_dense($self)\n"
    "--\n"
    "\n"
    "The dense tensor, a float64 array of shape (each leg's dense dimension).\n";

inline constexpr const char* block_tensor_copy =
    "copy($self)\n"
    "--\n"
    "\n"
    "A copy of the tensor.\n";

inline constexpr const char* block_tensor_allclose =
    "allclose($self, other, *, rtol=1e-12, atol=1e-12)\n"
    "--\n"
    "\n"
    "True when both have the same legs and every entry is within atol + rtol * |other's|.\n"
    "``==`` asks the same with rtol 0 and atol 1e-12 times the largest entry (at least 1).\n";

inline constexpr const char* block_tensor_inner =
    "inner($self, other)\n"
    "--\n"
    "\n"
    "The sum of products of the dense entries of two tensors with the same legs, computed\n"
    "from the blocks (the basis slices are orthonormal). For a tensor of conjugate legs, use\n"
    "``contract`` over every leg.\n";

inline constexpr const char* block_tensor_norm =
    "norm($self)\n"
    "--\n"
    "\n"
    "The Frobenius norm of the dense tensor.\n";

inline constexpr const char* block_tensor_conj =
    "conj($self)\n"
    "--\n"
    "\n"
    "The conjugate: every leg's direction reversed and the same dense tensor (its entries are\n"
    "real). Each block changes by the phase ``compute_conjugate`` gives its specification.\n";

inline constexpr const char* block_tensor_flip =
    "flip($self, leg)\n"
    "--\n"
    "\n"
    "The leg's direction reversed. The dense tensor is mapped on that axis by\n"
    "X'[..., m, ...] = (-1)^(j - m) X[..., -m, ...] from incoming to outgoing and by the\n"
    "inverse map ((-1)^(2j) times it) from outgoing to incoming; the blocks stay as they are,\n"
    "but those of the last leg, which change by (-1)^(2j).\n";

inline constexpr const char* block_tensor_permute =
    "permute($self, permutation)\n"
    "--\n"
    "\n"
    "The legs reordered: leg k of the result is leg permutation[k], and so is its dense axis.\n"
    "Computed blockwise with R-symbols.\n";

inline constexpr const char* block_tensor_fuse =
    "fuse($self, first, count, *, direction=None)\n"
    "--\n"
    "\n"
    "The legs first ... first + count - 1 fused into one leg at position ``first``, of the\n"
    "given direction (by default that of leg ``first``). The fused leg carries every spin k\n"
    "the legs couple to; its multiplets run over the sector tuples in ascending order, their\n"
    "multiplets and the OM configurations of the tuple with k. Over the dense tensors this is\n"
    "the orthogonal map ``U.T`` of ``fusion_isometry(legs)`` on the fused axes (for an outgoing\n"
    "fused leg followed by ``flip``); the blocks are only rearranged.\n";

inline constexpr const char* block_tensor_split =
    "split($self, position, legs)\n"
    "--\n"
    "\n"
    "The inverse of ``fuse``: the leg at ``position``, the fusion of ``legs``, split into them.\n";

inline constexpr const char* block_tensor_svd =
    "svd($self, cut, *, max_multiplets=None, max_discarded_weight=None)\n"
    "--\n"
    "\n"
    "The singular value decomposition across the cut after the first ``cut`` legs:\n"
    "``(u, s, v, discarded_weight)`` with\n"
    "``contract(contract(u, s, [cut], [0]), v, [cut], [0])`` the tensor (up to the\n"
    "truncation). ``u`` (first legs, bond outgoing) and ``v`` (bond incoming, other legs) are\n"
    "isometries of the dense tensors; ``s`` (bond incoming, bond outgoing) is diagonal,\n"
    "``s.singular_values()`` its values by spin.\n"
    "\n"
    "Truncation keeps the multiplets of largest singular value, at most ``max_multiplets`` and\n"
    "no more than needed to keep the discarded weight, the sum of (2k + 1) s^2 over the\n"
    "discarded multiplets (the squared norm of what is cut off), within\n"
    "``max_discarded_weight``. At least one multiplet is kept. For each kept spin k the\n"
    "isometric factors' blocks carry the factor sqrt(2k + 1).\n";

inline constexpr const char* block_tensor_qr =
    "qr($self, cut)\n"
    "--\n"
    "\n"
    "``(q, r)`` across the cut after the first ``cut`` legs: ``q`` (first legs, bond outgoing)\n"
    "an isometry of the dense tensors and ``contract(q, r, [cut], [0])`` the tensor.\n";

inline constexpr const char* block_tensor_eigh =
    "eigh($self)\n"
    "--\n"
    "\n"
    "The eigensystem of a Hermitian operator whose legs are rows then columns, column leg i\n"
    "the row leg i with its direction reversed: ``(eigenvalues, vectors)``, the eigenvalues a\n"
    "dict from 2k to an ascending array (each value (2k + 1) times degenerate in the dense\n"
    "operator), ``vectors`` the isometry (rows..., bond outgoing) of the eigenvectors.\n";

inline constexpr const char* block_tensor_singular_values =
    "singular_values($self)\n"
    "--\n"
    "\n"
    "For the diagonal ``s`` of ``svd`` (legs: bond incoming, bond outgoing): a dict from 2k to\n"
    "the singular values of the dense tensor in that spin (each (2k + 1) times degenerate).\n";

inline constexpr const char* contract =
    "contract(a, b, axes_a, axes_b)\n"
    "--\n"
    "\n"
    "The contraction of two block tensors over pairs of legs, leg ``axes_a[i]`` of ``a`` with\n"
    "leg ``axes_b[i]`` of ``b`` (negative positions are not accepted): ``a``'s other legs in\n"
    "order, then ``b``'s, as ``numpy.tensordot`` orders the dense axes. Each pair joins an\n"
    "incoming with an outgoing leg; their multiplicities agree for every spin both carry.\n"
    "Contracting every leg gives a tensor without legs whose one block holds the sum.\n"
    "Computed blockwise with X-symbols; the plan (which blocks meet, with which coefficients)\n"
    "is kept per process for the legs' spins and directions (memo ``block_contraction_plans``).\n";

inline constexpr const char* fusion_isometry =
    "fusion_isometry(legs)\n"
    "--\n"
    "\n"
    "The tensor (legs..., fused leg outgoing) whose dense tensor maps the fused leg of ``fuse``\n"
    "orthogonally onto the product of the legs.\n";

inline constexpr const char* lowest_eigenpair =
    "lowest_eigenpair(start, chain, *, max_iterations=30, tolerance=1e-13)\n"
    "--\n"
    "\n"
    "The lowest eigenvalue and its unit eigenvector of a Hermitian map given as a chain of\n"
    "contractions, by the Lanczos iteration from ``start``, all in C++. Each step of ``chain``\n"
    "is a tuple ``(operand, current_axes, operand_axes, operand_first)``: the current tensor is\n"
    "contracted with ``operand`` over those pairs, the operand's legs first in the result when\n"
    "``operand_first``. The chain must map a tensor of start's legs onto the same legs. Every new\n"
    "Krylov vector is orthogonalised twice against all before it; the iteration stops when the\n"
    "lowest Ritz value changes by less than ``tolerance`` or after ``max_iterations`` products.\n"
    "Returns ``(value, vector)``.\n";

inline constexpr const char* block_timings =
    "block_timings()\n"
    "--\n"
    "\n"
    "Seconds spent by this process, since the last reset, computing the symbols of block plans\n"
    "(``'symbols'``) and in the loops over blocks (``'block_loops'``), as a dict.\n";

inline constexpr const char* reset_block_timings =
    "reset_block_timings()\n"
    "--\n"
    "\n"
    "Sets both of ``block_timings()`` to zero.\n";

}  // namespace tavrin::bindings::docs
