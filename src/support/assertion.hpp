// Internal invariants: checked in every build type, never compiled out.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin {

// A broken internal invariant: not an input error. The Python boundary reports it as
// InternalFault instead of ending the process.
struct AssertionFailure {
    std::string message;

    // "assertion `left == right` failed: {what}\n  left: {left}\n right: {right}"
    static AssertionFailure not_equal(const std::string& what, std::uint64_t left,
                                      std::uint64_t right);
    friend bool operator==(const AssertionFailure&, const AssertionFailure&) = default;
};

// Throws AssertionFailure "assertion failed: {what}" unless the invariant holds. Thrown rather
// than returned because the invariants guard code with no error channel of its own (element
// access, axis operations); the one call boundary turns it into InternalFault.
inline void check_invariant(bool holds, const char* what) {
    if (!holds) [[unlikely]] {
        throw AssertionFailure{std::string("assertion failed: ") + what};
    }
}

}  // namespace tavrin
