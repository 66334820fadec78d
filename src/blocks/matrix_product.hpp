// The products of the block loops: c += a * b on row-major matrices, mostly small (a few to a
// few hundred on a side), many per contraction.
#pragma once

#include "blocks/matrix.hpp"

namespace tavrin::blocks {

// Which compiled version of the product runs.
enum class ProductKernel { Baseline, X86_64_V3 };

// Whether this processor runs the kernel.
bool runs_product_kernel(ProductKernel kernel) noexcept;

// c += a * b with a [rows(c) x k] and b [k x cols(c)], by the best kernel this processor runs.
void add_product(ConstMatrixView a, ConstMatrixView b, MatrixView c);

// The same by the given kernel, which this processor must run.
void add_product_with(ProductKernel kernel, ConstMatrixView a, ConstMatrixView b, MatrixView c);

}  // namespace tavrin::blocks
