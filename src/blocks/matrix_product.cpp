#include "blocks/matrix_product.hpp"

#include <cstddef>

#include "support/cpu_features.hpp"

// Our own register-blocked loops rather than Eigen's product: the wheel is built for baseline
// x86-64, so Eigen's kernel is compiled for SSE2 alone and cannot switch to AVX2 at run time
// (its vector width is fixed by the compiler's flags for the whole library), and on the small
// matrices of the block loops its packing and set-up cost more than the arithmetic. The
// symbols' kernel (symbols/outer_product_sum) wants a packed, transposed left factor; the block
// loops multiply strided views in place. The same source is compiled twice, once for x86-64-v3,
// and chosen at run time.

namespace tavrin::blocks {

namespace {

constexpr std::size_t kTileRows = 4;
constexpr std::size_t kLanes = 4;
constexpr std::size_t kTileColumns = 2 * kLanes;

// Four doubles as one value: a ymm register in the x86-64-v3 version, two xmm ones in the
// baseline. Written out so that the compiler keeps a tile's sums in registers rather than
// vectorising along the depth with shuffles, as it does with plain loops at -O3.
using Lanes = double __attribute__((vector_size(kLanes * sizeof(double))));

// Loads and stores at any address a double may have. Through memcpy, not a pointer to an
// under-aligned vector type: clang ignores the lowered alignment of such a type and emits
// aligned moves, which fault on the strided rows of a block.
// (By reference: a vector passed by value changes the calling convention with AVX.)
[[gnu::always_inline]] inline void load_lanes(Lanes& lanes, const double* from) {
    __builtin_memcpy(&lanes, from, sizeof lanes);
}

[[gnu::always_inline]] inline void add_to_lanes(double* to, const Lanes& lanes) {
    Lanes sum;
    load_lanes(sum, to);
    sum += lanes;
    __builtin_memcpy(to, &sum, sizeof sum);
}

// c[tile] += a[Rows rows] * b[Vectors * 4 columns], the sums in registers over all of k.
template <std::size_t Rows, std::size_t Vectors>
[[gnu::always_inline]] inline void add_vector_tile(const double* __restrict a, std::size_t lda,
                                                   const double* __restrict b, std::size_t ldb,
                                                   double* __restrict c, std::size_t ldc,
                                                   std::size_t k) {
    Lanes sum[Rows][Vectors] = {};
    for (std::size_t p = 0; p < k; ++p) {
        Lanes b_row[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) load_lanes(b_row[v], b + p * ldb + v * kLanes);
        for (std::size_t r = 0; r < Rows; ++r) {
            const double a_rp = a[r * lda + p];
            for (std::size_t v = 0; v < Vectors; ++v) sum[r][v] += a_rp * b_row[v];
        }
    }
    for (std::size_t r = 0; r < Rows; ++r) {
        double* c_row = c + r * ldc;
        for (std::size_t v = 0; v < Vectors; ++v) add_to_lanes(c_row + v * kLanes, sum[r][v]);
    }
}

// The same for fewer columns than one vector.
template <std::size_t Rows, std::size_t Columns>
[[gnu::always_inline]] inline void add_tile(const double* __restrict a, std::size_t lda,
                                            const double* __restrict b, std::size_t ldb,
                                            double* __restrict c, std::size_t ldc,
                                            std::size_t k) {
    double sum[Rows][Columns] = {};
    for (std::size_t p = 0; p < k; ++p) {
        const double* b_row = b + p * ldb;
        for (std::size_t r = 0; r < Rows; ++r) {
            const double a_rp = a[r * lda + p];
            for (std::size_t j = 0; j < Columns; ++j) sum[r][j] += a_rp * b_row[j];
        }
    }
    for (std::size_t r = 0; r < Rows; ++r) {
        for (std::size_t j = 0; j < Columns; ++j) c[r * ldc + j] += sum[r][j];
    }
}

// The last columns of a strip of Rows rows, fewer than one vector.
template <std::size_t Rows, std::size_t Columns = kLanes - 1>
[[gnu::always_inline]] inline void add_last_tile(const double* a, std::size_t lda,
                                                 const double* b, std::size_t ldb, double* c,
                                                 std::size_t ldc, std::size_t k,
                                                 std::size_t columns) {
    if constexpr (Columns > 0) {
        if (columns == Columns) {
            add_tile<Rows, Columns>(a, lda, b, ldb, c, ldc, k);
        } else {
            add_last_tile<Rows, Columns - 1>(a, lda, b, ldb, c, ldc, k, columns);
        }
    }
}

template <std::size_t Rows>
[[gnu::always_inline]] inline void add_strip(const double* a, std::size_t lda, const double* b,
                                             std::size_t ldb, double* c, std::size_t ldc,
                                             std::size_t k, std::size_t columns) {
    std::size_t j = 0;
    for (; j + kTileColumns <= columns; j += kTileColumns) {
        add_vector_tile<Rows, kTileColumns / kLanes>(a, lda, b + j, ldb, c + j, ldc, k);
    }
    if (j + kLanes <= columns) {
        add_vector_tile<Rows, 1>(a, lda, b + j, ldb, c + j, ldc, k);
        j += kLanes;
    }
    add_last_tile<Rows>(a, lda, b + j, ldb, c + j, ldc, k, columns - j);
}
// The rows below the last whole strip: one strip of fewer rows.
template <std::size_t Rows = kTileRows - 1>
[[gnu::always_inline]] inline void add_last_strip(const double* a, std::size_t lda,
                                                  const double* b, std::size_t ldb, double* c,
                                                  std::size_t ldc, std::size_t k,
                                                  std::size_t rows, std::size_t columns) {
    if constexpr (Rows > 0) {
        if (rows == Rows) {
            add_strip<Rows>(a, lda, b, ldb, c, ldc, k, columns);
        } else {
            add_last_strip<Rows - 1>(a, lda, b, ldb, c, ldc, k, rows, columns);
        }
    }
}

[[gnu::always_inline]] inline void add_product_body(ConstMatrixView a, ConstMatrixView b,
                                                    MatrixView c) {
    std::size_t i = 0;
    for (; i + kTileRows <= c.rows; i += kTileRows) {
        add_strip<kTileRows>(a.data + i * a.stride, a.stride, b.data, b.stride,
                             c.data + i * c.stride, c.stride, a.cols, c.cols);
    }
    add_last_strip(a.data + i * a.stride, a.stride, b.data, b.stride, c.data + i * c.stride,
                   c.stride, a.cols, c.rows - i, c.cols);
}

void add_product_baseline(ConstMatrixView a, ConstMatrixView b, MatrixView c) {
    add_product_body(a, b, c);
}

#if defined(__x86_64__)
[[gnu::target("arch=x86-64-v3")]] void add_product_v3(ConstMatrixView a, ConstMatrixView b,
                                                      MatrixView c) {
    add_product_body(a, b, c);
}
#endif

}  // namespace

bool runs_product_kernel(ProductKernel kernel) noexcept {
    switch (kernel) {
        case ProductKernel::Baseline:
            return true;
        case ProductKernel::X86_64_V3:
#if defined(__x86_64__)
            return runs_x86_64_v3();
#else
            return false;
#endif
    }
    return false;
}

void add_product_with(ProductKernel kernel, ConstMatrixView a, ConstMatrixView b, MatrixView c) {
    if (c.rows == 0 || c.cols == 0 || a.cols == 0) return;
#if defined(__x86_64__)
    if (kernel == ProductKernel::X86_64_V3) {
        add_product_v3(a, b, c);
        return;
    }
#endif
    add_product_baseline(a, b, c);
}

void add_product(ConstMatrixView a, ConstMatrixView b, MatrixView c) {
    static const ProductKernel best = runs_product_kernel(ProductKernel::X86_64_V3)
                                          ? ProductKernel::X86_64_V3
                                          : ProductKernel::Baseline;
    add_product_with(best, a, b, c);
}

}  // namespace tavrin::blocks
