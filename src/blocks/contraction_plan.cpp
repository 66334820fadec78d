#include "blocks/contraction_plan.hpp"

#include <algorithm>
#include <map>

#include "blocks/block_timing.hpp"
#include "blocks/plan_key.hpp"
#include "symbols/conjugate.hpp"
#include "symbols/rsymbol.hpp"
#include "symbols/xsymbol.hpp"

namespace tavrin::blocks {

namespace {

std::vector<bool> paired(std::size_t rank, std::span<const std::size_t> axes) {
    std::vector<bool> is_paired(rank, false);
    for (const std::size_t axis : axes) is_paired[axis] = true;
    return is_paired;
}

void append_free_sectors(SectorTuple& into, const SectorTuple& sectors,
                         const std::vector<bool>& is_paired) {
    for (std::size_t k = 0; k < sectors.size(); ++k) {
        if (!is_paired[k]) into.push_back(sectors[k]);
    }
}

// X[a, b, 0] of a contraction over every leg: the overlap of the two bases, which is the
// R-symbol that brings B's legs into A's order times the phase of conjugating A (B is then A's
// conjugate, whose basis is that phase times A's).
Result<Tensor> full_contraction_symbol(const CGSpec& spec_a, const CGSpec& spec_b,
                                       std::span<const std::size_t> axes_a,
                                       std::span<const std::size_t> axes_b,
                                       CallContext& context) {
    std::vector<std::uint64_t> order(axes_a.size());
    for (std::size_t i = 0; i < axes_a.size(); ++i) order[axes_a[i]] = axes_b[i];
    auto r = compute_rsymbol(spec_b, order, context, SymbolMethod::Recoupling);
    if (!r) return fail(std::move(r.error()));
    auto conjugate = compute_conjugate(spec_a);
    if (!conjugate) return fail(std::move(conjugate.error()));
    const std::uint64_t om_a = spec_a.om_dimension();
    const std::uint64_t om_b = spec_b.om_dimension();
    Tensor x = Tensor::zeros({om_a, om_b, 1});
    for (std::uint64_t a = 0; a < om_a; ++a) {
        for (std::uint64_t b = 0; b < om_b; ++b) {
            x.data()[a * om_b + b] = conjugate->phase * r->data.data()[b * om_a + a];
        }
    }
    return x;
}

Result<Tensor> pair_symbol(const CGSpec& spec_a, const CGSpec& spec_b,
                           std::span<const std::size_t> axes_a,
                           std::span<const std::size_t> axes_b, bool full,
                           CallContext& context) {
    const TimedSection timed(TimedWork::Symbols);
    if (full) return full_contraction_symbol(spec_a, spec_b, axes_a, axes_b, context);
    auto contraction = Contraction::create({axes_a.begin(), axes_a.end()},
                                           {axes_b.begin(), axes_b.end()});
    auto x = compute_xsymbol(spec_a, spec_b, *contraction, context, SymbolMethod::Recoupling);
    if (!x) return fail(std::move(x.error()));
    return std::move(x->data);
}

// The planned pairs of one group before it is finished: blocks named by their index.
struct PendingPair {
    std::uint32_t a_block;
    std::uint32_t b_block;
    std::uint32_t result_block;
    std::uint32_t first_coefficient;
    std::uint32_t coefficient_count;
};

ContractionGroup finished_group(const std::vector<PendingPair>& pending) {
    ContractionGroup group;
    for (const PendingPair& p : pending) {
        group.a_blocks.push_back(p.a_block);
        group.b_blocks.push_back(p.b_block);
    }
    for (auto* list : {&group.a_blocks, &group.b_blocks}) {
        std::ranges::sort(*list);
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    const auto slot = [](const std::vector<std::uint32_t>& list, std::uint32_t block) {
        return static_cast<std::uint32_t>(std::ranges::lower_bound(list, block) - list.begin());
    };
    for (const PendingPair& p : pending) {
        group.pairs.push_back({slot(group.a_blocks, p.a_block), slot(group.b_blocks, p.b_block),
                               p.result_block, p.first_coefficient, p.coefficient_count});
    }
    return group;
}

Result<std::shared_ptr<const ContractionPlan>> make_plan(const BlockTensor& a,
                                                         const BlockTensor& b,
                                                         std::span<const std::size_t> axes_a,
                                                         std::span<const std::size_t> axes_b,
                                                         CallContext& context) {
    const std::vector<Leg> result_legs = contracted_legs(a, b, axes_a, axes_b);
    auto result = block_structure(result_legs, context);
    if (!result) return fail(std::move(result.error()));
    auto plan = std::make_shared<ContractionPlan>();
    plan->result = *result;
    const bool full = result_legs.empty();
    const std::vector<bool> paired_a = paired(a.rank(), axes_a);
    const std::vector<bool> paired_b = paired(b.rank(), axes_b);

    // B's blocks by the sectors of their paired legs, in A's pair order.
    std::map<SectorTuple, std::vector<std::uint32_t>> b_by_paired;
    for (std::size_t j = 0; j < b.blocks().size(); ++j) {
        SectorTuple key;
        for (const std::size_t axis : axes_b) key.push_back(b.blocks()[j].sectors[axis]);
        b_by_paired[key].push_back(static_cast<std::uint32_t>(j));
    }
    std::map<SectorTuple, std::vector<PendingPair>> groups;
    for (std::size_t i = 0; i < a.blocks().size(); ++i) {
        const SectorTuple& sectors_a = a.blocks()[i].sectors;
        // The same spins on B's paired legs: the sector positions may differ between the legs.
        SectorTuple key;
        bool present = true;
        for (std::size_t p = 0; p < axes_a.size() && present; ++p) {
            const std::int32_t spin = a.legs()[axes_a[p]].twice_j(sectors_a[axes_a[p]]);
            const auto at = b.legs()[axes_b[p]].find(spin);
            present = at.has_value();
            if (present) key.push_back(static_cast<std::uint32_t>(*at));
        }
        if (!present) continue;
        const auto partners = b_by_paired.find(key);
        if (partners == b_by_paired.end()) continue;
        auto spec_a = block_spec(a, sectors_a);
        if (!spec_a) return fail(std::move(spec_a.error()));
        for (const std::uint32_t j : partners->second) {
            const SectorTuple& sectors_b = b.blocks()[j].sectors;
            SectorTuple sectors_c;
            append_free_sectors(sectors_c, sectors_a, paired_a);
            append_free_sectors(sectors_c, sectors_b, paired_b);
            const auto c = std::ranges::lower_bound(plan->result->sectors, sectors_c);
            if (c == plan->result->sectors.end() || *c != sectors_c) continue;
            auto spec_b = block_spec(b, sectors_b);
            if (!spec_b) return fail(std::move(spec_b.error()));
            auto x = pair_symbol(*spec_a, *spec_b, axes_a, axes_b, full, context);
            if (!x) return fail(std::move(x.error()));
            const auto first = static_cast<std::uint32_t>(plan->coefficients.size());
            const Shape& shape = x->shape();
            for (std::uint64_t e = 0; e < x->size(); ++e) {
                const double value = x->data()[e];
                if (value == 0.0) continue;
                plan->coefficients.push_back(
                    {static_cast<std::uint32_t>(e / (shape[1] * shape[2])),
                     static_cast<std::uint32_t>(e / shape[2] % shape[1]),
                     static_cast<std::uint32_t>(e % shape[2]), value});
            }
            const auto count = static_cast<std::uint32_t>(plan->coefficients.size()) - first;
            if (count == 0) continue;
            groups[key].push_back(
                {static_cast<std::uint32_t>(i), j,
                 static_cast<std::uint32_t>(c - plan->result->sectors.begin()), first, count});
        }
    }
    for (const auto& [key, pending] : groups) plan->groups.push_back(finished_group(pending));
    return std::shared_ptr<const ContractionPlan>(std::move(plan));
}

PlanKey plan_key(const BlockTensor& a, const BlockTensor& b, std::span<const std::size_t> axes_a,
                 std::span<const std::size_t> axes_b) {
    PlanKey key;
    append_legs_to_key(key, a.legs());
    append_legs_to_key(key, b.legs());
    append_positions_to_key(key, axes_a);
    append_positions_to_key(key, axes_b);
    return key;
}

std::uint64_t owned_bytes(const PlanKey& key, const ContractionPlan& plan) {
    return heap_block_bytes(key.capacity() * sizeof(std::int64_t)) +
           heap_block_bytes(2 * sizeof(void*) + sizeof(ContractionPlan)) + plan.bytes();
}

}  // namespace

std::size_t ContractionPlan::bytes() const {
    std::size_t total = heap_block_bytes(groups.capacity() * sizeof(ContractionGroup)) +
                        heap_block_bytes(coefficients.capacity() * sizeof(PairCoefficient));
    for (const ContractionGroup& group : groups) {
        total += heap_block_bytes(group.a_blocks.capacity() * sizeof(std::uint32_t)) +
                 heap_block_bytes(group.b_blocks.capacity() * sizeof(std::uint32_t)) +
                 heap_block_bytes(group.pairs.capacity() * sizeof(ContractedPair));
    }
    total += structure_bytes(*result);
    return total;
}

std::vector<Leg> contracted_legs(const BlockTensor& a, const BlockTensor& b,
                                 std::span<const std::size_t> axes_a,
                                 std::span<const std::size_t> axes_b) {
    std::vector<Leg> legs;
    const std::vector<bool> paired_a = paired(a.rank(), axes_a);
    const std::vector<bool> paired_b = paired(b.rank(), axes_b);
    for (std::size_t k = 0; k < a.rank(); ++k) {
        if (!paired_a[k]) legs.push_back(a.legs()[k]);
    }
    for (std::size_t k = 0; k < b.rank(); ++k) {
        if (!paired_b[k]) legs.push_back(b.legs()[k]);
    }
    return legs;
}

ContractionPlanStore& contraction_plans() {
    static auto* const memo =
        new ContractionPlanStore("block_contraction_plans", "TAVRIN_BLOCK_CONTRACTION_PLANS_BYTES",
                                 std::uint64_t{256} << 20, 8);
    return *memo;
}

namespace {
// Made with the library, so that the memo is listed before its first use.
[[maybe_unused]] const bool made_at_start = (contraction_plans(), true);
}  // namespace

Result<std::shared_ptr<const ContractionPlan>> contraction_plan(
    const BlockTensor& a, const BlockTensor& b, std::span<const std::size_t> axes_a,
    std::span<const std::size_t> axes_b, CallContext& context) {
    PlanKey key = plan_key(a, b, axes_a, axes_b);
    if (auto known = contraction_plans().find(key)) return *known;
    auto plan = make_plan(a, b, axes_a, axes_b, context);
    if (!plan) return plan;
    const std::uint64_t bytes = owned_bytes(key, **plan);
    contraction_plans().insert(std::move(key), *plan, bytes);
    return plan;
}

}  // namespace tavrin::blocks
