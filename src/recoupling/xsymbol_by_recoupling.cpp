// With every canonical basis written as rho * (time reversals on outgoing edges) applied to the
// all-incoming tree coupled to 0 (tree_basis.hpp), the dense sum becomes a sum over all-incoming
// trees in which
// - a free edge meets the same reversal in A or B and in C: the two cancel;
// - a pair of opposite directions keeps one reversal, and sum_m (T x)_m y_m is
//   (-1)^(2j) sqrt(2j+1) times the singlet contraction of x with y (reversal on A's side),
//   sqrt(2j+1) times it (reversal on B's side);
// - a pair of equal directions keeps none (or two, which cancel): a plain sum over the shared
//   index, handled by same_direction_pairs.hpp.
//
// Factorised: A's tree is rearranged into [free legs of A, P_1 ... P_k] and B's into
// [Q_1 ... Q_k, free legs of B], Q_t being the partner of P_(k+1-t). The pairs then sit nested
// around the junction of A and B: a rearranged A-path [f ..., K = g_0, g_1, ..., g_(k-1), 0]
// and a rearranged B-path [h_0, ..., h_(k-1) = K, f' ...] give C's path [f ..., K, f' ...]
// (the sums over A's and B's free edges leave only that). Where every pair is opposite, the
// pairs contract from the inside out, each a singlet: only paths with h_t = g_(k-1-t) meet,
// and the singlet weights (singlet_weight) multiply to sign / sqrt(2K + 1), their square roots
// telescoping. Otherwise the pairs' magnetic sums give the weight (nested_pairs_weight).
//
// Product (a check of the first): the outer product of the trees of A and B is itself a tree
// (A's legs couple to 0, then B's legs continue from 0). Each opposite pair is brought side by
// side with adjacent exchanges and contracted into a singlet; the legs left are put into C's
// order followed by the open pairs, and the coefficients are read off C's configurations.
#include "recoupling/xsymbol_by_recoupling.hpp"

#include <algorithm>
#include <map>
#include <numeric>
#include <utility>

#include "recoupling/recoupling_coefficients.hpp"
#include "recoupling/same_direction_pairs.hpp"
#include "recoupling/tree_basis.hpp"
#include "recoupling/tree_moves.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

namespace {

struct Pair {
    std::size_t a;       // A's edge
    std::size_t b;       // B's edge
    std::int32_t spin;   // doubled
    bool opposite;       // one incoming, one outgoing
    bool a_outgoing;
    double reversal;     // -1 where A's edge is outgoing and the spin half-integral
};

std::vector<Pair> pairs_of(const CGSpec& spec_a, const CGSpec& spec_b,
                           const Contraction& contraction) {
    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < contraction.axes_a().size(); ++i) {
        const Edge& edge_a = spec_a.edges()[contraction.axes_a()[i]];
        const Edge& edge_b = spec_b.edges()[contraction.axes_b()[i]];
        const std::int32_t s = edge_a.j.twice();
        pairs.push_back({contraction.axes_a()[i], contraction.axes_b()[i], s,
                         edge_a.is_incoming() != edge_b.is_incoming(), edge_a.is_outgoing(),
                         edge_a.is_outgoing() && s % 2 != 0 ? -1.0 : 1.0});
    }
    return pairs;
}

std::vector<bool> paired_edges(std::size_t n, const std::vector<Pair>& pairs, bool of_a) {
    std::vector<bool> paired(n, false);
    for (const Pair& p : pairs) paired[of_a ? p.a : p.b] = true;
    return paired;
}

