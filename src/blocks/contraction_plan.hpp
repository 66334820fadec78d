// The plan of a block contraction: which blocks of A and B meet, grouped by the sectors of the
// paired legs, into which block of the result each pair goes, and with which X-symbol
// coefficients. Kept per process by the structure of the legs, like the symbol plans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "blocks/block_tensor.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"
#include "support/process_store.hpp"
#include "symbols/plan_memo.hpp"

namespace tavrin::blocks {

// One non-zero entry X[a, b, c] of a pair's X-symbol.
struct PairCoefficient {
    std::uint32_t a;
    std::uint32_t b;
    std::uint32_t c;
    double value;
};

struct ContractedPair {
    std::uint32_t a_slot;  // positions in the group's lists of blocks
    std::uint32_t b_slot;
    std::uint32_t result_block;
    std::uint32_t first_coefficient;
    std::uint32_t coefficient_count;
};

// Blocks of A and of B with the same sectors on the paired legs: one matrix product for all.
struct ContractionGroup {
    std::vector<std::uint32_t> a_blocks;
    std::vector<std::uint32_t> b_blocks;
    std::vector<ContractedPair> pairs;
};

struct ContractionPlan {
    std::shared_ptr<const BlockStructure> result;
    std::vector<ContractionGroup> groups;
    std::vector<PairCoefficient> coefficients;
    std::size_t bytes() const;
};

// The legs of the result: A's unpaired legs in order, then B's.
std::vector<Leg> contracted_legs(const BlockTensor& a, const BlockTensor& b,
                                 std::span<const std::size_t> axes_a,
                                 std::span<const std::size_t> axes_b);

// The plan for the legs of a and b (checked by the caller), from the memo or made and kept.
Result<std::shared_ptr<const ContractionPlan>> contraction_plan(
    const BlockTensor& a, const BlockTensor& b, std::span<const std::size_t> axes_a,
    std::span<const std::size_t> axes_b, CallContext& context);

using ContractionPlanStore =
    BoundedStore<PlanKey, std::shared_ptr<const ContractionPlan>, PlanKeyHash>;
ContractionPlanStore& contraction_plans();

}  // namespace tavrin::blocks
