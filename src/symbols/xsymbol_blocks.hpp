// The X-symbol contraction over the m-conserving blocks of canonical-pattern bases: structural
// zeros are never touched and no basis is copied; when every pair joins an incoming with an
// outgoing edge, one of C's legs keeps a fixed m and the sum is scaled by its dimension
// (Schur's lemma).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "specs/contraction.hpp"
#include "symbols/magnetic_blocks.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// The orders of summation: the contracted pairs first (T = BA BB, then T with BC), or one side
// with C first and the other side last.
enum class XSumOrder { PairsFirst, BWithCFirst, AWithCFirst };

// Which rows of the three bases meet and the order of summation: what the contraction needs
// of the bases besides their values. It depends only on the three specifications and the
// contraction.
struct XBlockPlan;

// The plan of X[a, b, c] = sum of BA[m_A, a] BB[m_B, b] BC[m_C, c] over paired indices, C's
// edges being A's uncontracted edges followed by B's. The pairs are valid (checked before).
// Fails only with Interrupted. Summed in the given order, or in the one with the fewest
// multiplications.
Result<std::shared_ptr<const XBlockPlan>> plan_xsymbol_blocks(
    BasisOperand a, BasisOperand b, BasisOperand c, const Contraction& contraction,
    CallContext& context, std::optional<XSumOrder> order = std::nullopt);

// The memory a plan holds, in bytes.
std::size_t plan_bytes(const XBlockPlan& plan);

// The X-symbol by the plan from the canonical-pattern bases it was made for. Fails only with
// Interrupted.
Result<Tensor> sum_xsymbol_blocks(const XBlockPlan& plan, const Tensor& a, const Tensor& b,
                                  const Tensor& c, CallContext& context);

// Plan and sum in one.
Result<Tensor> contract_xsymbol_blocks(BasisOperand a, BasisOperand b, BasisOperand c,
                                       const Contraction& contraction, CallContext& context,
                                       std::optional<XSumOrder> order = std::nullopt);

}  // namespace tavrin
