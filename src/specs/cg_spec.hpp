// A CG specification: ordered edges and the OM configurations of their fusion tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

    std::size_t num_external() const { return parts_->edges.size(); }
    std::size_t om_dimension() const { return parts_->om_count; }
    const std::vector<Edge>& edges() const { return parts_->edges; }
    std::vector<std::int32_t> spins() const;
    std::vector<std::int32_t> signs() const;
    // Every configuration as its own list, in OM index order.
    std::vector<std::vector<std::int32_t>> configurations() const;

    // Length of every configuration: max(n - 2, 0).
    std::size_t config_length() const {
        return num_external() > 2 ? num_external() - 2 : 0;
    }
    // Configuration a (a < om_dimension()), as doubled internal spins.
    std::span<const std::int32_t> config(std::size_t a) const {
        const std::size_t len = config_length();
        return {parts_->om_flat.data() + a * len, len};
    }

    // The memory the parts take on the heap (shared by every copy).
    std::size_t heap_bytes() const;

    // Copies share the parts; with no move declared, a move is a copy.
    CGSpec(const CGSpec&) = default;
    CGSpec& operator=(const CGSpec&) = default;

    friend bool operator==(const CGSpec& a, const CGSpec& b) {
        return a.parts_ == b.parts_ ||
               (a.parts_->om_count == b.parts_->om_count && a.parts_->edges == b.parts_->edges &&
                a.parts_->om_flat == b.parts_->om_flat);
    }

private:
    // Never changed once made, so that copies share it: a copy costs no allocation.
    struct Parts {
        std::vector<Edge> edges;
        std::vector<std::int32_t> om_flat;  // configurations back to back
        std::size_t om_count;
    };
    CGSpec(std::vector<Edge> edges, std::vector<std::int32_t> om_flat, std::size_t om_count)
        : parts_(std::make_shared<const Parts>(
              Parts{std::move(edges), std::move(om_flat), om_count})) {}
    std::shared_ptr<const Parts> parts_;
};

}  // namespace tavrin
