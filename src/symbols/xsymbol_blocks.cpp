// The X-symbol over the m-conserving blocks. Each side (A, B) is listed as its non-zero rows,
// grouped by the tuple f of its uncontracted indices; C is read at (f_A, f_B) where the two
// groups' charges cancel (it is zero elsewhere). The three factors are summed in the order
// that costs the fewest multiplications for the case at hand:
// - pairs first: T[a, b] = sum over k of BA[f_A, k, a] BB[k, f_B, b] per (f_A, f_B), then
//   X[a, b, :] += T[a, b] BC[f_A, f_B, :];
// - B with C first: V[b, :] = sum over f_B of BB[k, f_B, b] BC[f_A, f_B, :] per row (f_A, k) of
//   A, then X[a, b, :] += BA[f_A, k, a] V[b, :]; or the same with A and B exchanged.
#include "symbols/xsymbol_blocks.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "support/assertion.hpp"
#include "support/scratch_vector.hpp"
#include "symbols/outer_product_sum.hpp"

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

// A non-zero row of a side's basis: its contracted indices as one key (in pair order), where
// the row starts in the basis.
struct PairedRow {
    std::uint64_t pair_key;
    std::uint64_t row;
    double sign;
    std::uint32_t group;
};

struct Side {
    std::vector<FreeGroup> groups;
    std::vector<PairedRow> rows;
    std::uint64_t om;
    // The rows ordered by their contracted indices, and those keys, for lookups by key.
    std::vector<std::uint32_t> by_key;
    std::vector<std::uint64_t> sorted_keys;

    void index_by_key() {
        by_key.resize(rows.size());
        for (std::uint32_t i = 0; i < by_key.size(); ++i) {
            by_key[i] = i;
        }
        const auto key_of = [&](std::uint32_t i) { return rows[i].pair_key; };
        if (!std::ranges::is_sorted(by_key, {}, key_of)) {
            std::ranges::sort(by_key, [&](std::uint32_t i, std::uint32_t j) {
                return rows[i].pair_key < rows[j].pair_key ||
                       (rows[i].pair_key == rows[j].pair_key && i < j);
            });
        }
        sorted_keys.clear();
        for (std::uint32_t i : by_key) {
            sorted_keys.push_back(rows[i].pair_key);
        }
    }
    // Positions in by_key of the rows with this key.
    std::pair<std::size_t, std::size_t> rows_with_key(std::uint64_t key) const {
        const auto [first, last] = std::ranges::equal_range(sorted_keys, key);
        return {static_cast<std::size_t>(first - sorted_keys.begin()),
                static_cast<std::size_t>(last - sorted_keys.begin())};
    }
};

// Where the values of the three canonical-pattern bases start.
struct Bases {
    const double* a;
    const double* b;
    const double* c;
};

struct SideLayout {
    const PhasedBasis& basis;
    std::vector<std::size_t> free_edges;    // in the side's edge order
    std::vector<std::size_t> paired_edges;  // in pair order
    const PhasedBasis& c;
    std::size_t c_first;  // the side's free edges are C's edges c_first, c_first + 1, ...
};

constexpr std::size_t kGroupsBetweenStopChecks = 64;

// The charges of a side's groups times `sign`, sorted (a side has few groups: a sorted vector
// costs one allocation where a hash set costs one per group).
std::vector<std::int64_t> sorted_charges(const Side& side, std::int64_t sign) {
    std::vector<std::int64_t> charges;
    charges.reserve(side.groups.size());
    for (const FreeGroup& group : side.groups) {
        charges.push_back(sign * group.charge);
    }
    std::ranges::sort(charges);
    return charges;
}

// A side's group positions ordered by charge, for the groups of one charge by equal_range.
std::vector<std::uint32_t> groups_by_charge(const Side& side) {
    std::vector<std::uint32_t> order(side.groups.size());
    for (std::uint32_t h = 0; h < order.size(); ++h) {
        order[h] = h;
    }
    std::ranges::stable_sort(order, {}, [&](std::uint32_t h) { return side.groups[h].charge; });
    return order;
}
constexpr std::size_t kRowsBetweenStopChecks = 256;

