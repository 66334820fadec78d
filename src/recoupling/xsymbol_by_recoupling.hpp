// X-symbols from fusion-tree moves, without magnetic sums over the edges of A, B or C.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "recoupling/tree_program.hpp"
#include "specs/cg_spec.hpp"
#include "specs/contraction.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::recoupling {

// The moves that make an X-symbol, with their coefficients, and how the entries are read off
// the results: what an X-symbol by recoupling needs besides its sums. It depends only on the
// specifications and the contraction.
//
// A's and B's trees are rearranged each on its own (A's paired legs last, B's first, in
// mirrored order) and every entry is a sum of products RA * RB * w of their coefficients with
// the weight of the pairs between them: a singlet weight where every pair joins an incoming with
// an outgoing edge. (The moves can also act on the product of the two trees, each entry then a
// sum of its coefficients times weights: the same entries, a check of the first way.)
struct RecoupledXPlan {
    struct Term {
        std::uint32_t slot_a;  // a final slot of program_a (or of program, for the product)
        std::uint32_t slot_b;  // a final slot of program_b; unused for the product
        std::uint32_t weight;  // index into weights
    };
    bool factorised = true;
    TreeProgram program_a;  // A's moves, or the product's
    TreeProgram program_b;  // B's moves
    std::vector<DoubleDouble> weights;
    // Entry e of the readout is element entry[e] of X (flat), the sum of its terms
    // terms[term_begin[e] .. term_begin[e + 1]).
    std::vector<std::uint32_t> entry;
    std::vector<std::uint32_t> term_begin;
    std::vector<Term> terms;
    std::uint64_t om_a = 0;
    std::uint64_t om_b = 0;
    std::uint64_t om_c = 0;

    std::size_t bytes() const;
};

// The plan of X[a, b, c] of the dense definition for a checked contraction and the CG
// specification C built from it. A, B and C have two or more edges (see check_tree_shape).
// Fails only with Interrupted. With `factorised` false, the product of the trees is used
// (for tests).
Result<std::shared_ptr<const RecoupledXPlan>> plan_xsymbol_by_recoupling(
    const CGSpec& spec_a, const CGSpec& spec_b, const Contraction& contraction,
    const CGSpec& spec_c, CallContext& context, bool factorised = true);

// The X-symbol by its plan. Fails only with Interrupted.
Result<Tensor> xsymbol_by_recoupling(const RecoupledXPlan& plan, CallContext& context);

}  // namespace tavrin::recoupling
