#include "recoupling/tree_basis.hpp"

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

std::unordered_map<Path, std::size_t, PathHash> om_indices(const CGSpec& spec) {
    std::unordered_map<Path, std::size_t, PathHash> indices;
    indices.reserve(spec.om_dimension());
    for (std::size_t a = 0; a < spec.om_dimension(); ++a) {
        const auto config = spec.config(a);
        indices.emplace(Path(config.begin(), config.end()), a);
    }
    return indices;
}

}  // namespace tavrin::recoupling