// The non-zero rows of one side. With `partners` (the other side, already collected), only the
// groups whose charge some group of the partner cancels: C is zero for the others.
Result<Side> collect_side(const SideLayout& layout, std::optional<FixedIndex> fixed,
                          const Side* partners, CallContext& context) {
    std::vector<std::int64_t> wanted;
    if (partners != nullptr) {
        wanted = sorted_charges(*partners, -1);
    }
    std::vector<std::size_t> edges = layout.free_edges;
    edges.insert(edges.end(), layout.paired_edges.begin(), layout.paired_edges.end());
    std::vector<Leg> legs;
    legs.reserve(edges.size());
    for (std::size_t edge : edges) {
        legs.push_back(layout.basis.leg(edge));
    }
    const std::size_t free_count = layout.free_edges.size();
    Side side;
    side.om = layout.basis.om();
    std::vector<std::uint32_t> current_free;
    bool started = false;
    bool skipping = false;
    std::size_t tuples = 0;
    const bool finished = ConservingTuples(legs, fixed).for_each([&](std::span<const std::uint32_t> indices) {
        if (tuples++ % kRowsBetweenStopChecks == 0 && context.should_stop()) {
            return false;
        }
        const auto free = indices.first(free_count);
        if (!started || !std::ranges::equal(free, current_free)) {
            started = true;
            if (!side.groups.empty()) {
                side.groups.back().end = side.rows.size();
            }
            current_free.assign(free.begin(), free.end());
            FreeGroup group{0, 0, false, side.rows.size(), side.rows.size()};
            for (std::size_t f = 0; f < free_count; ++f) {
                const Leg& leg = legs[f];
                group.charge += leg.sign * (2 * std::int64_t{free[f]} - leg.twice_spin);
                group.c_offset += layout.c.offset(layout.c_first + f, free[f]);
                group.c_negates ^= layout.c.negates(layout.c_first + f, free[f]);
            }
            skipping = partners != nullptr && !std::ranges::binary_search(wanted, group.charge);
            if (!skipping) {
                side.groups.push_back(group);
            }
        }
        if (skipping) {
            return true;
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
        side.rows.push_back(PairedRow{key, offset, negates ? -1.0 : 1.0,
                                      static_cast<std::uint32_t>(side.groups.size() - 1)});
        return true;
    });
    if (!finished) {
        return fail(TavrinError::interrupted());
    }
    if (!side.groups.empty()) {
        side.groups.back().end = side.rows.size();
    }
    return side;
}

// t = sum over the contracted indices both groups have of sign * row_A (x) row_B; false when
// they have none in common.
bool contract_pairs(const Side& side_a, const FreeGroup& ga, const Side& side_b,
                    const FreeGroup& gb, const Bases& bases, OuterProductSum& t_sum,
                    std::vector<double>& t) {
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
        if (!any) {
            std::ranges::fill(t, 0.0);
            any = true;
        }
        t_sum.add(ra.sign * rb.sign, bases.a + ra.row, bases.b + rb.row);
        ++i;
        ++j;
    }
    t_sum.flush();
    return any;
}

std::vector<std::size_t> uncontracted(std::size_t n, const std::vector<std::uint64_t>& axes) {
    std::vector<bool> contracted(n, false);
    for (std::uint64_t axis : axes) {
        contracted[axis] = true;
    }
    std::vector<std::size_t> free;
    free.reserve(n - axes.size());
    for (std::size_t k = 0; k < n; ++k) {
        if (!contracted[k]) {
            free.push_back(k);
        }
    }
    return free;
}

// Multiplications of each order, counted from the rows the two sides have.
XSumOrder cheapest_order(const Side& a, const Side& b, std::uint64_t om_c) {
    double triples = 0.0;  // (row of A, row of B) with the same contracted indices
    for (std::size_t i = 0; i < a.sorted_keys.size();) {
        const auto [first, last] = b.rows_with_key(a.sorted_keys[i]);
        std::size_t j = i;
        while (j < a.sorted_keys.size() && a.sorted_keys[j] == a.sorted_keys[i]) {
            ++j;
        }
        triples += double(j - i) * double(last - first);
        i = j;
    }
    const std::vector<std::int64_t> b_charges = sorted_charges(b, 1);
    double group_pairs = 0.0;  // (f_A, f_B) with cancelling charges
    for (const FreeGroup& group : a.groups) {
        const auto [first, last] = std::ranges::equal_range(b_charges, -group.charge);
        group_pairs += double(last - first);
    }
    const double na = double(a.om);
    const double nb = double(b.om);
    const double nc = double(om_c);
    const double pairs_first = triples * na * nb + group_pairs * na * nb * nc;
    const double b_with_c = triples * nb * nc + double(a.rows.size()) * na * nb * nc;
    const double a_with_c = triples * na * nc + double(b.rows.size()) * na * nb * nc;
    if (pairs_first <= b_with_c && pairs_first <= a_with_c) {
        return XSumOrder::PairsFirst;
    }
    return b_with_c <= a_with_c ? XSumOrder::BWithCFirst : XSumOrder::AWithCFirst;
}

