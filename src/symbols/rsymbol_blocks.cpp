// The R-symbol over the m-conserving blocks: the original basis is read through the
// permutation (no aligned copy), and with every edge's direction kept both factors are
// invariant with the same edges, so the widest leg keeps a fixed m and the sum is scaled.
#include "symbols/rsymbol_blocks.hpp"

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "support/assertion.hpp"
#include "symbols/outer_product_sum.hpp"

namespace tavrin {

namespace {

constexpr std::size_t kRowsBetweenStopChecks = 4096;

std::optional<FixedIndex> widest_leg(const std::vector<Leg>& legs) {
    std::optional<FixedIndex> fixed;
    std::int32_t widest = -1;
    for (std::size_t k = 0; k < legs.size(); ++k) {
        if (legs[k].twice_spin > widest) {
            widest = legs[k].twice_spin;
            fixed = FixedIndex{k, 0};
        }
    }
    return fixed;
}

// One pair of rows that meet: where each starts, and the signed scale of its product.
struct MeetingRows {
    std::uint64_t original;
    std::uint64_t permuted;
    double factor;
};

}  // namespace

struct RBlockPlan {
    std::uint64_t om_original;
    std::uint64_t om_permuted;
    std::array<std::uint64_t, 2> sizes;  // of the bases, in doubles
    std::vector<MeetingRows> rows;
};

Result<std::shared_ptr<const RBlockPlan>> plan_rsymbol_blocks(
    BasisOperand original, BasisOperand permuted, std::span<const std::uint64_t> permutation,
    CallContext& context) {
    const PhasedBasis po(original.canonical, original.spec);
    const PhasedBasis pp(permuted.canonical, permuted.spec);
    auto plan = std::make_shared<RBlockPlan>(
        RBlockPlan{po.om(), pp.om(), {original.canonical.size(), permuted.canonical.size()}, {}});
    const std::optional<FixedIndex> fixed = widest_leg(pp.legs());
    const double scale =
        fixed ? static_cast<double>(pp.leg(fixed->leg).twice_spin + 1) : 1.0;
    std::size_t visited = 0;
    const bool finished =
        ConservingTuples(pp.legs(), fixed).for_each([&](std::span<const std::uint32_t> indices) {
        if (visited++ % kRowsBetweenStopChecks == 0 && context.should_stop()) {
            return false;
        }
        std::uint64_t offset_o = 0;
        std::uint64_t offset_p = 0;
        bool negates = false;
        for (std::size_t k = 0; k < indices.size(); ++k) {
            const std::size_t edge = permutation[k];
            offset_o += po.offset(edge, indices[k]);
            offset_p += pp.offset(k, indices[k]);
            negates ^= po.negates(edge, indices[k]) != pp.negates(k, indices[k]);
        }
        plan->rows.push_back(MeetingRows{offset_o, offset_p, negates ? -scale : scale});
        return true;
    });
    if (!finished) {
        return fail(TavrinError::interrupted());
    }
    return std::shared_ptr<const RBlockPlan>(std::move(plan));
}

std::size_t plan_bytes(const RBlockPlan& plan) {
    return sizeof(RBlockPlan) + plan.rows.capacity() * sizeof(MeetingRows);
}

Result<Tensor> sum_rsymbol_blocks(const RBlockPlan& plan, const Tensor& original,
                                  const Tensor& permuted, CallContext& context) {
    check_invariant(plan.sizes == std::array{original.size(), permuted.size()},
                    "bases of the sizes the plan was made for");
    Tensor r = Tensor::zeros({plan.om_original, plan.om_permuted});
    OuterProductSum sum(plan.om_original, plan.om_permuted, r.data().data(), plan.om_permuted);
    const double* const data_o = original.data().data();
    const double* const data_p = permuted.data().data();
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
        if (i % kRowsBetweenStopChecks == 0 && context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        const MeetingRows& rows = plan.rows[i];
        sum.add(rows.factor, data_o + rows.original, data_p + rows.permuted);
    }
    sum.flush();
    return r;
}

}  // namespace tavrin
