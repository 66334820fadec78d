// Copying a block with its axes in another order into part of a larger matrix.
#pragma once

#include <cstddef>
#include <span>

#include "tensor/tensor.hpp"

namespace tavrin::blocks {

// Writes the block with its axes in `order` (order[j] is the source axis that becomes axis j)
// as a matrix: axes order[0 .. split) number the rows, the others the columns, both
// row-major. Row r, column c goes to destination[r * stride + c].
void copy_permuted(const Tensor& block, std::span<const std::size_t> order, std::size_t split,
                   double* destination, std::size_t stride);

}  // namespace tavrin::blocks
