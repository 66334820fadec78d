#include "specs/cg_spec.hpp"

#include <string>
#include <unordered_set>

#include "coupling/om_configurations.hpp"
#include "support/process_store.hpp"

namespace tavrin {

namespace {
std::vector<std::int32_t> spins_of(const std::vector<Edge>& edges) {
    std::vector<std::int32_t> spins;
    spins.reserve(edges.size());
    for (const Edge& edge : edges) {
        spins.push_back(edge.j.twice());
    }
    return spins;
}
}  // namespace

Result<CGSpec> CGSpec::from_edges(std::vector<Edge> edges) {
    auto configs = enumerate_om_configurations(spins_of(edges));
    if (!configs) {
        return fail(std::move(configs.error()));
    }
    return CGSpec(std::move(edges), std::move(configs->flat), configs->count);
}

Result<CGSpec> CGSpec::from_parts(std::vector<Edge> edges,
                                  std::vector<std::vector<std::int32_t>> configs) {
    const std::size_t n = edges.size();
    const std::size_t expected = n > 2 ? n - 2 : 0;
    std::vector<std::int32_t> flat;
    flat.reserve(configs.size() * expected);
    for (const auto& config : configs) {
        if (config.size() != expected) {
            return fail(TavrinError::invalid_cgt_spec(
                "Expected " + std::to_string(expected) + " internal spins for " +
                std::to_string(n) + " edges, got " + std::to_string(config.size())));
        }
        flat.insert(flat.end(), config.begin(), config.end());
    }
    return CGSpec(std::move(edges), std::move(flat), configs.size());
}

Result<CGSpec> CGSpec::with_inverted_axes(std::span<const std::uint64_t> axes) const {
    const std::size_t n = num_external();
    for (std::uint64_t axis : axes) {
        if (axis >= n) {
            return fail(TavrinError::index_out_of_bounds(axis, n));
        }
    }
    const std::unordered_set<std::uint64_t> flipped(axes.begin(), axes.end());
    std::vector<Edge> edges = parts_->edges;
    for (std::size_t i = 0; i < n; ++i) {
        if (flipped.contains(i)) {
            edges[i] = edges[i].flipped();
        }
    }
    // The configurations depend on the spins only, which do not change: they are taken over
    // as they are, every one of the right length.
    return CGSpec(std::move(edges), parts_->om_flat, parts_->om_count);
}

std::vector<std::int32_t> CGSpec::spins() const { return spins_of(parts_->edges); }

std::vector<std::int32_t> CGSpec::signs() const {
    std::vector<std::int32_t> signs;
    signs.reserve(num_external());
    for (const Edge& edge : parts_->edges) {
        signs.push_back(edge.dir.sign());
    }
    return signs;
}

std::vector<std::vector<std::int32_t>> CGSpec::configurations() const {
    std::vector<std::vector<std::int32_t>> configs;
    configs.reserve(om_dimension());
    for (std::size_t a = 0; a < om_dimension(); ++a) {
        const auto entries = config(a);
        configs.emplace_back(entries.begin(), entries.end());
    }
    return configs;
}

std::size_t CGSpec::heap_bytes() const {
    return heap_block_bytes(2 * sizeof(void*) + sizeof(Parts)) +
           heap_block_bytes(parts_->edges.capacity() * sizeof(Edge)) +
           heap_block_bytes(parts_->om_flat.capacity() * sizeof(std::int32_t));
}

}  // namespace tavrin
