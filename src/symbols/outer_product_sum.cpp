#include "symbols/outer_product_sum.hpp"

#include <algorithm>

namespace tavrin {

namespace {

constexpr std::size_t kBlockRows = 4;
constexpr std::size_t kBlockColumns = 8;

// Written by hand rather than taken from a BLAS: the products are small and many, and the
// extension carries no BLAS of its own. A 4 x 8 block of the output stays in registers while
// the depth streams past; the machine's vector width is chosen when the module loads.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define TAVRIN_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define TAVRIN_VECTOR_CLONES
#endif

TAVRIN_VECTOR_CLONES
void add_full_blocks(const double* __restrict left, const double* __restrict right,
                     std::size_t depth, std::size_t rows, std::size_t columns,
                     double* __restrict out, std::size_t stride, std::size_t row_blocks,
                     std::size_t column_blocks) {
    for (std::size_t ib = 0; ib < row_blocks; ++ib) {
        const std::size_t i0 = ib * kBlockRows;
        for (std::size_t jb = 0; jb < column_blocks; ++jb) {
            const std::size_t j0 = jb * kBlockColumns;
            double acc[kBlockRows][kBlockColumns] = {};
            for (std::size_t k = 0; k < depth; ++k) {
                const double* l = left + k * rows + i0;
                const double* r = right + k * columns + j0;
                for (std::size_t i = 0; i < kBlockRows; ++i) {
                    for (std::size_t j = 0; j < kBlockColumns; ++j) {
                        acc[i][j] += l[i] * r[j];
                    }
                }
            }
            for (std::size_t i = 0; i < kBlockRows; ++i) {
                for (std::size_t j = 0; j < kBlockColumns; ++j) {
                    out[(i0 + i) * stride + j0 + j] += acc[i][j];
                }
            }
        }
    }
}

TAVRIN_VECTOR_CLONES
void add_edges(const double* __restrict left, const double* __restrict right, std::size_t depth,
               std::size_t rows, std::size_t columns, double* __restrict out, std::size_t stride,
               std::size_t full_rows, std::size_t full_columns) {
    // Rows below full_rows only need the columns from full_columns on; the rest need all.
    for (std::size_t k = 0; k < depth; ++k) {
        const double* l = left + k * rows;
        const double* r = right + k * columns;
        for (std::size_t i = 0; i < rows; ++i) {
            const double li = l[i];
            double* o = out + i * stride;
            for (std::size_t j = i < full_rows ? full_columns : 0; j < columns; ++j) {
                o[j] += li * r[j];
            }
        }
    }
}

}  // namespace

void add_product_transposed(const double* left, const double* right, std::size_t depth,
                            std::size_t rows, std::size_t columns, double* out,
                            std::size_t stride) {
    const std::size_t row_blocks = rows / kBlockRows;
    const std::size_t column_blocks = columns / kBlockColumns;
    if (row_blocks > 0 && column_blocks > 0) {
        add_full_blocks(left, right, depth, rows, columns, out, stride, row_blocks,
                        column_blocks);
    }
    const std::size_t full_rows = row_blocks * kBlockRows;
    const std::size_t full_columns = column_blocks > 0 ? column_blocks * kBlockColumns : 0;
    if (full_rows < rows || full_columns < columns) {
        add_edges(left, right, depth, rows, columns, out, stride,
                  column_blocks > 0 ? full_rows : 0, full_columns);
    }
}

OuterProductSum::OuterProductSum(std::size_t rows, std::size_t columns, double* out,
                                 std::size_t stride)
    : rows_(rows), columns_(columns), out_(out), stride_(stride),
      capacity_(std::max<std::size_t>(1, kChunkBytes / (sizeof(double) * (rows + columns + 1)))) {
}

void OuterProductSum::retarget(double* out) {
    flush();
    out_ = out;
}

void OuterProductSum::add(double scale, const double* left, const double* right) {
    for (std::size_t i = 0; i < rows_; ++i) {
        left_.push_back(scale * left[i]);
    }
    right_.insert(right_.end(), right, right + columns_);
    if (++pending_ == capacity_) {
        flush();
    }
}

void OuterProductSum::flush() {
    if (pending_ == 0) {
        return;
    }
    add_product_transposed(left_.data(), right_.data(), pending_, rows_, columns_, out_,
                           stride_);
    pending_ = 0;
    left_.clear();
    right_.clear();
}

}  // namespace tavrin
