#include "blocks/block_arithmetic.hpp"

#include <cmath>
#include <span>
#include <string>

namespace tavrin::blocks {

TavrinError different_legs(const char* operation) {
    return TavrinError::invalid_block_tensor(std::string(operation) +
                                             " needs tensors with the same legs");
}

Result<BlockTensor> linear_combination(double alpha, const BlockTensor& a, double beta,
                                       const BlockTensor& b) {
    if (a.legs() != b.legs()) return fail(different_legs("adding"));
    BlockTensor sum = a;
    for (std::size_t i = 0; i < sum.blocks().size(); ++i) {
        const auto y = b.blocks()[i].data.data();
        auto x = sum.blocks()[i].data.data();
        for (std::size_t e = 0; e < x.size(); ++e) x[e] = alpha * x[e] + beta * y[e];
    }
    return sum;
}

BlockTensor scaled(const BlockTensor& a, double alpha) {
    BlockTensor product = a;
    for (Block& block : product.blocks()) {
        for (double& x : block.data.data()) x *= alpha;
    }
    return product;
}

void add_scaled(BlockTensor& y, double alpha, const BlockTensor& x) {
    for (std::size_t i = 0; i < y.blocks().size(); ++i) {
        const auto from = x.blocks()[i].data.data();
        auto to = y.blocks()[i].data.data();
        for (std::size_t e = 0; e < to.size(); ++e) to[e] += alpha * from[e];
    }
}

void scale_in_place(BlockTensor& y, double alpha) {
    for (Block& block : y.blocks()) {
        for (double& v : block.data.data()) v *= alpha;
    }
}

namespace {

// Four sums side by side, so that the additions do not wait on one another.
double dot(std::span<const double> x, std::span<const double> y) {
    double sums[4] = {};
    const std::size_t whole = x.size() / 4 * 4;
    for (std::size_t e = 0; e < whole; e += 4) {
        for (std::size_t k = 0; k < 4; ++k) sums[k] += x[e + k] * y[e + k];
    }
    for (std::size_t e = whole; e < x.size(); ++e) sums[0] += x[e] * y[e];
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

}  // namespace

Result<double> inner(const BlockTensor& a, const BlockTensor& b) {
    if (a.legs() != b.legs()) return fail(different_legs("an inner product"));
    double sum = 0.0;
    for (std::size_t i = 0; i < a.blocks().size(); ++i) {
        sum += dot(a.blocks()[i].data.data(), b.blocks()[i].data.data());
    }
    return sum;
}

double norm(const BlockTensor& a) { return std::sqrt(*inner(a, a)); }

}  // namespace tavrin::blocks
