// With every canonical basis written as rho * (time reversals on outgoing edges) applied to the
// all-incoming tree coupled to 0 (tree_basis.hpp), the dense sum becomes a sum over all-incoming
// trees in which
// - a free edge meets the same reversal in A or B and in C: the two cancel;
// - a pair of opposite directions keeps one reversal, and sum_m (T x)_m y_m is
//   (-1)^(2j) sqrt(2j+1) times the singlet contraction of x with y (reversal on A's side),
//   sqrt(2j+1) times it (reversal on B's side);
// - a pair of equal directions keeps none (or two, which cancel): a plain sum over the shared
//   index, handled by same_direction_pairs.hpp.
// The outer product of the trees of A and B is itself a tree (A's legs couple to 0, then B's
// legs continue from 0). Each opposite pair is brought side by side with adjacent exchanges and
// contracted into a singlet; the legs left are put into C's order followed by the open pairs,
// and the coefficients are read off C's configurations.
#include "recoupling/xsymbol_by_recoupling.hpp"

#include <cmath>
#include <map>
#include <unordered_set>
#include <vector>

#include "recoupling/fusion_state.hpp"
#include "recoupling/same_direction_pairs.hpp"
#include "recoupling/tree_basis.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

namespace {

// The outer product of every configuration of A with every configuration of B, in column
// a * om_b + b.
FusionState outer_product(const CGSpec& spec_a, const CGSpec& spec_b) {
    const std::size_t n_a = spec_a.num_external();
    std::vector<std::int32_t> spins = spec_a.spins();
    const std::vector<std::int32_t> spins_b = spec_b.spins();
    spins.insert(spins.end(), spins_b.begin(), spins_b.end());
    std::vector<std::size_t> labels(spins.size());
    for (std::size_t i = 0; i < labels.size(); ++i) labels[i] = i;
    FusionState state(std::move(spins), std::move(labels));
    for (std::size_t a = 0; a < spec_a.om_dimension(); ++a) {
        for (std::size_t b = 0; b < spec_b.om_dimension(); ++b) {
            const auto config_a = spec_a.config(a);
            const auto config_b = spec_b.config(b);
            Path path(config_a.begin(), config_a.end());
            path.push_back(0);                     // A's legs couple to 0 ...
            path.push_back(spins_b.front());       // ... which couples with B's first leg
            path.insert(path.end(), config_b.begin(), config_b.end());
            state.add(path, a * spec_b.om_dimension() + b, 1.0);
        }
    }
    check_invariant(n_a >= 2, "outer product of a tree with fewer than two legs");
    return state;
}

// Contracts every pair of opposite directions into a singlet; returns the product of the pair
// weights and collects the pairs of equal directions (A's label, B's label).
Result<double> contract_opposite_pairs(FusionState& state, const CGSpec& spec_a,
                                       const CGSpec& spec_b, const Contraction& contraction,
                                       std::vector<std::pair<std::size_t, std::size_t>>& open,
                                       CallContext& context) {
    const std::size_t n_a = spec_a.num_external();
    double weight = 1.0;
    for (std::size_t i = 0; i < contraction.axes_a().size(); ++i) {
        const std::size_t label_a = contraction.axes_a()[i];
        const std::size_t label_b = n_a + contraction.axes_b()[i];
        const Edge& edge_a = spec_a.edges()[label_a];
        const Edge& edge_b = spec_b.edges()[contraction.axes_b()[i]];
        if (edge_a.is_incoming() == edge_b.is_incoming()) {
            open.emplace_back(label_a, label_b);
            continue;
        }
        const std::size_t from = state.position_of(label_b);
        const std::size_t at = state.position_of(label_a);
        if (auto moved = state.move_leg(from, from > at ? at + 1 : at, context); !moved) {
            return fail(std::move(moved.error()));
        }
        if (auto contracted = state.contract_singlet(state.position_of(label_a), context);
            !contracted) {
            return fail(std::move(contracted.error()));
        }
        const std::int32_t s = edge_a.j.twice();
        const double reversal = edge_a.is_outgoing() && s % 2 != 0 ? -1.0 : 1.0;
        weight *= reversal * std::sqrt(static_cast<double>(s) + 1.0);
    }
    return weight;
}

// C's legs in C's order, then the open pairs side by side.
std::vector<std::size_t> final_order(const CGSpec& spec_a, const CGSpec& spec_b,
                                     const Contraction& contraction,
                                     const std::vector<std::pair<std::size_t, std::size_t>>& open) {
    const std::size_t n_a = spec_a.num_external();
    const std::unordered_set<std::uint64_t> used_a(contraction.axes_a().begin(),
                                                   contraction.axes_a().end());
    const std::unordered_set<std::uint64_t> used_b(contraction.axes_b().begin(),
                                                   contraction.axes_b().end());
    std::vector<std::size_t> order;
    for (std::size_t e = 0; e < n_a; ++e) {
        if (!used_a.contains(e)) order.push_back(e);
    }
    for (std::size_t e = 0; e < spec_b.num_external(); ++e) {
        if (!used_b.contains(e)) order.push_back(n_a + e);
    }
    for (const auto& [label_a, label_b] : open) {
        order.push_back(label_a);
        order.push_back(label_b);
    }
    return order;
}

}  // namespace

