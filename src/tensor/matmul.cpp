#include "tensor/matmul.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

namespace tavrin {
namespace {

// A block of b of depth_block rows by column_block columns (256 KiB) stays in the L2 cache
// while every row of a passes over it; the matching piece of a result row (2 KiB) stays in L1.
constexpr std::size_t column_block = 256;
constexpr std::size_t depth_block = 128;

// One non-zero entry a[p, k] with the piece of row k of b it multiplies.
struct Term {
    double a_value;
    const double* b_row;
};

// Adds four terms to every c[j], one after the other in their order. Holding c[j] in a
// register across the four saves loads and stores without changing the order of additions.
void add_four_terms(double* __restrict c, const Term* terms, std::size_t width) {
    const double a0 = terms[0].a_value, a1 = terms[1].a_value;
    const double a2 = terms[2].a_value, a3 = terms[3].a_value;
    const double* __restrict b0 = terms[0].b_row;
    const double* __restrict b1 = terms[1].b_row;
    const double* __restrict b2 = terms[2].b_row;
    const double* __restrict b3 = terms[3].b_row;
    for (std::size_t j = 0; j < width; ++j) {
        double sum = c[j];
        sum += a0 * b0[j];
        sum += a1 * b1[j];
        sum += a2 * b2[j];
        sum += a3 * b3[j];
        c[j] = sum;
    }
}

void add_one_term(double* __restrict c, const Term& term, std::size_t width) {
    const double a0 = term.a_value;
    const double* __restrict b0 = term.b_row;
    for (std::size_t j = 0; j < width; ++j) c[j] += a0 * b0[j];
}

void add_terms(double* c, const Term* terms, std::size_t count, std::size_t width) {
    std::size_t t = 0;
    for (; t + 4 <= count; t += 4) add_four_terms(c, terms + t, width);
    for (; t < count; ++t) add_one_term(c, terms[t], width);
}

}  // namespace

void matmul_accumulate_ascending_k(const double* a, const double* b, double* c, std::uint64_t P,
                                   std::uint64_t K, std::uint64_t Q) {
    std::array<Term, depth_block> terms;
    for (std::size_t j0 = 0; j0 < Q; j0 += column_block) {
        const std::size_t width = std::min<std::size_t>(column_block, Q - j0);
        for (std::size_t k0 = 0; k0 < K; k0 += depth_block) {
            const std::size_t k1 = std::min<std::size_t>(K, k0 + depth_block);
            for (std::size_t p = 0; p < P; ++p) {
                const double* a_row = a + p * K;
                std::size_t count = 0;
                for (std::size_t k = k0; k < k1; ++k) {
                    if (a_row[k] != 0.0) terms[count++] = Term{a_row[k], b + k * Q + j0};
                }
                add_terms(c + p * Q + j0, terms.data(), count, width);
            }
        }
    }
}

}  // namespace tavrin
