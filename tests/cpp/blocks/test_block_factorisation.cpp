// Factorisations across a cut and fused legs, checked on the dense tensors: products give the
// tensor back, isometric factors are isometries, truncation discards what it reports.
#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <numeric>

#include "block_test_support.hpp"
#include "blocks/block_arithmetic.hpp"
#include "blocks/block_contraction.hpp"
#include "blocks/block_factorisation.hpp"
#include "blocks/block_permutation.hpp"
#include "blocks/leg_fusion.hpp"

namespace tavrin::blocks {
namespace {

using namespace tavrin::blocks::testing;

using DenseMatrix = Eigen::MatrixXd;

// The dense tensor as a matrix: its first `cut` axes number the rows.
DenseMatrix as_matrix(const Tensor& dense, std::size_t cut) {
    std::uint64_t rows = 1;
    for (std::size_t k = 0; k < cut; ++k) rows *= dense.shape()[k];
    const std::uint64_t cols = dense.size() / rows;
    DenseMatrix m(static_cast<long>(rows), static_cast<long>(cols));
    for (std::uint64_t r = 0; r < rows; ++r) {
        for (std::uint64_t c = 0; c < cols; ++c) m(long(r), long(c)) = dense.data()[r * cols + c];
    }
    return m;
}

double distance_from_identity(const DenseMatrix& m) {
    return (m - DenseMatrix::Identity(m.rows(), m.cols())).cwiseAbs().maxCoeff();
}

std::vector<std::size_t> range(std::size_t from, std::size_t to) {
    std::vector<std::size_t> r(to - from);
    std::iota(r.begin(), r.end(), from);
    return r;
}

struct CutCase {
    std::size_t rank;
    std::size_t cut;
    std::int32_t widest;  // spin 2j, small enough to keep the dense tensors small
};

class Factorisation : public CacheDirectory, public ::testing::WithParamInterface<CutCase> {
protected:
    template <class Check>
    void for_each_pattern(Check&& check) {
        std::mt19937 rng(11 + static_cast<unsigned>(10 * GetParam().rank + GetParam().cut));
        int checked = 0;
        for (const std::vector<int>& signs : direction_patterns(GetParam().rank)) {
            const BlockTensor t =
                *BlockTensor::random(random_legs(rng, signs, GetParam().widest), rng());
            if (!has_entries(t)) continue;
            check(t);
            ++checked;
        }
        EXPECT_GT(checked, 0);
    }
    Tensor dense(const BlockTensor& t) { return *to_dense(t, context_); }
    // op(A) B over the bond: the left factor's last leg with the right factor's first.
    BlockTensor product(const BlockTensor& left, const BlockTensor& right) {
        const std::size_t last = left.rank() - 1;
        return *contract(left, right, std::vector<std::size_t>{last}, std::vector<std::size_t>{0},
                         context_);
    }
};

TEST_P(Factorisation, SingularValueFactorsAreIsometriesWhoseProductIsTheTensor) {
    const std::size_t cut = GetParam().cut;
    for_each_pattern([&](const BlockTensor& t) {
        auto f = singular_value_decomposition(t, cut, {});
        ASSERT_TRUE(f) << f.error().to_string();
        EXPECT_EQ(f->discarded_weight, 0.0);
        const BlockTensor back = product(product(f->u, f->s), f->v);
        EXPECT_LT(largest_difference(dense(back), dense(t)), 1e-12);
        const DenseMatrix u = as_matrix(dense(f->u), cut);
        const DenseMatrix v = as_matrix(dense(f->v), 1);
        EXPECT_LT(distance_from_identity(u.transpose() * u), 1e-12);
        EXPECT_LT(distance_from_identity(v * v.transpose()), 1e-12);
        // The singular values are the dense matrix's, each (2k + 1) times.
        std::vector<double> ours;
        for (const SpinValues& spin : f->singular_values) {
            for (const double s : spin.values) ours.insert(ours.end(), std::size_t(spin.twice_k) + 1, s);
        }
        std::ranges::sort(ours, std::greater<>{});
        const Eigen::VectorXd theirs =
            Eigen::BDCSVD<DenseMatrix>(as_matrix(dense(t), cut)).singularValues();
        for (std::size_t i = 0; i < ours.size(); ++i) EXPECT_NEAR(ours[i], theirs(long(i)), 1e-12);
        for (long i = long(ours.size()); i < theirs.size(); ++i) EXPECT_NEAR(theirs(i), 0.0, 1e-12);
    });
}

TEST_P(Factorisation, TruncationDiscardsTheWeightItReports) {
    const std::size_t cut = GetParam().cut;
    for_each_pattern([&](const BlockTensor& t) {
        const auto full = *singular_value_decomposition(t, cut, {});
        std::uint64_t multiplets = 0;
        for (const SpinValues& spin : full.singular_values) multiplets += spin.values.size();
        for (const std::uint64_t keep : {std::uint64_t{1}, (multiplets + 1) / 2}) {
            auto f = singular_value_decomposition(t, cut, {keep, std::nullopt});
            ASSERT_TRUE(f);
            std::uint64_t kept = 0;
            for (const SpinValues& spin : f->singular_values) kept += spin.values.size();
            EXPECT_EQ(kept, keep);
            const BlockTensor approximation = product(product(f->u, f->s), f->v);
            const double error = norm(*linear_combination(1.0, t, -1.0, approximation));
            EXPECT_NEAR(error * error, f->discarded_weight, 1e-12 * norm(t) * norm(t));
            // A bound on the weight keeps no more than needed to stay within it.
            auto bounded = singular_value_decomposition(
                t, cut, {std::nullopt, f->discarded_weight * (1 + 1e-12)});
            EXPECT_LE(bounded->discarded_weight, f->discarded_weight * (1 + 1e-12));
            EXPECT_LE(bounded->u.legs().back().dense_dimension(),
                      f->u.legs().back().dense_dimension());
        }
    });
}

TEST_P(Factorisation, QrFactorsGiveTheTensorWithAnIsometricQ) {
    const std::size_t cut = GetParam().cut;
    for_each_pattern([&](const BlockTensor& t) {
        auto f = qr_decomposition(t, cut);
        ASSERT_TRUE(f) << f.error().to_string();
        EXPECT_LT(largest_difference(dense(product(f->q, f->r)), dense(t)), 1e-12);
        const DenseMatrix q = as_matrix(dense(f->q), cut);
        EXPECT_LT(distance_from_identity(q.transpose() * q), 1e-12);
    });
}

TEST_P(Factorisation, FusingIsTheFusionIsometryAndSplittingUndoesIt) {
    const std::size_t rank = GetParam().rank;
    const std::size_t cut = GetParam().cut;
    for_each_pattern([&](const BlockTensor& t) {
        const std::span<const Leg> rows(t.legs().data(), cut);
        const auto isometry = *fusion_isometry(rows);
        const DenseMatrix u = as_matrix(dense(isometry.tensor), cut);
        ASSERT_EQ(u.rows(), u.cols());
        EXPECT_LT(distance_from_identity(u.transpose() * u), 1e-12);
        auto fused = fuse(t, 0, cut, Direction::incoming(), context_);
        ASSERT_TRUE(fused) << fused.error().to_string();
        const Tensor expected =
            tensordot(dense(isometry.tensor), dense(t), range(0, cut), range(0, cut));
        EXPECT_LT(largest_difference(dense(*fused), expected), 1e-12);
        for (std::size_t first = 0; first + cut <= rank && cut < rank; ++first) {
            for (const Direction direction : {Direction::incoming(), Direction::outgoing()}) {
                auto moved = fuse(t, first, cut, direction, context_);
                ASSERT_TRUE(moved) << moved.error().to_string();
                EXPECT_EQ(moved->legs()[first].direction(), direction);
                const std::vector<Leg> parts(t.legs().begin() + long(first),
                                             t.legs().begin() + long(first + cut));
                auto back = split(*moved, first, parts, context_);
                ASSERT_TRUE(back) << back.error().to_string();
                EXPECT_TRUE(all_close(*back, t, 1e-12, 1e-12));
            }
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Cuts, Factorisation,
                         ::testing::Values(CutCase{2, 1, 3}, CutCase{3, 1, 3}, CutCase{3, 2, 3},
                                           CutCase{4, 1, 2}, CutCase{4, 2, 2},
                                           CutCase{4, 3, 1}),
                         [](const auto& test) {
                             return std::to_string(test.param.rank) + "_legs_cut_after_" +
                                    std::to_string(test.param.cut);
                         });

class HermitianOperator : public CacheDirectory,
                          public ::testing::WithParamInterface<std::size_t> {};

// H = A A^T over the dense tensors, A with the rows' legs and one more.
TEST_P(HermitianOperator, EigenvectorsDiagonaliseTheOperator) {
    const std::size_t m = GetParam();
    std::mt19937 rng(3 + static_cast<unsigned>(m));
    int checked = 0;
    for (std::vector<int> signs : direction_patterns(m)) {
        signs.push_back(-1);
        const BlockTensor a = *BlockTensor::random(random_legs(rng, signs, m < 3 ? 2 : 1), rng());
        if (!has_entries(a)) continue;
        const BlockTensor h = *contract(a, conjugate(a), std::vector<std::size_t>{m},
                                        std::vector<std::size_t>{m}, context_);
        auto system = hermitian_eigensystem(h, context_);
        ASSERT_TRUE(system) << system.error().to_string();
        const DenseMatrix dense_h = as_matrix(*to_dense(h, context_), m);
        const DenseMatrix v = as_matrix(*to_dense(system->vectors, context_), m);
        EXPECT_LT(distance_from_identity(v.transpose() * v), 1e-12);
        // V^T H V is diagonal with each eigenvalue repeated over its multiplet's states.
        Eigen::VectorXd w(v.cols());
        long at = 0;
        for (const SpinValues& spin : system->eigenvalues) {
            for (const double value : spin.values) {
                for (int i = 0; i <= spin.twice_k; ++i) w(at++) = value;
            }
        }
        const DenseMatrix diagonal = v.transpose() * dense_h * v;
        EXPECT_LT((diagonal - DenseMatrix(w.asDiagonal())).cwiseAbs().maxCoeff(),
                  1e-11 * (1 + dense_h.norm()));
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(RowLegs, HermitianOperator, ::testing::Values(1, 2, 3));

class RefusedCuts : public CacheDirectory {};

TEST_F(RefusedCuts, CutsWithoutALegOnEitherSideAndOperatorsWithUnpairedLegs) {
    const BlockTensor t =
        *BlockTensor::zeros({leg(1, {{1, 1}}), leg(1, {{1, 2}}), leg(-1, {{0, 1}, {2, 1}})});
    for (const std::size_t cut : {std::size_t{0}, std::size_t{3}}) {
        EXPECT_EQ(singular_value_decomposition(t, cut, {}).error().kind(),
                  ErrorKind::InvalidBlockTensor);
        EXPECT_EQ(qr_decomposition(t, cut).error().kind(), ErrorKind::InvalidBlockTensor);
    }
    EXPECT_EQ(hermitian_eigensystem(t, context_).error().kind(), ErrorKind::InvalidBlockTensor);
}

}  // namespace
}  // namespace tavrin::blocks
