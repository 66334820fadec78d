#include "blocks/block_permutation.hpp"

#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "blocks/block_copy.hpp"
#include "blocks/block_timing.hpp"
#include "blocks/matrix.hpp"
#include "blocks/plan_key.hpp"
#include "support/process_store.hpp"
#include "symbols/rsymbol.hpp"

namespace tavrin::blocks {

namespace {

// For each block of the tensor, where it goes and the R-symbol [om, om'] that takes it there.
struct PermutationPlan {
    std::vector<std::uint32_t> target;
    std::vector<Tensor> rsymbols;
    std::shared_ptr<const BlockStructure> result;
    std::size_t bytes() const {
        std::size_t total = heap_block_bytes(target.capacity() * sizeof(std::uint32_t)) +
                            heap_block_bytes(rsymbols.capacity() * sizeof(Tensor));
        for (const Tensor& r : rsymbols) {
            total += heap_block_bytes(r.size() * sizeof(double)) +
                     heap_block_bytes(r.rank() * sizeof(std::uint64_t));
        }
        return total + structure_bytes(*result);
    }
};

using PermutationPlanStore =
    BoundedStore<PlanKey, std::shared_ptr<const PermutationPlan>, PlanKeyHash>;

PermutationPlanStore& permutation_plans() {
    static auto* const memo = new PermutationPlanStore(
        "block_permutation_plans", "TAVRIN_BLOCK_PERMUTATION_PLANS_BYTES",
        std::uint64_t{64} << 20, 8);
    return *memo;
}

// Made with the library, so that the memo is listed before its first use.
[[maybe_unused]] const bool made_at_start = (permutation_plans(), true);

Status check_permutation(std::span<const std::size_t> permutation, std::size_t rank) {
    if (permutation.size() != rank) {
        return fail(TavrinError::invalid_block_tensor(
            "a permutation of " + std::to_string(rank) + " legs has " + std::to_string(rank) +
            " entries, got " + std::to_string(permutation.size())));
    }
    std::vector<bool> seen(rank, false);
    for (const std::size_t leg : permutation) {
        if (leg >= rank || seen[leg]) {
            return fail(TavrinError::invalid_block_tensor(
                "a permutation names every leg once; got leg " + std::to_string(leg) +
                (leg >= rank ? " of " + std::to_string(rank) : " twice")));
        }
        seen[leg] = true;
    }
    return {};
}

Result<std::shared_ptr<const PermutationPlan>> make_plan(const BlockTensor& tensor,
                                                         const std::vector<Leg>& legs,
                                                         std::span<const std::size_t> permutation,
                                                         CallContext& context) {
    auto result = block_structure(legs, context);
    if (!result) return fail(std::move(result.error()));
    auto plan = std::make_shared<PermutationPlan>();
    plan->result = *result;
    const std::vector<std::uint64_t> order(permutation.begin(), permutation.end());
    for (const Block& block : tensor.blocks()) {
        SectorTuple sectors(permutation.size());
        for (std::size_t k = 0; k < permutation.size(); ++k) {
            sectors[k] = block.sectors[permutation[k]];
        }
        const auto at = std::ranges::lower_bound(plan->result->sectors, sectors);
        plan->target.push_back(static_cast<std::uint32_t>(at - plan->result->sectors.begin()));
        auto spec = block_spec(tensor, block.sectors);
        if (!spec) return fail(std::move(spec.error()));
        const TimedSection timed(TimedWork::Symbols);
        auto r = compute_rsymbol(*spec, order, context, SymbolMethod::Recoupling);
        if (!r) return fail(std::move(r.error()));
        plan->rsymbols.push_back(std::move(r->data));
    }
    return std::shared_ptr<const PermutationPlan>(std::move(plan));
}

Result<std::shared_ptr<const PermutationPlan>> permutation_plan(
    const BlockTensor& tensor, const std::vector<Leg>& legs,
    std::span<const std::size_t> permutation, CallContext& context) {
    PlanKey key;
    append_legs_to_key(key, tensor.legs());
    append_positions_to_key(key, permutation);
    if (auto known = permutation_plans().find(key)) return *known;
    auto plan = make_plan(tensor, legs, permutation, context);
    if (!plan) return plan;
    const std::uint64_t bytes = heap_block_bytes(key.capacity() * sizeof(std::int64_t)) +
                                heap_block_bytes(2 * sizeof(void*) + sizeof(PermutationPlan)) +
                                (*plan)->bytes();
    permutation_plans().insert(std::move(key), *plan, bytes);
    return plan;
}

// (-1)^(2j) as a factor.
double half_integer_sign(std::int32_t twice_j) { return twice_j % 2 != 0 ? -1.0 : 1.0; }

}  // namespace

Result<BlockTensor> permute(const BlockTensor& tensor, std::span<const std::size_t> permutation,
                            CallContext& context) {
    const std::size_t n = tensor.rank();
    if (auto checked = check_permutation(permutation, n); !checked) {
        return fail(std::move(checked.error()));
    }
    std::vector<Leg> legs;
    for (const std::size_t k : permutation) legs.push_back(tensor.legs()[k]);
    if (n < 2) return *BlockTensor::from_blocks(std::move(legs), tensor.blocks());
    auto plan = permutation_plan(tensor, legs, permutation, context);
    if (!plan) return fail(std::move(plan.error()));
    const TimedSection timed(TimedWork::BlockLoop);
    BlockTensor result = BlockTensor::zeros_of(std::move(legs), (*plan)->result);
    std::vector<std::size_t> order(permutation.begin(), permutation.end());
    order.push_back(n);
    std::vector<double> moved;
    for (std::size_t i = 0; i < tensor.blocks().size(); ++i) {
        const Tensor& block = tensor.blocks()[i].data;
        const Tensor& r = (*plan)->rsymbols[i];
        Tensor& target = result.blocks()[(*plan)->target[i]].data;
        const std::uint64_t om = r.shape()[0], om_permuted = r.shape()[1];
        const std::uint64_t multiplets = block.size() / om;
        moved.resize(block.size());
        copy_permuted(block, order, n, moved.data(), om);
        multiply(ConstMatrixView(moved.data(), multiplets, om, om),
                 ConstMatrixView(r.data().data(), om, om_permuted, om_permuted),
                 MatrixView{target.data().data(), multiplets, om_permuted, om_permuted}, 1.0,
                 0.0);
    }
    return result;
}

BlockTensor conjugate(const BlockTensor& tensor) {
    std::vector<Leg> legs;
    for (const Leg& leg : tensor.legs()) legs.push_back(leg.flipped());
    BlockTensor result = BlockTensor::zeros_of(legs, tensor.structure());
    const std::size_t n = legs.size();
    for (std::size_t b = 0; b < tensor.blocks().size(); ++b) {
        const Block& block = tensor.blocks()[b];
        // The conjugate's pattern: legs 0 ... n-2 outgoing, leg n-1 incoming.
        double phase = 1.0;
        for (std::size_t k = 0; k < n; ++k) {
            const bool expected_incoming = k + 1 == n;
            if (legs[k].direction().is_incoming() != expected_incoming) {
                phase *= half_integer_sign(legs[k].twice_j(block.sectors[k]));
            }
        }
        Tensor& target = result.blocks()[b].data;
        target = block.data;
        if (phase < 0.0) {
            for (double& x : target.data()) x = -x;
        }
    }
    return result;
}

Result<BlockTensor> flip_leg(const BlockTensor& tensor, std::size_t leg) {
    const std::size_t n = tensor.rank();
    if (auto checked = check_leg_position("leg", leg, n); !checked) {
        return fail(std::move(checked.error()));
    }
    std::vector<Leg> legs = tensor.legs();
    legs[leg] = legs[leg].flipped();
    BlockTensor result = BlockTensor::zeros_of(legs, tensor.structure());
    for (std::size_t b = 0; b < tensor.blocks().size(); ++b) {
        const Block& block = tensor.blocks()[b];
        Tensor& target = result.blocks()[b].data;
        target = block.data;
        if (leg + 1 == n && half_integer_sign(legs[leg].twice_j(block.sectors[leg])) < 0.0) {
            for (double& x : target.data()) x = -x;
        }
    }
    return result;
}

}  // namespace tavrin::blocks
