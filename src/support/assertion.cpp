#include "support/assertion.hpp"

namespace tavrin {

AssertionFailure AssertionFailure::not_equal(const std::string& what, std::uint64_t left,
                                             std::uint64_t right) {
    return {"assertion `left == right` failed: " + what + "\n  left: " + std::to_string(left) +
            "\n right: " + std::to_string(right)};
}

}  // namespace tavrin
