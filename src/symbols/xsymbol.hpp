// X-symbols: contractions of two canonical bases overlapped with the basis of the result.
#pragma once

#include "specs/cg_spec.hpp"
#include "specs/contraction.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"
#include "symbols/symbol_method.hpp"
#include "symbols/symbol_results.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

struct XSymbol {
    CGSpec spec_c;
    Tensor data;  // [om_a, om_b, om_c]
};

// X[a, b, c] = sum of BA[m_A, a] * BB[m_B, b] * BC[m_C, c] over paired magnetic indices.
// Pairs are checked in order (index bounds, equal spins, no edge named twice in one list)
// before any basis is fetched. Both methods make the same checks in the same order and return
// the same specification C. A result is kept in the memo of X-symbol results; a repeated call
// copies it, after fetching the bases as a computation would (the dense method's three).
Result<XSymbol> compute_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                                const Contraction& contraction, CallContext& context,
                                SymbolMethod method = SymbolMethod::Dense);

// compute_xsymbol in two steps, for a caller that holds a lock of its own and can finish a
// cheap call without giving it up: finish_if_cheap, finish, or the one and then the other. The
// first of them looks the symbol up in the memo (a hit or a miss counted), once for both. The
// arguments must outlive the object.
class XSymbolCall {
public:
    XSymbolCall(const CGSpec& spec_a, const CGSpec& spec_b, const Contraction& contraction,
                SymbolMethod method);
    // The memo's entry of a known symbol whose bases are all in the in-process store already,
    // their lookups made as finish would make them (touch_stored_canonical_pattern_bases), for
    // the caller to copy what it returns. Null, and nothing done, otherwise.
    SharedKnownSymbol finish_if_cheap(CallContext& context);
    // The result of compute_xsymbol.
    Result<XSymbol> finish(CallContext& context);

private:
    const SharedKnownSymbol& known();

    const CGSpec& spec_a_;
    const CGSpec& spec_b_;
    const Contraction& contraction_;
    SymbolMethod method_;
    SymbolKeyBuilder key_;
    SharedKnownSymbol known_;
    bool looked_up_ = false;
};

}  // namespace tavrin