// The plan's readout, collected term by term and then grouped by entry.
class Readout {
public:
    std::uint32_t weight(DoubleDouble value) {
        const auto [it, inserted] = weight_index_.try_emplace(
            std::pair{value.high, value.low}, static_cast<std::uint32_t>(weights_.size()));
        if (inserted) weights_.push_back(value);
        return it->second;
    }
    void add(std::uint64_t entry, RecoupledXPlan::Term term) {
        collected_.emplace_back(static_cast<std::uint32_t>(entry), term);
    }
    void finish(RecoupledXPlan& plan) {
        std::stable_sort(collected_.begin(), collected_.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        plan.term_begin.push_back(0);
        for (std::size_t i = 0; i < collected_.size(); ++i) {
            if (i == 0 || collected_[i].first != collected_[i - 1].first) {
                if (i != 0) plan.term_begin.push_back(static_cast<std::uint32_t>(i));
                plan.entry.push_back(collected_[i].first);
            }
            plan.terms.push_back(collected_[i].second);
        }
        if (!collected_.empty()) {
            plan.term_begin.push_back(static_cast<std::uint32_t>(collected_.size()));
        }
        plan.weights = std::move(weights_);
    }

private:
    std::vector<DoubleDouble> weights_;
    std::map<std::pair<double, double>, std::uint32_t> weight_index_;
    std::vector<std::pair<std::uint32_t, RecoupledXPlan::Term>> collected_;
};

std::size_t inversions(const std::vector<std::size_t>& order) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        for (std::size_t j = i + 1; j < order.size(); ++j) count += order[j] < order[i];
    }
    return count;
}

// A tree of one specification with every configuration as its own column.
TreeMoves configurations_as_columns(const CGSpec& spec) {
    std::vector<std::size_t> labels(spec.num_external());
    std::iota(labels.begin(), labels.end(), std::size_t{0});
    TreeMoves moves(spec.spins(), std::move(labels));
    for (std::size_t a = 0; a < spec.om_dimension(); ++a) {
        moves.add_initial(spec.config(a), static_cast<std::uint32_t>(a));
    }
    return moves;
}

// The leg orders [free A legs, P_1 ... P_k] and [Q_1 ... Q_k, free B legs], Q_t the partner of
// P_(k+1-t): A's paired legs in A's order or B's in B's, whichever costs fewer exchanges.
struct FactorisedOrders {
    std::vector<std::size_t> a;
    std::vector<std::size_t> b;
    std::vector<Pair> inner_first;  // the pairs (P_k, Q_1), (P_(k-1), Q_2), ...
};

FactorisedOrders factorised_orders(const CGSpec& spec_a, const CGSpec& spec_b,
                                   std::vector<Pair> pairs) {
    const std::vector<bool> paired_a = paired_edges(spec_a.num_external(), pairs, true);
    const std::vector<bool> paired_b = paired_edges(spec_b.num_external(), pairs, false);
    auto orders_for = [&](const std::vector<Pair>& inner_first) {
        FactorisedOrders orders;
        for (std::size_t e = 0; e < spec_a.num_external(); ++e) {
            if (!paired_a[e]) orders.a.push_back(e);
        }
        for (auto p = inner_first.rbegin(); p != inner_first.rend(); ++p) orders.a.push_back(p->a);
        for (const Pair& p : inner_first) orders.b.push_back(p.b);
        for (std::size_t e = 0; e < spec_b.num_external(); ++e) {
            if (!paired_b[e]) orders.b.push_back(e);
        }
        orders.inner_first = inner_first;
        return orders;
    };
    // A's paired legs in A's order: the innermost pair holds A's last paired edge.
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) { return x.a > y.a; });
    FactorisedOrders by_a = orders_for(pairs);
    std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) { return x.b < y.b; });
    FactorisedOrders by_b = orders_for(pairs);
    const auto cost = [&](const FactorisedOrders& o) {
        return inversions(o.a) * spec_a.om_dimension() + inversions(o.b) * spec_b.om_dimension();
    };
    return cost(by_b) < cost(by_a) ? by_b : by_a;
}

// The rows of B that meet a row of A, with the weight of the pairs between them.
struct Match {
    std::size_t row_b;
    DoubleDouble weight;
};

