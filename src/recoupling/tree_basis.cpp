#include "recoupling/tree_basis.hpp"

#include <algorithm>
#include <string>

#include "basis/fusion_tree.hpp"
#include "coupling/om_configurations.hpp"

namespace tavrin::recoupling {

double direction_sign(const CGSpec& spec) {
    const Edge& last = spec.edges().back();
    return last.is_incoming() && last.j.twice() % 2 != 0 ? -1.0 : 1.0;
}

Status check_tree_shape(const CGSpec& spec) {
    const std::size_t n = spec.num_external();
    if (n < 2) {
        return fail(too_few_edges_for_basis(n));
    }
    const std::int32_t a = spec.edges()[0].j.twice();
    const std::int32_t b = spec.edges()[1].j.twice();
    if (n == 2 && a != b) {
        return fail(two_edge_spin_mismatch(a, b));
    }
    return {};
}

std::optional<std::size_t> find_configuration(const CGSpec& spec,
                                              std::span<const std::int32_t> path) {
    if (path.size() != spec.config_length()) return std::nullopt;
    std::size_t low = 0;
    std::size_t high = spec.om_dimension();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const auto config = spec.config(middle);
        if (std::lexicographical_compare(config.begin(), config.end(), path.begin(),
                                         path.end())) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == spec.om_dimension()) return std::nullopt;
    const auto found = spec.config(low);
    if (!std::equal(found.begin(), found.end(), path.begin(), path.end())) return std::nullopt;
    return low;
}

}  // namespace tavrin::recoupling
