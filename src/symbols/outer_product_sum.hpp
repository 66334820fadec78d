// A sum of outer products, out[i, j] += sum over k of s_k * left_k[i] * right_k[j], gathered in
// chunks and added as one matrix product each: a register-blocked kernel instead of one
// rank-1 update (two loads and a store per multiplication) per term. The order of summation is
// free here: the symbols have none pinned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/scratch_vector.hpp"

namespace tavrin {

class OuterProductSum {
public:
    // The block of the output the kernel keeps in registers.
    static constexpr std::size_t kBlockRows = 4;
    static constexpr std::size_t kBlockColumns = 8;

    // out is [rows, columns] with row stride `stride` (in doubles).
    OuterProductSum(std::size_t rows, std::size_t columns, double* out, std::size_t stride);
    OuterProductSum(const OuterProductSum&) = delete;
    OuterProductSum& operator=(const OuterProductSum&) = delete;
    ~OuterProductSum() = default;

    void add(double scale, const double* left, const double* right);
    // Adds the pending terms to the output. Also done when the chunk is full.
    void flush();

private:
    static constexpr std::size_t kChunkBytes = std::size_t{1} << 18;

    std::size_t rows_;
    std::size_t columns_;
    double* out_;
    std::size_t stride_;
    bool padded_;
    std::size_t gathered_rows_;
    std::size_t gathered_columns_;
    std::size_t capacity_;  // terms per chunk
    std::size_t pending_ = 0;
    ScratchVector left_;   // [pending, gathered rows], scaled
    ScratchVector right_;  // [pending, gathered columns]
};

// out[i * stride + j] += sum over k < depth of left[k * rows + i] * right[k * columns + j].
void add_product_transposed(const double* left, const double* right, std::size_t depth,
                            std::size_t rows, std::size_t columns, double* out,
                            std::size_t stride);

}  // namespace tavrin
