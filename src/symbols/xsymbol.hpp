// X-symbols: contractions of two canonical bases overlapped with the basis of the result.
#pragma once

#include "specs/cg_spec.hpp"
#include "specs/contraction.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"
#include "symbols/symbol_method.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

struct XSymbol {
    CGSpec spec_c;
    Tensor data;  // [om_a, om_b, om_c]
};

// X[a, b, c] = sum of BA[m_A, a] * BB[m_B, b] * BC[m_C, c] over paired magnetic indices.
// Pairs are checked in order (index bounds, equal spins, no edge named twice in one list)
// before any basis is fetched. Both methods make the same checks in the same order and return
// the same specification C.
Result<XSymbol> compute_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                                const Contraction& contraction, CallContext& context,
                                SymbolMethod method = SymbolMethod::Dense);

}  // namespace tavrin
