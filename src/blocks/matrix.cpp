#include "blocks/matrix.hpp"

#include <algorithm>

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/QR>
#include <Eigen/SVD>

namespace tavrin::blocks {

namespace {

using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using Stride = Eigen::OuterStride<>;
using ConstMap = Eigen::Map<const RowMajor, 0, Stride>;
using MutableMap = Eigen::Map<RowMajor, 0, Stride>;

auto as_eigen(ConstMatrixView m) {
    return ConstMap(m.data, static_cast<Eigen::Index>(m.rows), static_cast<Eigen::Index>(m.cols),
                    Stride(static_cast<Eigen::Index>(m.stride)));
}
auto as_eigen(MatrixView m) {
    return MutableMap(m.data, static_cast<Eigen::Index>(m.rows),
                      static_cast<Eigen::Index>(m.cols),
                      Stride(static_cast<Eigen::Index>(m.stride)));
}

template <class Product>
void assign(MatrixView c, const Product& product, double alpha, double beta) {
    auto target = as_eigen(c);
    if (beta == 0.0) {
        target.noalias() = alpha * product;
    } else {
        if (beta != 1.0) target *= beta;
        target.noalias() += alpha * product;
    }
}

Matrix from_eigen(const RowMajor& m) {
    Matrix out(static_cast<std::size_t>(m.rows()), static_cast<std::size_t>(m.cols()));
    as_eigen(out.view()) = m;
    return out;
}

}  // namespace

void multiply(ConstMatrixView a, ConstMatrixView b, MatrixView c, double alpha, double beta,
              Transpose transpose_a, Transpose transpose_b) {
    if (c.rows == 0 || c.cols == 0) return;
    const std::size_t inner = transpose_a == Transpose::Yes ? a.rows : a.cols;
    if (inner == 0) {
        if (beta == 0.0) {
            as_eigen(c).setZero();
        } else if (beta != 1.0) {
            as_eigen(c) *= beta;
        }
        return;
    }
    const bool ta = transpose_a == Transpose::Yes;
    const bool tb = transpose_b == Transpose::Yes;
    if (ta && tb) {
        assign(c, as_eigen(a).transpose() * as_eigen(b).transpose(), alpha, beta);
    } else if (ta) {
        assign(c, as_eigen(a).transpose() * as_eigen(b), alpha, beta);
    } else if (tb) {
        assign(c, as_eigen(a) * as_eigen(b).transpose(), alpha, beta);
    } else {
        assign(c, as_eigen(a) * as_eigen(b), alpha, beta);
    }
}

SingularValueDecomposition singular_value_decomposition(const Matrix& m) {
    const RowMajor dense = as_eigen(m.view());
    Eigen::BDCSVD<RowMajor> svd(dense, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const auto& s = svd.singularValues();
    return {from_eigen(svd.matrixU()), std::vector<double>(s.data(), s.data() + s.size()),
            from_eigen(svd.matrixV().transpose())};
}

QrDecomposition qr_decomposition(const Matrix& m) {
    const RowMajor dense = as_eigen(m.view());
    const auto rank = static_cast<Eigen::Index>(std::min(m.rows, m.cols));
    Eigen::HouseholderQR<RowMajor> qr(dense);
    const RowMajor q = qr.householderQ() * RowMajor::Identity(dense.rows(), rank);
    const RowMajor r = qr.matrixQR().topRows(rank).triangularView<Eigen::Upper>();
    return {from_eigen(q), from_eigen(r)};
}

SymmetricEigensystem symmetric_eigensystem(const Matrix& m) {
    const RowMajor dense = as_eigen(m.view());
    Eigen::SelfAdjointEigenSolver<RowMajor> solver(dense);
    const auto& w = solver.eigenvalues();
    return {std::vector<double>(w.data(), w.data() + w.size()), from_eigen(solver.eigenvectors())};
}

double lowest_tridiagonal_eigenvalue(const std::vector<double>& diagonal,
                                     const std::vector<double>& off_diagonal) {
    const auto n = static_cast<Eigen::Index>(diagonal.size());
    Eigen::VectorXd d = Eigen::Map<const Eigen::VectorXd>(diagonal.data(), n);
    Eigen::VectorXd e = Eigen::VectorXd::Zero(std::max<Eigen::Index>(n - 1, 0));
    for (Eigen::Index i = 0; i + 1 < n; ++i) e(i) = off_diagonal[static_cast<std::size_t>(i)];
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver;
    solver.computeFromTridiagonal(d, e, Eigen::EigenvaluesOnly);
    return solver.eigenvalues()(0);
}

}  // namespace tavrin::blocks
