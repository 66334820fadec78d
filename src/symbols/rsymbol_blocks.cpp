// The R-symbol over the m-conserving blocks: the original basis is read through the
// permutation (no aligned copy), and with every edge's direction kept both factors are
// invariant with the same edges, so the widest leg keeps a fixed m and the sum is scaled.
#include "symbols/rsymbol_blocks.hpp"

#include <optional>
#include <vector>

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

}  // namespace

Result<Tensor> contract_rsymbol_blocks(BasisOperand original, BasisOperand permuted,
                                       std::span<const std::uint64_t> permutation,
                                       CallContext& context) {
    const PhasedBasis po(original.canonical, original.spec);
    const PhasedBasis pp(permuted.canonical, permuted.spec);
    const std::uint64_t om_o = po.om();
    const std::uint64_t om_p = pp.om();
    Tensor r = Tensor::zeros({om_o, om_p});
    OuterProductSum sum(om_o, om_p, r.data().data(), om_p);

    const std::optional<FixedIndex> fixed = widest_leg(pp.legs());
    const double scale =
        fixed ? static_cast<double>(pp.leg(fixed->leg).twice_spin + 1) : 1.0;
    std::size_t visited = 0;
    bool stopped = false;
    ConservingTuples(pp.legs(), fixed).for_each([&](std::span<const std::uint32_t> indices) {
        if (stopped || (visited++ % kRowsBetweenStopChecks == 0 && context.should_stop())) {
            stopped = true;
            return;
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
        sum.add(negates ? -scale : scale, po.data() + offset_o, pp.data() + offset_p);
    });
    sum.flush();
    if (stopped) {
        return fail(TavrinError::interrupted());
    }
    return r;
}

}  // namespace tavrin
