#include "recoupling/same_direction_pairs.hpp"

#include <map>

#include "coupling/clebsch_gordan.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

double same_direction_weight(std::span<const std::int32_t> pair_spins,
                             std::span<const std::int32_t> chain) {
    check_invariant(chain.size() == 2 * pair_spins.size(), "one chain spin per open leg");
    // Running doubled magnetic number of the chain -> amplitude.
    std::map<std::int32_t, double> amplitudes{{0, 1.0}};
    std::int32_t previous = 0;
    for (std::size_t t = 0; t < pair_spins.size(); ++t) {
        const std::int32_t s = pair_spins[t];
        const std::int32_t middle = chain[2 * t];
        const std::int32_t next = chain[2 * t + 1];
        std::map<std::int32_t, double> advanced;
        for (const auto& [mu, amplitude] : amplitudes) {
            for (std::int32_t m = -s; m <= s; m += 2) {
                const double first =
                    clebsch_gordan_correctly_rounded(previous, mu, s, m, middle, mu + m);
                if (first == 0.0) continue;
                const double second =
                    clebsch_gordan_correctly_rounded(middle, mu + m, s, m, next, mu + 2 * m);
                if (second == 0.0) continue;
                advanced[mu + 2 * m] += amplitude * first * second;
            }
        }
        amplitudes = std::move(advanced);
        previous = next;
    }
    const auto total = amplitudes.find(0);
    return total == amplitudes.end() ? 0.0 : total->second;
}

double nested_pairs_weight(std::span<const NestedPair> inner_first,
                           std::span<const std::int32_t> g, std::span<const std::int32_t> h) {
    const std::size_t k = inner_first.size();
    check_invariant(g.size() == k + 1 && h.size() == k && g[k] == 0, "chains of the pairs");
    if (k == 0) return 1.0;
    if (h[k - 1] != g[0]) return 0.0;
    // (magnetic number of A's chain at g_(k-t), of B's at h_(t-1)) -> amplitude, after t pairs.
    std::map<std::pair<std::int32_t, std::int32_t>, double> amplitudes{{{0, 0}, 1.0}};
    for (std::size_t t = 0; t < k; ++t) {
        const std::int32_t s = inner_first[t].spin;
        const std::int32_t after = g[k - t];
        const std::int32_t before = g[k - t - 1];
        std::map<std::pair<std::int32_t, std::int32_t>, double> advanced;
        for (const auto& [numbers, amplitude] : amplitudes) {
            const auto [nu_a, nu_b] = numbers;
            for (std::int32_t m_a = -s; m_a <= s; m_a += 2) {
                const double vertex_a =
                    clebsch_gordan_correctly_rounded(before, nu_a - m_a, s, m_a, after, nu_a);
                if (vertex_a == 0.0) continue;
                std::int32_t m_b = m_a;
                double phase = 1.0;
                if (inner_first[t].pairing == Pairing::ReversedOnA) {
                    m_b = -m_a;
                    phase = ((s - m_b) / 2) % 2 == 0 ? 1.0 : -1.0;
                } else if (inner_first[t].pairing == Pairing::ReversedOnB) {
                    m_b = -m_a;
                    phase = ((s - m_a) / 2) % 2 == 0 ? 1.0 : -1.0;
                }
                // B's chain starts with Q_1 itself; later legs couple onto it.
                const double vertex_b =
                    t == 0 ? 1.0
                           : clebsch_gordan_correctly_rounded(h[t - 1], nu_b, s, m_b, h[t],
                                                              nu_b + m_b);
                if (vertex_b == 0.0) continue;
                const std::int32_t next_b = t == 0 ? m_b : nu_b + m_b;
                advanced[{nu_a - m_a, next_b}] += amplitude * vertex_a * phase * vertex_b;
            }
        }
        amplitudes = std::move(advanced);
    }
    double trace = 0.0;
    for (const auto& [numbers, amplitude] : amplitudes) {
        if (numbers.first == numbers.second) trace += amplitude;
    }
    return trace / (static_cast<double>(g[0]) + 1.0);
}

}  // namespace tavrin::recoupling
