// X-symbols from fusion-tree moves, without magnetic sums over the edges of A, B or C.
#pragma once

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "specs/cg_spec.hpp"
#include "specs/contraction.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::recoupling {

// X[a, b, c] of the dense definition for a checked contraction and the CG specification C built
// from it. A, B and C have two or more edges (see check_tree_shape).
Result<Tensor> xsymbol_by_recoupling(const CGSpec& spec_a, const CGSpec& spec_b,
                                     const Contraction& contraction, const CGSpec& spec_c,
                                     CallContext& context);

}  // namespace tavrin::recoupling