// b_order: B's groups ordered by charge (groups_by_charge).
Status sum_pairs_first(const Side& side_a, const Side& side_b,
                       const std::vector<std::uint32_t>& b_order, std::uint64_t om_c,
                       const Bases& bases, Tensor& x, CallContext& context) {
    const auto charge_of = [&](std::uint32_t h) { return side_b.groups[h].charge; };
    const std::uint64_t om_a = side_a.om;
    const std::uint64_t om_b = side_b.om;
    ScratchVector t_space;
    std::vector<double>& t = *t_space;
    t.resize(om_a * om_b);
    OuterProductSum t_sum(om_a, om_b, t.data(), om_b);
    OuterProductSum x_sum(om_a * om_b, om_c, x.data().data(), om_c);
    std::size_t visited = 0;
    for (const FreeGroup& ga : side_a.groups) {
        if (visited++ % kGroupsBetweenStopChecks == 0 && context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        for (std::uint32_t h : std::ranges::equal_range(b_order, -ga.charge, {}, charge_of)) {
            const FreeGroup& gb = side_b.groups[h];
            if (!contract_pairs(side_a, ga, side_b, gb, bases, t_sum, t)) {
                continue;
            }
            x_sum.add(ga.c_negates != gb.c_negates ? -1.0 : 1.0, t.data(),
                      bases.c + ga.c_offset + gb.c_offset);
        }
    }
    x_sum.flush();
    return {};
}

// For every row (f_P, k) of the outer side: V[q, :] = sum over the inner side's rows (k, f_Q)
// of BQ[k, f_Q, q] BC[f_P, f_Q, :] (C's axes are A's then B's either way), then
// X[p, q, :] += BP[f_P, k, p] V[q, :], X's axes being [A, B, C] whichever side is outer.
Status sum_with_c_first(const Side& outer, const Side& inner, std::uint64_t om_c,
                        const Bases& bases, Tensor& x, bool outer_is_a, CallContext& context) {
    const std::uint64_t om_p = outer.om;
    const std::uint64_t om_q = inner.om;
    const double* const outer_data = outer_is_a ? bases.a : bases.b;
    const double* const inner_data = outer_is_a ? bases.b : bases.a;
    // Summed as [p, q, c]; with B outer that is [b, a, c], added to X transposed at the end.
    std::vector<double> transposed(outer_is_a ? 0 : om_p * om_q * om_c);
    double* out = outer_is_a ? x.data().data() : transposed.data();
    ScratchVector v_space;
    std::vector<double>& v = *v_space;
    v.resize(om_q * om_c);
    OuterProductSum v_sum(om_q, om_c, v.data(), om_c);
    OuterProductSum x_sum(om_p, om_q * om_c, out, om_q * om_c);
    for (std::size_t i = 0; i < outer.rows.size(); ++i) {
        if (i % kRowsBetweenStopChecks == 0 && context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        const PairedRow& rp = outer.rows[i];
        const FreeGroup& gp = outer.groups[rp.group];
        const auto [first, last] = inner.rows_with_key(rp.pair_key);
        bool any = false;
        for (std::size_t j = first; j < last; ++j) {
            const PairedRow& rq = inner.rows[inner.by_key[j]];
            const FreeGroup& gq = inner.groups[rq.group];
            if (gq.charge != -gp.charge) {
                continue;
            }
            if (!any) {
                std::ranges::fill(v, 0.0);
                any = true;
            }
            v_sum.add(gp.c_negates != gq.c_negates ? -rq.sign : rq.sign, inner_data + rq.row,
                      bases.c + gp.c_offset + gq.c_offset);
        }
        v_sum.flush();
        if (any) {
            x_sum.add(rp.sign, outer_data + rp.row, v.data());
            x_sum.flush();
        }
    }
    if (!outer_is_a) {
        double* target = x.data().data();
        for (std::uint64_t p = 0; p < om_p; ++p) {
            for (std::uint64_t q = 0; q < om_q; ++q) {
                for (std::uint64_t k = 0; k < om_c; ++k) {
                    target[(q * om_p + p) * om_c + k] += out[(p * om_q + q) * om_c + k];
                }
            }
        }
    }
    return {};
}

}  // namespace

struct XBlockPlan {
    Side a;
    Side b;
    std::vector<std::uint32_t> b_by_charge;
    std::uint64_t om_c;
    std::array<std::uint64_t, 3> sizes;  // of the bases, in doubles
    XSumOrder order;
    double scale;
};

Result<std::shared_ptr<const XBlockPlan>> plan_xsymbol_blocks(
    BasisOperand a, BasisOperand b, BasisOperand c, const Contraction& contraction,
    CallContext& context, std::optional<XSumOrder> order) {
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

    // The side with the fixed leg first (it has the fewer groups); the other keeps only the
    // groups whose charge it cancels.
    Result<Side> side_a = fail(TavrinError::interrupted());
    Result<Side> side_b = fail(TavrinError::interrupted());
    if (fixed_b) {
        side_b = collect_side(layout_b, fixed_b, nullptr, context);
        if (side_b) {
            side_a = collect_side(layout_a, fixed_a, &*side_b, context);
        }
    } else {
        side_a = collect_side(layout_a, fixed_a, nullptr, context);
        if (side_a) {
            side_b = collect_side(layout_b, fixed_b, &*side_a, context);
        }
    }
    if (!side_a || !side_b) {
        return fail(std::move(!side_a ? side_a.error() : side_b.error()));
    }
    side_a->index_by_key();
    side_b->index_by_key();
    const XSumOrder chosen = order.value_or(cheapest_order(*side_a, *side_b, pc.om()));
    std::vector<std::uint32_t> b_by_charge = groups_by_charge(*side_b);
    return std::make_shared<const XBlockPlan>(XBlockPlan{
        std::move(*side_a), std::move(*side_b), std::move(b_by_charge), pc.om(),
        {a.canonical.size(), b.canonical.size(), c.canonical.size()}, chosen, scale});
}

std::size_t plan_bytes(const XBlockPlan& plan) {
    std::size_t bytes = sizeof(XBlockPlan) + plan.b_by_charge.capacity() * sizeof(std::uint32_t);
    for (const Side* side : {&plan.a, &plan.b}) {
        bytes += side->groups.capacity() * sizeof(FreeGroup) +
                 side->rows.capacity() * sizeof(PairedRow) +
                 side->by_key.capacity() * sizeof(std::uint32_t) +
                 side->sorted_keys.capacity() * sizeof(std::uint64_t);
    }
    return bytes;
}

Result<Tensor> sum_xsymbol_blocks(const XBlockPlan& plan, const Tensor& a, const Tensor& b,
                                  const Tensor& c, CallContext& context) {
    check_invariant(plan.sizes == std::array{a.size(), b.size(), c.size()},
                    "bases of the sizes the plan was made for");
    const Bases bases{a.data().data(), b.data().data(), c.data().data()};
    Tensor x = Tensor::zeros({plan.a.om, plan.b.om, plan.om_c});
    const Status summed = [&] {
        switch (plan.order) {
            case XSumOrder::PairsFirst:
                return sum_pairs_first(plan.a, plan.b, plan.b_by_charge, plan.om_c, bases, x,
                                       context);
            case XSumOrder::BWithCFirst:
                return sum_with_c_first(plan.a, plan.b, plan.om_c, bases, x, true, context);
            case XSumOrder::AWithCFirst:
                return sum_with_c_first(plan.b, plan.a, plan.om_c, bases, x, false, context);
        }
        return Status{};
    }();
    if (!summed) {
        return fail(std::move(summed.error()));
    }
    if (plan.scale != 1.0) {
        for (double& value : x.data()) {
            value *= plan.scale;
        }
    }
    return x;
}

Result<Tensor> contract_xsymbol_blocks(BasisOperand a, BasisOperand b, BasisOperand c,
                                       const Contraction& contraction, CallContext& context,
                                       std::optional<XSumOrder> order) {
    auto plan = plan_xsymbol_blocks(a, b, c, contraction, context, order);
    if (!plan) {
        return fail(std::move(plan.error()));
    }
    return sum_xsymbol_blocks(**plan, a.canonical, b.canonical, c.canonical, context);
}

}  // namespace tavrin
