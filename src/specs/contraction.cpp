#include "specs/contraction.hpp"

namespace tavrin {

std::expected<Contraction, AssertionFailure> Contraction::create(
    std::vector<std::uint64_t> axes_a, std::vector<std::uint64_t> axes_b) {
    if (axes_a.size() != axes_b.size()) {
        return std::unexpected(AssertionFailure::not_equal(
            "Contraction axes must have same length", axes_a.size(), axes_b.size()));
    }
    return Contraction(std::move(axes_a), std::move(axes_b));
}

}  // namespace tavrin
