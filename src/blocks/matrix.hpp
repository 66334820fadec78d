// Dense row-major matrices for the block loops and their factorisations, computed with Eigen
// (header-only: the wheel carries nothing for it).
#pragma once

#include <cstddef>
#include <vector>

namespace tavrin::blocks {

struct MatrixView {
    double* data;
    std::size_t rows;
    std::size_t cols;
    std::size_t stride;  // between rows, in elements
};

struct ConstMatrixView {
    const double* data;
    std::size_t rows;
    std::size_t cols;
    std::size_t stride;
    ConstMatrixView(const double* d, std::size_t r, std::size_t c, std::size_t s)
        : data(d), rows(r), cols(c), stride(s) {}
    ConstMatrixView(MatrixView m) : data(m.data), rows(m.rows), cols(m.cols), stride(m.stride) {}
};

enum class Transpose { No, Yes };

// c = alpha * op(a) * op(b) + beta * c, op transposing where asked (beta = 0: c is only
// written). op(a): [rows(c) x k], op(b): [k x cols(c)].
void multiply(ConstMatrixView a, ConstMatrixView b, MatrixView c, double alpha, double beta,
              Transpose transpose_a = Transpose::No, Transpose transpose_b = Transpose::No);

// An owned row-major matrix.
struct Matrix {
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::vector<double> values;
    Matrix() = default;
    Matrix(std::size_t r, std::size_t c) : rows(r), cols(c), values(r * c, 0.0) {}
    double& operator()(std::size_t i, std::size_t j) { return values[i * cols + j]; }
    double operator()(std::size_t i, std::size_t j) const { return values[i * cols + j]; }
    MatrixView view() { return {values.data(), rows, cols, cols}; }
    ConstMatrixView view() const { return {values.data(), rows, cols, cols}; }
};

// m = u * diag(s) * vt, s descending, thin: u [rows x r], vt [r x cols], r = min(rows, cols).
struct SingularValueDecomposition {
    Matrix u;
    std::vector<double> s;
    Matrix vt;
};
SingularValueDecomposition singular_value_decomposition(const Matrix& m);

// m = q * r, q with orthonormal columns [rows x r], r [r x cols], r = min(rows, cols).
struct QrDecomposition {
    Matrix q;
    Matrix r;
};
QrDecomposition qr_decomposition(const Matrix& m);

// A symmetric m (its lower triangle read) = v * diag(w) * v^T, w ascending.
struct SymmetricEigensystem {
    std::vector<double> w;
    Matrix v;
};
SymmetricEigensystem symmetric_eigensystem(const Matrix& m);

// The lowest eigenvalue of a symmetric tridiagonal matrix (its diagonal, and the n - 1 entries
// next to it); no vectors computed.
double lowest_tridiagonal_eigenvalue(const std::vector<double>& diagonal,
                                     const std::vector<double>& off_diagonal);

}  // namespace tavrin::blocks
