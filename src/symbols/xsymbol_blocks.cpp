// The X-symbol over the m-conserving blocks. For every tuple f_A of A's uncontracted indices and
// every tuple f_B of B's whose charges cancel (C is zero elsewhere), T[a, b] = sum over the
// contracted indices of BA[f_A, k, a] BB[k, f_B, b] is formed from the two sides' non-zero rows
// and added to X[a, b, :] with C's row at (f_A, f_B).
#include "symbols/xsymbol_blocks.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <vector>


namespace tavrin {

namespace {

// One tuple of a side's uncontracted indices: its charge, its part of C's row, its rows.
struct FreeGroup {
    std::int64_t charge;  // sum of sign * 2m over the side's uncontracted legs
    std::uint64_t c_offset;
    bool c_negates;
    std::size_t begin;
    std::size_t end;
};

// A non-zero row of a side's basis: its contracted indices as one key (in pair order), the row.
struct PairedRow {
    std::uint64_t pair_key;
    const double* row;
    double sign;
};

struct Side {
    std::vector<FreeGroup> groups;
    std::vector<PairedRow> rows;
};

struct SideLayout {
    const PhasedBasis& basis;
    std::vector<std::size_t> free_edges;    // in the side's edge order
    std::vector<std::size_t> paired_edges;  // in pair order
    const PhasedBasis& c;
    std::size_t c_first;  // the side's free edges are C's edges c_first, c_first + 1, ...
};

constexpr std::size_t kGroupsBetweenStopChecks = 64;

Result<Side> collect_side(const SideLayout& layout, std::optional<FixedIndex> fixed,
                          CallContext& context) {
    std::vector<std::size_t> edges = layout.free_edges;
    edges.insert(edges.end(), layout.paired_edges.begin(), layout.paired_edges.end());
    std::vector<Leg> legs;
    for (std::size_t edge : edges) {
        legs.push_back(layout.basis.leg(edge));
    }
    const std::size_t free_count = layout.free_edges.size();
    Side side;
    std::vector<std::uint32_t> current_free;
    bool stopped = false;
    ConservingTuples(legs, fixed).for_each([&](std::span<const std::uint32_t> indices) {
        if (stopped) {
            return;
        }
        const auto free = indices.first(free_count);
        if (side.groups.empty() || !std::ranges::equal(free, current_free)) {
            if (!side.groups.empty()) {
                side.groups.back().end = side.rows.size();
            }
            if (side.groups.size() % kGroupsBetweenStopChecks == 0 && context.should_stop()) {
                stopped = true;
                return;
            }
            current_free.assign(free.begin(), free.end());
            FreeGroup group{0, 0, false, side.rows.size(), side.rows.size()};
            for (std::size_t f = 0; f < free_count; ++f) {
                const Leg& leg = legs[f];
                group.charge += leg.sign * (2 * std::int64_t{free[f]} - leg.twice_spin);
                group.c_offset += layout.c.offset(layout.c_first + f, free[f]);
                group.c_negates ^= layout.c.negates(layout.c_first + f, free[f]);
            }
            side.groups.push_back(group);
        }
        std::uint64_t key = 0;
        std::uint64_t offset = 0;
        bool negates = false;
        for (std::size_t k = 0; k < edges.size(); ++k) {
            if (k >= free_count) {
                key = key * static_cast<std::uint64_t>(legs[k].twice_spin + 1) + indices[k];
            }
            offset += layout.basis.offset(edges[k], indices[k]);
            negates ^= layout.basis.negates(edges[k], indices[k]);
        }
        side.rows.push_back(PairedRow{key, layout.basis.data() + offset, negates ? -1.0 : 1.0});
    });
    if (stopped) {
        return fail(TavrinError::interrupted());
    }
    if (!side.groups.empty()) {
        side.groups.back().end = side.rows.size();
    }
    return side;
}

// t[a, b] = sum over the contracted indices both groups have of sign * row_A[a] * row_B[b].
bool contract_pairs(const Side& side_a, const FreeGroup& ga, const Side& side_b,
                    const FreeGroup& gb, std::uint64_t om_a, std::uint64_t om_b,
                    std::vector<double>& t) {
    std::ranges::fill(t, 0.0);
    bool any = false;
    std::size_t i = ga.begin;
    std::size_t j = gb.begin;
    while (i < ga.end && j < gb.end) {
        const PairedRow& ra = side_a.rows[i];
        const PairedRow& rb = side_b.rows[j];
        if (ra.pair_key < rb.pair_key) {
            ++i;
            continue;
        }
        if (rb.pair_key < ra.pair_key) {
            ++j;
            continue;
        }
        any = true;
        const double sign = ra.sign * rb.sign;
        for (std::uint64_t a = 0; a < om_a; ++a) {
            const double va = sign * ra.row[a];
            double* out = t.data() + a * om_b;
            for (std::uint64_t b = 0; b < om_b; ++b) {
                out[b] += va * rb.row[b];
            }
        }
        ++i;
        ++j;
    }
    return any;
}

std::vector<std::size_t> uncontracted(std::size_t n, const std::vector<std::uint64_t>& axes) {
    std::vector<bool> contracted(n, false);
    for (std::uint64_t axis : axes) {
        contracted[axis] = true;
    }
    std::vector<std::size_t> free;
    for (std::size_t k = 0; k < n; ++k) {
        if (!contracted[k]) {
            free.push_back(k);
        }
    }
    return free;
}

}  // namespace

Result<Tensor> contract_xsymbol_blocks(BasisOperand a, BasisOperand b, BasisOperand c,
                                       const Contraction& contraction, CallContext& context) {
    const PhasedBasis pa(a.canonical, a.spec);
    const PhasedBasis pb(b.canonical, b.spec);
    const PhasedBasis pc(c.canonical, c.spec);
    const auto& axes_a = contraction.axes_a();
    const auto& axes_b = contraction.axes_b();
    SideLayout layout_a{pa, uncontracted(a.spec.num_external(), axes_a),
                        {axes_a.begin(), axes_a.end()}, pc, 0};
    SideLayout layout_b{pb, uncontracted(b.spec.num_external(), axes_b),
                        {axes_b.begin(), axes_b.end()}, pc, layout_a.free_edges.size()};

    // T = BA * BB is invariant with C's edges only when every pair joins an incoming with an
    // outgoing edge; only then may one of C's legs keep a fixed m.
    bool invariant = true;
    for (std::size_t p = 0; p < axes_a.size(); ++p) {
        invariant = invariant && pa.leg(axes_a[p]).sign != pb.leg(axes_b[p]).sign;
    }
    std::optional<FixedIndex> fixed_a;
    std::optional<FixedIndex> fixed_b;
    double scale = 1.0;
    if (invariant) {
        std::int32_t widest = -1;
        for (std::size_t f = 0; f < layout_a.free_edges.size(); ++f) {
            const std::int32_t twice = pa.leg(layout_a.free_edges[f]).twice_spin;
            if (twice > widest) {
                widest = twice;
                fixed_a = FixedIndex{f, 0};
            }
        }
        for (std::size_t f = 0; f < layout_b.free_edges.size(); ++f) {
            const std::int32_t twice = pb.leg(layout_b.free_edges[f]).twice_spin;
            if (twice > widest) {
                widest = twice;
                fixed_a.reset();
                fixed_b = FixedIndex{f, 0};
            }
        }
        scale = widest >= 0 ? static_cast<double>(widest + 1) : 1.0;
    }

    auto side_a = collect_side(layout_a, fixed_a, context);
    if (!side_a) {
        return fail(std::move(side_a.error()));
    }
    auto side_b = collect_side(layout_b, fixed_b, context);
    if (!side_b) {
        return fail(std::move(side_b.error()));
    }
    std::unordered_map<std::int64_t, std::vector<std::size_t>> b_groups_by_charge;
    for (std::size_t h = 0; h < side_b->groups.size(); ++h) {
        b_groups_by_charge[side_b->groups[h].charge].push_back(h);
    }

    const std::uint64_t om_a = pa.om();
    const std::uint64_t om_b = pb.om();
    const std::uint64_t om_c = pc.om();
    Tensor x = Tensor::zeros({om_a, om_b, om_c});
    double* out = x.data().data();
    std::vector<double> t(om_a * om_b);
    std::size_t visited = 0;
    for (const FreeGroup& ga : side_a->groups) {
        if (visited++ % kGroupsBetweenStopChecks == 0 && context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        const auto partners = b_groups_by_charge.find(-ga.charge);
        if (partners == b_groups_by_charge.end()) {
            continue;
        }
        for (std::size_t h : partners->second) {
            const FreeGroup& gb = side_b->groups[h];
            if (!contract_pairs(*side_a, ga, *side_b, gb, om_a, om_b, t)) {
                continue;
            }
            const double* row_c = pc.data() + ga.c_offset + gb.c_offset;
            const double sign_c = ga.c_negates != gb.c_negates ? -scale : scale;
            for (std::uint64_t ab = 0; ab < om_a * om_b; ++ab) {
                const double v = sign_c * t[ab];
                double* target = out + ab * om_c;
                for (std::uint64_t k = 0; k < om_c; ++k) {
                    target[k] += v * row_c[k];
                }
            }
        }
    }
    return x;
}

}  // namespace tavrin
