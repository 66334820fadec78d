// R-symbols from exchanges of adjacent legs of fusion trees, without magnetic sums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "recoupling/tree_program.hpp"
#include "specs/cg_spec.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::recoupling {

// The moves that make an R-symbol, with their coefficients, and where each value goes: what an
// R-symbol by recoupling needs besides its sums. It depends only on the specification and the
// permutation.
struct RecoupledRPlan {
    TreeProgram program;
    std::vector<std::uint32_t> entry;  // the flat index in R of every final slot
    std::vector<double> sign;          // and the sign it takes there
    std::uint64_t rows = 0;
    std::uint64_t columns = 0;

    std::size_t bytes() const;
};

// The plan of R[a, b] = <BO_a | permuted BP_b> of the dense definition, for a checked
// permutation and the permuted specification built from it (edge k of spec_permuted is edge
// permutation[k] of spec). Both specifications have two or more edges (see check_tree_shape).
// Fails only with Interrupted.
Result<std::shared_ptr<const RecoupledRPlan>> plan_rsymbol_by_recoupling(
    const CGSpec& spec, const CGSpec& spec_permuted, std::span<const std::uint64_t> permutation,
    CallContext& context);

// The R-symbol by its plan. Fails only with Interrupted.
Result<Tensor> rsymbol_by_recoupling(const RecoupledRPlan& plan, CallContext& context);

}  // namespace tavrin::recoupling
