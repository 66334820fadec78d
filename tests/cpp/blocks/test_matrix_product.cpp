#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "blocks/matrix_product.hpp"

namespace tavrin::blocks {
namespace {

struct ProductShape {
    std::size_t rows;
    std::size_t depth;
    std::size_t columns;
};

using ProductCase = std::tuple<ProductKernel, ProductShape>;

class MatrixProducts : public ::testing::TestWithParam<ProductCase> {};

// Whole tiles, every narrower strip and tile at the edges, one-wide and empty sides, on views
// whose row strides are wider than their rows and onto an output that already holds values
// (added to, and left alone outside the view).
TEST_P(MatrixProducts, AddTheNaiveProduct) {
    const auto [kernel, shape] = GetParam();
    if (!runs_product_kernel(kernel)) GTEST_SKIP() << "this processor does not run the kernel";
    const auto [rows, depth, columns] = shape;
    const std::size_t lda = depth + 1, ldb = columns + 2, ldc = columns + 3;
    std::mt19937 rng(static_cast<unsigned>(rows * 10000 + depth * 100 + columns));
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> a(rows * lda), b(depth * ldb), c(rows * ldc + 1);
    for (double& v : a) v = value(rng);
    for (double& v : b) v = value(rng);
    for (double& v : c) v = value(rng);
    std::vector<double> expected = c;
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = 0; j < columns; ++j) {
            for (std::size_t p = 0; p < depth; ++p) {
                expected[i * ldc + j] += a[i * lda + p] * b[p * ldb + j];
            }
        }
    }
    add_product_with(kernel, ConstMatrixView(a.data(), rows, depth, lda),
                     ConstMatrixView(b.data(), depth, columns, ldb),
                     MatrixView{c.data(), rows, columns, ldc});
    for (std::size_t e = 0; e < c.size(); ++e) {
        EXPECT_NEAR(c[e], expected[e], 1e-13) << "at " << e;
    }
}

std::string case_name(const ::testing::TestParamInfo<ProductCase>& info) {
    const auto [kernel, shape] = info.param;
    return std::string(kernel == ProductKernel::Baseline ? "baseline" : "v3") + "_" +
           std::to_string(shape.rows) + "x" + std::to_string(shape.depth) + "x" +
           std::to_string(shape.columns);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, MatrixProducts,
    ::testing::Combine(::testing::Values(ProductKernel::Baseline, ProductKernel::X86_64_V3),
                       ::testing::Values(ProductShape{4, 5, 8}, ProductShape{8, 13, 16},
                                         ProductShape{7, 9, 15}, ProductShape{3, 6, 12},
                                         ProductShape{5, 3, 7}, ProductShape{1, 17, 1},
                                         ProductShape{13, 1, 3}, ProductShape{2, 40, 5},
                                         ProductShape{37, 29, 43}, ProductShape{0, 4, 6},
                                         ProductShape{4, 0, 6}, ProductShape{4, 6, 0})),
    case_name);

}  // namespace
}  // namespace tavrin::blocks
