#include "symbols/outer_product_sum.hpp"

#include <algorithm>

#include "support/cpu_features.hpp"

namespace tavrin {

namespace {

constexpr std::size_t kRows = OuterProductSum::kBlockRows;
constexpr std::size_t kColumns = OuterProductSum::kBlockColumns;

// Written by hand rather than taken from a BLAS: the products are small and many, and the
// extension carries no BLAS of its own. A 4 x 8 block of the output stays in registers while
// the depth streams past. The kernels are inlined into one version of the product for the
// x86-64 baseline and one for x86-64-v3, chosen at run time.
[[gnu::always_inline]] inline void add_full_blocks(const double* __restrict left, const double* __restrict right,
                     std::size_t depth, std::size_t rows, std::size_t columns,
                     double* __restrict out, std::size_t stride, std::size_t row_blocks,
                     std::size_t column_blocks) {
    for (std::size_t ib = 0; ib < row_blocks; ++ib) {
        const std::size_t i0 = ib * kRows;
        for (std::size_t jb = 0; jb < column_blocks; ++jb) {
            const std::size_t j0 = jb * kColumns;
            double acc[kRows][kColumns] = {};
            for (std::size_t k = 0; k < depth; ++k) {
                const double* l = left + k * rows + i0;
                const double* r = right + k * columns + j0;
                for (std::size_t i = 0; i < kRows; ++i) {
                    for (std::size_t j = 0; j < kColumns; ++j) {
                        acc[i][j] += l[i] * r[j];
                    }
                }
            }
            for (std::size_t i = 0; i < kRows; ++i) {
                for (std::size_t j = 0; j < kColumns; ++j) {
                    out[(i0 + i) * stride + j0 + j] += acc[i][j];
                }
            }
        }
    }
}

[[gnu::always_inline]] inline void add_edges(const double* __restrict left, const double* __restrict right, std::size_t depth,
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

[[gnu::always_inline]] inline void add_product(const double* left, const double* right,
                                               std::size_t depth, std::size_t rows,
                                               std::size_t columns, double* out,
                                               std::size_t stride) {
    const std::size_t row_blocks = rows / kRows;
    const std::size_t column_blocks = columns / kColumns;
    if (row_blocks > 0 && column_blocks > 0) {
        add_full_blocks(left, right, depth, rows, columns, out, stride, row_blocks,
                        column_blocks);
    }
    const std::size_t full_rows = row_blocks * kRows;
    const std::size_t full_columns = column_blocks > 0 ? column_blocks * kColumns : 0;
    if (full_rows < rows || full_columns < columns) {
        add_edges(left, right, depth, rows, columns, out, stride,
                  column_blocks > 0 ? full_rows : 0, full_columns);
    }
}

void add_product_baseline(const double* left, const double* right, std::size_t depth,
                          std::size_t rows, std::size_t columns, double* out,
                          std::size_t stride) {
    add_product(left, right, depth, rows, columns, out, stride);
}

#if defined(__x86_64__)
[[gnu::target("arch=x86-64-v3")]] void add_product_v3(const double* left, const double* right,
                                                      std::size_t depth, std::size_t rows,
                                                      std::size_t columns, double* out,
                                                      std::size_t stride) {
    add_product(left, right, depth, rows, columns, out, stride);
}
#endif

}  // namespace

void add_product_transposed(const double* left, const double* right, std::size_t depth,
                            std::size_t rows, std::size_t columns, double* out,
                            std::size_t stride) {
#if defined(__x86_64__)
    if (runs_x86_64_v3()) {
        add_product_v3(left, right, depth, rows, columns, out, stride);
        return;
    }
#endif
    add_product_baseline(left, right, depth, rows, columns, out, stride);
}

OuterProductSum::OuterProductSum(std::size_t rows, std::size_t columns, double* out,
                                 std::size_t stride)
    : rows_(rows), columns_(columns), out_(out), stride_(stride),
      // Shapes of at least one block are gathered padded to whole blocks (zeros), so that
      // the register-blocked kernel does all the work; smaller ones are summed plainly.
      padded_(rows >= kBlockRows && columns >= kBlockColumns),
      gathered_rows_(padded_ ? (rows + kBlockRows - 1) / kBlockRows * kBlockRows : rows),
      gathered_columns_(padded_ ? (columns + kBlockColumns - 1) / kBlockColumns * kBlockColumns
                                : columns),
      capacity_(std::max<std::size_t>(
          1, kChunkBytes / (sizeof(double) * (gathered_rows_ + gathered_columns_ + 1)))) {
    const std::size_t first_terms = std::min<std::size_t>(capacity_, 64);
    left_->reserve(first_terms * gathered_rows_);
    right_->reserve(first_terms * gathered_columns_);
}

void OuterProductSum::add(double scale, const double* left, const double* right) {
    const std::size_t left_at = left_->size();
    left_->resize(left_at + gathered_rows_, 0.0);  // the padding stays zero
    double* const scaled = left_->data() + left_at;
    for (std::size_t i = 0; i < rows_; ++i) {
        scaled[i] = scale * left[i];
    }
    const std::size_t right_at = right_->size();
    right_->resize(right_at + gathered_columns_, 0.0);
    std::copy_n(right, columns_, right_->data() + right_at);
    if (++pending_ == capacity_) {
        flush();
    }
}

void OuterProductSum::flush() {
    if (pending_ == 0) {
        return;
    }
    if (!padded_ || (gathered_rows_ == rows_ && gathered_columns_ == columns_)) {
        add_product_transposed(left_->data(), right_->data(), pending_, gathered_rows_,
                               gathered_columns_, out_, stride_);
    } else {
        ScratchVector padded_out_space;
        std::vector<double>& padded_out = *padded_out_space;
        padded_out.assign(gathered_rows_ * gathered_columns_, 0.0);
        add_product_transposed(left_->data(), right_->data(), pending_, gathered_rows_,
                               gathered_columns_, padded_out.data(), gathered_columns_);
        for (std::size_t i = 0; i < rows_; ++i) {
            const double* source = padded_out.data() + i * gathered_columns_;
            double* target = out_ + i * stride_;
            for (std::size_t j = 0; j < columns_; ++j) {
                target[j] += source[j];
            }
        }
    }
    pending_ = 0;
    left_->clear();
    right_->clear();
}

}  // namespace tavrin
