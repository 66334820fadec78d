// R-symbols: overlaps of a canonical basis with the basis of its edges permuted.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "specs/cg_spec.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"
#include "symbols/symbol_method.hpp"
#include "symbols/symbol_results.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

struct RSymbol {
    CGSpec spec_permuted;
    Tensor data;  // [om_original, om_permuted]
};

// Edge k of the permuted specification is edge permutation[k] of spec. Both methods make the
// same checks in the same order and return the same specification. A result is kept in the
// memo of R-symbol results; a repeated call copies it, after fetching the bases as a
// computation would (the dense method's two).
Result<RSymbol> compute_rsymbol(const CGSpec& spec, std::span<const std::uint64_t> permutation,
                                CallContext& context,
                                SymbolMethod method = SymbolMethod::Dense);

// compute_rsymbol in two steps, as XSymbolCall does compute_xsymbol.
class RSymbolCall {
public:
    RSymbolCall(const CGSpec& spec, std::span<const std::uint64_t> permutation,
                SymbolMethod method);
    SharedKnownSymbol finish_if_cheap(CallContext& context);
    Result<RSymbol> finish(CallContext& context);

private:
    const SharedKnownSymbol& known();

    const CGSpec& spec_;
    std::span<const std::uint64_t> permutation_;
    SymbolMethod method_;
    SymbolKeyBuilder key_;
    SharedKnownSymbol known_;
    bool looked_up_ = false;
};

}  // namespace tavrin
