// The R-symbol contraction over the m-conserving blocks of canonical-pattern bases: the
// original basis is read through the permutation (no aligned copy), and the widest leg keeps a
// fixed m with the sum scaled by its dimension (Schur's lemma: both factors are invariant with
// the same edges).
#pragma once

#include <cstdint>
#include <span>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "symbols/magnetic_blocks.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// R[a, b] = sum of BO[m, a] BP[m_p, b], edge k of the permuted specification being edge
// permutation[k] of the original. Fails only with Interrupted.
Result<Tensor> contract_rsymbol_blocks(BasisOperand original, BasisOperand permuted,
                                       std::span<const std::uint64_t> permutation,
                                       CallContext& context);

}  // namespace tavrin