Status plan_factorised(const CGSpec& spec_a, const CGSpec& spec_b, const CGSpec& spec_c,
                       const std::vector<Pair>& pairs, RecoupledXPlan& plan,
                       CallContext& context) {
    const FactorisedOrders orders = factorised_orders(spec_a, spec_b, pairs);
    TreeMoves moves_a = configurations_as_columns(spec_a);
    if (auto arranged = moves_a.arrange(orders.a, context); !arranged) return arranged;
    TreeMoves moves_b = configurations_as_columns(spec_b);
    if (auto arranged = moves_b.arrange(orders.b, context); !arranged) return arranged;

    const std::size_t k = pairs.size();
    const std::size_t n_b = spec_b.num_external();
    const std::ptrdiff_t free_a = static_cast<std::ptrdiff_t>(spec_a.num_external() - k);
    const bool opposite_only = std::all_of(pairs.begin(), pairs.end(),
                                           [](const Pair& p) { return p.opposite; });
    std::vector<NestedPair> nested;
    for (const Pair& p : orders.inner_first) {
        nested.push_back({p.spin, !p.opposite   ? Pairing::SameDirection
                                  : p.a_outgoing ? Pairing::ReversedOnA
                                                 : Pairing::ReversedOnB});
    }
    // B's rows by the chain h_0 ... h_(k-1) their paths begin with.
    std::map<std::vector<std::int32_t>, std::vector<std::size_t>> rows_b;
    for (std::size_t row = 0; row < moves_b.row_count(); ++row) {
        const std::vector<std::int32_t> ext = extended_path(moves_b.path(row), moves_b.spins());
        rows_b[std::vector<std::int32_t>(ext.begin(), ext.begin() + static_cast<long>(k))]
            .push_back(row);
    }
    const double direction = direction_sign(spec_a) * direction_sign(spec_b) *
                             direction_sign(spec_c);
    Readout readout;
    std::vector<std::int32_t> g(k + 1);
    std::vector<std::int32_t> reversed_g(k);
    std::vector<Match> matches;
    std::map<std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>>, double> weights;
    for (std::size_t row_a = 0; row_a < moves_a.row_count(); ++row_a) {
        if (row_a % 256 == 0 && context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        const std::vector<std::int32_t> ext_a = extended_path(moves_a.path(row_a), moves_a.spins());
        // g_u, u = 0 ... k: the spin after A's free legs (0 when there are none), then after
        // each of A's paired legs.
        for (std::size_t u = 0; u <= k; ++u) {
            const std::ptrdiff_t at = free_a - 1 + static_cast<std::ptrdiff_t>(u);
            g[u] = at < 0 ? 0 : ext_a[static_cast<std::size_t>(at)];
        }
        matches.clear();
        if (opposite_only) {
            // Singlets throughout: B's chain must be A's read backwards.
            for (std::size_t t = 0; t < k; ++t) reversed_g[t] = g[k - 1 - t];
            const auto matched = rows_b.find(reversed_g);
            if (matched == rows_b.end()) continue;
            double sign = direction;
            for (std::size_t u = 1; u <= k; ++u) {
                const Pair& pair = orders.inner_first[k - u];  // pair u joins P_u
                const std::int64_t before = g[u - 1];
                sign *= pair.reversal * sign_of_half(before + pair.spin + g[u]) *
                        ((before + pair.spin) % 2 == 0 ? 1.0 : -1.0);
            }
            const DoubleDouble magnitude = inverse_sqrt_dimension(g[0]);
            for (const std::size_t row_b : matched->second) {
                matches.push_back({row_b, sign < 0 ? negated(magnitude) : magnitude});
            }
        } else {
            for (const auto& [h, rows] : rows_b) {
                auto [it, inserted] = weights.try_emplace({g, h}, 0.0);
                if (inserted) it->second = nested_pairs_weight(nested, g, h);
                if (it->second == 0.0) continue;
                for (const std::size_t row_b : rows) {
                    matches.push_back({row_b, {direction * it->second, 0.0}});
                }
            }
        }
        for (const Match& match : matches) {
            const std::vector<std::int32_t> ext_b =
                extended_path(moves_b.path(match.row_b), moves_b.spins());
            // C's extended path: A's up to K, then B's after its chain.
            std::vector<std::int32_t> ext_c(ext_a.begin(), ext_a.begin() + free_a);
            ext_c.insert(ext_c.end(), ext_b.begin() + static_cast<long>(k),
                         ext_b.begin() + static_cast<long>(n_b));
            const auto c = find_configuration(
                spec_c, std::span<const std::int32_t>(ext_c).subspan(1, ext_c.size() - 2));
            check_invariant(c.has_value(), "recoupled path is no configuration of C");
            for (std::uint32_t slot_a = moves_a.row_begin(row_a); slot_a < moves_a.row_end(row_a);
                 ++slot_a) {
                for (std::uint32_t slot_b = moves_b.row_begin(match.row_b);
                     slot_b < moves_b.row_end(match.row_b); ++slot_b) {
                    const std::uint64_t entry =
                        (moves_a.column(slot_a) * plan.om_b + moves_b.column(slot_b)) * plan.om_c +
                        *c;
                    const double slot_sign = moves_a.sign(slot_a) * moves_b.sign(slot_b);
                    const DoubleDouble weight =
                        slot_sign < 0 ? negated(match.weight) : match.weight;
                    readout.add(entry, {slot_a, slot_b, readout.weight(weight)});
                }
            }
        }
    }
    readout.finish(plan);
    plan.program_a = moves_a.take_program();
    plan.program_b = moves_b.take_program();
    return {};
}

// The outer product of every configuration of A with every configuration of B, in column
// a * om_b + b.
TreeMoves outer_product(const CGSpec& spec_a, const CGSpec& spec_b) {
    std::vector<std::int32_t> spins = spec_a.spins();
    const std::vector<std::int32_t> spins_b = spec_b.spins();
    spins.insert(spins.end(), spins_b.begin(), spins_b.end());
    std::vector<std::size_t> labels(spins.size());
    std::iota(labels.begin(), labels.end(), std::size_t{0});
    TreeMoves moves(std::move(spins), std::move(labels));
    std::vector<std::int32_t> path;
    for (std::size_t a = 0; a < spec_a.om_dimension(); ++a) {
        for (std::size_t b = 0; b < spec_b.om_dimension(); ++b) {
            const auto config_a = spec_a.config(a);
            const auto config_b = spec_b.config(b);
            path.assign(config_a.begin(), config_a.end());
            path.push_back(0);                     // A's legs couple to 0 ...
            path.push_back(spins_b.front());       // ... which couples with B's first leg
            path.insert(path.end(), config_b.begin(), config_b.end());
            moves.add_initial(path, static_cast<std::uint32_t>(a * spec_b.om_dimension() + b));
        }
    }
    return moves;
}

Status plan_product(const CGSpec& spec_a, const CGSpec& spec_b, const CGSpec& spec_c,
                    const std::vector<Pair>& pairs, RecoupledXPlan& plan,
                    CallContext& context) {
    const std::size_t n_a = spec_a.num_external();
    TreeMoves moves = outer_product(spec_a, spec_b);
    std::vector<Pair> open;
    for (const Pair& pair : pairs) {
        if (!pair.opposite) {
            open.push_back(pair);
            continue;
        }
        const std::size_t label_b = n_a + pair.b;
        const std::size_t from = moves.position_of(label_b);
        const std::size_t at = moves.position_of(pair.a);
        // A's leg first, B's right after it.
        if (auto moved = moves.move_leg(from, from > at ? at + 1 : at, context); !moved) {
            return moved;
        }
        if (auto contracted =
                moves.contract_singlet(moves.position_of(pair.a), pair.reversal, context);
            !contracted) {
            return contracted;
        }
    }
    // C's legs in C's order, then the open pairs side by side.
    const std::vector<bool> paired_a = paired_edges(n_a, pairs, true);
    const std::vector<bool> paired_b = paired_edges(spec_b.num_external(), pairs, false);
    std::vector<std::size_t> order;
    for (std::size_t e = 0; e < n_a; ++e) {
        if (!paired_a[e]) order.push_back(e);
    }
    for (std::size_t e = 0; e < spec_b.num_external(); ++e) {
        if (!paired_b[e]) order.push_back(n_a + e);
    }
    std::vector<std::int32_t> open_spins;
    for (const Pair& pair : open) {
        order.push_back(pair.a);
        order.push_back(n_a + pair.b);
        open_spins.push_back(pair.spin);
    }
    if (auto arranged = moves.arrange(order, context); !arranged) return arranged;

    const double direction = direction_sign(spec_a) * direction_sign(spec_b) *
                             direction_sign(spec_c);
    const std::size_t n_c = spec_c.num_external();
    Readout readout;
    std::map<std::vector<std::int32_t>, double> open_weights;
    for (std::size_t row = 0; row < moves.row_count(); ++row) {
        const std::vector<std::int32_t> ext = extended_path(moves.path(row), moves.spins());
        // C's legs must couple to 0 by themselves; the open legs continue from there.
        if (ext[n_c - 1] != 0) continue;
        const std::vector<std::int32_t> chain(ext.begin() + static_cast<long>(n_c), ext.end());
        double weight = 1.0;
        if (!open.empty()) {
            auto [it, inserted] = open_weights.try_emplace(chain, 0.0);
            if (inserted) it->second = same_direction_weight(open_spins, chain);
            weight = it->second;
        }
        if (weight == 0.0) continue;
        const auto c = find_configuration(
            spec_c, std::span<const std::int32_t>(ext).subspan(1, n_c - 2));
        check_invariant(c.has_value(), "recoupled path is no configuration of C");
        for (std::uint32_t slot = moves.row_begin(row); slot < moves.row_end(row); ++slot) {
            readout.add(std::uint64_t{moves.column(slot)} * plan.om_c + *c,
                        {slot, 0, readout.weight({direction * moves.sign(slot) * weight, 0.0})});
        }
    }
    readout.finish(plan);
    plan.program_a = moves.take_program();
    return {};
}

}  // namespace

