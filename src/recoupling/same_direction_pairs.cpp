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

}  // namespace tavrin::recoupling
