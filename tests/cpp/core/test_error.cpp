#include "core/error.hpp"

#include <gtest/gtest.h>

namespace tavrin {
namespace {

struct ErrorCase {
    TavrinError error;
    const char* text;
    const char* python;
    bool value_error;
};

class ErrorRendering : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorRendering, TextFormAndPythonMessage) {
    const auto& c = GetParam();
    EXPECT_EQ(c.error.to_string(), c.text);
    EXPECT_EQ(c.error.python_message(), c.python);
    EXPECT_EQ(c.error.is_value_error(), c.value_error);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ErrorRendering,
    ::testing::Values(
        ErrorCase{TavrinError::invalid_spin(-1), "Invalid spin quantum number: -1",
                  "Invalid spin value: -1", true},
        ErrorCase{TavrinError::invalid_cgt_spec("Invalid direction sign: 0"),
                  "Invalid CG specification: Invalid direction sign: 0",
                  "Invalid CGSpec: Invalid direction sign: 0", true},
        ErrorCase{TavrinError::invalid_contraction("Cannot contract scalar tensors"),
                  "Invalid contraction: Cannot contract scalar tensors",
                  "Invalid contraction: Cannot contract scalar tensors", true},
        ErrorCase{TavrinError::index_out_of_bounds(5, 3),
                  "Edge index 5 out of bounds (number of edges: 3)",
                  "Tavrin error: Edge index 5 out of bounds (number of edges: 3)", false},
        ErrorCase{TavrinError::index_out_of_bounds(18446744073709551615ULL, 0),
                  "Edge index 18446744073709551615 out of bounds (number of edges: 0)",
                  "Tavrin error: Edge index 18446744073709551615 out of bounds (number of "
                  "edges: 0)",
                  false},
        ErrorCase{TavrinError::incompatible_edges(1, 2),
                  "Incompatible edge spins for contraction: J1=1, J2=2",
                  "Tavrin error: Incompatible edge spins for contraction: J1=1, J2=2", false},
        ErrorCase{TavrinError::cache_error("T"), "Cache error: T", "Cache error: T", false}));

}  // namespace
}  // namespace tavrin
