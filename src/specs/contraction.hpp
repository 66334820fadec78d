// Which edges of two specifications are joined by a contraction.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "support/assertion.hpp"

namespace tavrin {

class Contraction {
public:
    // Pair i joins edge axes_a[i] of the first specification with edge axes_b[i] of the
    // second. Lists of different lengths are a broken precondition, reported as an
    // AssertionFailure comparing len(axes_a) (left) with len(axes_b) (right).
    static std::expected<Contraction, AssertionFailure> create(std::vector<std::uint64_t> axes_a,
                                                               std::vector<std::uint64_t> axes_b);

    const std::vector<std::uint64_t>& axes_a() const { return axes_a_; }
    const std::vector<std::uint64_t>& axes_b() const { return axes_b_; }

    friend bool operator==(const Contraction&, const Contraction&) = default;

private:
    Contraction(std::vector<std::uint64_t> a, std::vector<std::uint64_t> b)
        : axes_a_(std::move(a)), axes_b_(std::move(b)) {}
    std::vector<std::uint64_t> axes_a_;
    std::vector<std::uint64_t> axes_b_;
};

}  // namespace tavrin
