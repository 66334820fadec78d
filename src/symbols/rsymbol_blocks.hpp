// The R-symbol contraction over the m-conserving blocks of canonical-pattern bases: the
// original basis is read through the permutation (no aligned copy), and the widest leg keeps a
// fixed m with the sum scaled by its dimension (Schur's lemma: both factors are invariant with
// the same edges).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "symbols/magnetic_blocks.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// The rows of the two bases that meet, with their signs: what the sum needs of the bases
// besides their values. It depends only on the CGSpec and the permutation.
struct RBlockPlan;

// The plan of R[a, b] = sum of BO[m, a] BP[m_p, b], edge k of the permuted specification being
// edge permutation[k] of the original. Fails only with Interrupted.
Result<std::shared_ptr<const RBlockPlan>> plan_rsymbol_blocks(
    BasisOperand original, BasisOperand permuted, std::span<const std::uint64_t> permutation,
    CallContext& context);

// The memory a plan holds, in bytes.
std::size_t plan_bytes(const RBlockPlan& plan);

// The R-symbol by the plan from the canonical-pattern bases it was made for. Fails only with
// Interrupted.
Result<Tensor> sum_rsymbol_blocks(const RBlockPlan& plan, const Tensor& original,
                                  const Tensor& permuted, CallContext& context);

}  // namespace tavrin