std::size_t RecoupledXPlan::bytes() const {
    return sizeof(RecoupledXPlan) + program_a.bytes() + program_b.bytes() +
           weights.capacity() * sizeof(DoubleDouble) +
           (entry.capacity() + term_begin.capacity()) * sizeof(std::uint32_t) +
           terms.capacity() * sizeof(Term);
}

Result<std::shared_ptr<const RecoupledXPlan>> plan_xsymbol_by_recoupling(
    const CGSpec& spec_a, const CGSpec& spec_b, const Contraction& contraction,
    const CGSpec& spec_c, CallContext& context, bool factorised) {
    const std::vector<Pair> pairs = pairs_of(spec_a, spec_b, contraction);
    auto plan = std::make_shared<RecoupledXPlan>();
    plan->om_a = spec_a.om_dimension();
    plan->om_b = spec_b.om_dimension();
    plan->om_c = spec_c.om_dimension();
    plan->factorised = factorised;
    const Status planned = plan->factorised
                               ? plan_factorised(spec_a, spec_b, spec_c, pairs, *plan, context)
                               : plan_product(spec_a, spec_b, spec_c, pairs, *plan, context);
    if (!planned) return fail(std::move(planned.error()));
    return std::shared_ptr<const RecoupledXPlan>(std::move(plan));
}

