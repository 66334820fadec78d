// A CG specification: ordered edges and the OM configurations of their fusion tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/spin.hpp"

namespace tavrin {

class CGSpec {
public:
    // Enumerates the OM configurations of the edges' spins (directions play no part).
    // Fails with InvalidCGTSpec when the spins cannot couple to total spin 0.
    static Result<CGSpec> from_edges(std::vector<Edge> edges);

    // Internal constructor: configs holds the configurations one after another, each
    // max(n - 2, 0) entries long, count of them. Fails with InvalidCGTSpec on a length mismatch.
    static Result<CGSpec> from_parts(std::vector<Edge> edges,
                                     std::vector<std::vector<std::int32_t>> configs);

    // Same spins and configurations, direction flipped at every listed position (once, however
    // often it is listed). Fails with IndexOutOfBounds at the first axis >= n.
    Result<CGSpec> with_inverted_axes(std::span<const std::uint64_t> axes) const;

    std::size_t num_external() const { return edges_.size(); }
    std::size_t om_dimension() const { return om_count_; }
    const std::vector<Edge>& edges() const { return edges_; }
    std::vector<std::int32_t> spins() const;
    std::vector<std::int32_t> signs() const;
    // Every configuration as its own list, in OM index order.
    std::vector<std::vector<std::int32_t>> configurations() const;

    // Length of every configuration: max(n - 2, 0).
    std::size_t config_length() const { return edges_.size() > 2 ? edges_.size() - 2 : 0; }
    // Configuration a (a < om_dimension()), as doubled internal spins.
    std::span<const std::int32_t> config(std::size_t a) const {
        const std::size_t len = config_length();
        return {om_flat_.data() + a * len, len};
    }

    friend bool operator==(const CGSpec&, const CGSpec&) = default;

private:
    CGSpec(std::vector<Edge> edges, std::vector<std::int32_t> om_flat, std::size_t om_count)
        : edges_(std::move(edges)), om_flat_(std::move(om_flat)), om_count_(om_count) {}

    std::vector<Edge> edges_;
    std::vector<std::int32_t> om_flat_;  // configurations back to back
    std::size_t om_count_;
};

}  // namespace tavrin