Result<Tensor> xsymbol_by_recoupling(const CGSpec& spec_a, const CGSpec& spec_b,
                                     const Contraction& contraction, const CGSpec& spec_c,
                                     CallContext& context) {
    FusionState state = outer_product(spec_a, spec_b);
    std::vector<std::pair<std::size_t, std::size_t>> open;
    auto pair_weight =
        contract_opposite_pairs(state, spec_a, spec_b, contraction, open, context);
    if (!pair_weight) {
        return fail(std::move(pair_weight.error()));
    }
    if (auto arranged = state.arrange(final_order(spec_a, spec_b, contraction, open), context);
        !arranged) {
        return fail(std::move(arranged.error()));
    }

    const double factor = *pair_weight * direction_sign(spec_a) * direction_sign(spec_b) *
                          direction_sign(spec_c);
    const std::size_t n_c = spec_c.num_external();
    std::vector<std::int32_t> open_spins;
    for (const auto& pair : open) {
        open_spins.push_back(spec_a.edges()[pair.first].j.twice());
    }
    const auto indices = om_indices(spec_c);
    const std::uint64_t om_b = spec_b.om_dimension();
    const std::uint64_t om_c = spec_c.om_dimension();
    Tensor x = Tensor::zeros({spec_a.om_dimension(), om_b, om_c});
    std::span<double> values = x.data();
    std::map<std::vector<std::int32_t>, double> open_weights;
    for (const auto& [path, row] : state.rows()) {
        const std::vector<std::int32_t> ext = extended_path(path, state.spins());
        // C's legs must couple to 0 by themselves; the open legs continue from there.
        if (ext[n_c - 1] != 0) continue;
        const Path path_c(ext.begin() + 1, ext.begin() + static_cast<std::ptrdiff_t>(n_c) - 1);
        const std::vector<std::int32_t> chain(ext.begin() + static_cast<std::ptrdiff_t>(n_c),
                                              ext.end());
        double weight = 1.0;
        if (!open.empty()) {
            auto [it, inserted] = open_weights.try_emplace(chain, 0.0);
            if (inserted) it->second = same_direction_weight(open_spins, chain);
            weight = it->second;
        }
        if (weight == 0.0) continue;
        const auto found = indices.find(path_c);
        check_invariant(found != indices.end(), "recoupled path is no configuration of C");
        for (const auto& [column, value] : row) {
            values[column * om_c + found->second] += factor * weight * value;
        }
    }
    return x;
}

}  // namespace tavrin::recoupling