Result<Tensor> xsymbol_by_recoupling(const RecoupledXPlan& plan, CallContext& context) {
    ScratchSlots values_a;
    ScratchSlots values_b;
    ScratchSlots scratch;
    if (auto ran = run_program(plan.program_a, *values_a, *scratch, context); !ran) {
        return fail(std::move(ran.error()));
    }
    if (plan.factorised) {
        if (auto ran = run_program(plan.program_b, *values_b, *scratch, context); !ran) {
            return fail(std::move(ran.error()));
        }
    }
    Tensor x = Tensor::zeros({plan.om_a, plan.om_b, plan.om_c});
    std::span<double> out = x.data();
    for (std::size_t e = 0; e < plan.entry.size(); ++e) {
        DoubleDouble sum{};
        for (std::uint32_t t = plan.term_begin[e]; t < plan.term_begin[e + 1]; ++t) {
            const RecoupledXPlan::Term term = plan.terms[t];
            const DoubleDouble a = (*values_a)[term.slot_a];
            const DoubleDouble w = plan.weights[term.weight];
            sum = add(sum, plan.factorised
                               ? product_of_three(a, (*values_b)[term.slot_b], w)
                               : multiply(a, w));
        }
        out[plan.entry[e]] = rounded(sum);
    }
    return x;
}

}  // namespace tavrin::recoupling
