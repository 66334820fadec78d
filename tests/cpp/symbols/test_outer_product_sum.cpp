#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <vector>

#include "symbols/outer_product_sum.hpp"

namespace tavrin {
namespace {

struct SumShape {
    std::size_t rows;
    std::size_t columns;
    std::size_t terms;
};

class OuterProducts : public ::testing::TestWithParam<SumShape> {};

// Whole blocks, ragged edges, shapes below one block, and more terms than one chunk holds, into
// an output with a row stride wider than its rows and existing values to add to.
TEST_P(OuterProducts, MatchTheTermByTermSum) {
    const auto [rows, columns, terms] = GetParam();
    const std::size_t stride = columns + 3;
    std::mt19937 rng(static_cast<unsigned>(rows * 1000 + columns * 10 + terms));
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> left(terms * rows);
    std::vector<double> right(terms * columns);
    std::vector<double> scales(terms);
    for (double& v : left) v = value(rng);
    for (double& v : right) v = value(rng);
    for (double& v : scales) v = value(rng);
    std::vector<double> out(rows * stride);
    for (double& v : out) v = value(rng);
    std::vector<double> expected = out;
    for (std::size_t k = 0; k < terms; ++k) {
        for (std::size_t i = 0; i < rows; ++i) {
            for (std::size_t j = 0; j < columns; ++j) {
                expected[i * stride + j] += scales[k] * left[k * rows + i] * right[k * columns + j];
            }
        }
    }
    OuterProductSum sum(rows, columns, out.data(), stride);
    for (std::size_t k = 0; k < terms; ++k) {
        sum.add(scales[k], left.data() + k * rows, right.data() + k * columns);
    }
    sum.flush();
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_NEAR(out[i], expected[i], 1e-12) << "at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, OuterProducts,
                         ::testing::Values(SumShape{1, 1, 5}, SumShape{3, 5, 7},
                                           SumShape{4, 8, 3}, SumShape{5, 9, 11},
                                           SumShape{14, 14, 35}, SumShape{1, 40, 9},
                                           SumShape{40, 2, 9}, SumShape{12, 16, 2000},
                                           SumShape{6, 10, 0}));

}  // namespace
}  // namespace tavrin
