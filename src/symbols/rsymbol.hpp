// R-symbols: overlaps of a canonical basis with the basis of its edges permuted.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "specs/cg_spec.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"
#include "symbols/symbol_method.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

struct RSymbol {
    CGSpec spec_permuted;
    Tensor data;  // [om_original, om_permuted]
};

// Edge k of the permuted specification is edge permutation[k] of spec. Both methods make the
// same checks in the same order and return the same specification.
Result<RSymbol> compute_rsymbol(const CGSpec& spec, std::span<const std::uint64_t> permutation,
                                CallContext& context,
                                SymbolMethod method = SymbolMethod::Dense);

}  // namespace tavrin
