// R-symbols from exchanges of adjacent legs of fusion trees, without magnetic sums.
#pragma once

#include <cstdint>
#include <span>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "specs/cg_spec.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::recoupling {

// R[a, b] = <BO_a | permuted BP_b> of the dense definition, for a checked permutation and the
// permuted specification built from it (edge k of spec_permuted is edge permutation[k] of spec).
// Both specifications have two or more edges (see check_tree_shape).
Result<Tensor> rsymbol_by_recoupling(const CGSpec& spec, const CGSpec& spec_permuted,
                                     std::span<const std::uint64_t> permutation,
                                     CallContext& context);

}  // namespace tavrin::recoupling
