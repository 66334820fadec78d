#include "tensor/tensor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <new>
#include <ostream>
#include <random>
#include <vector>

namespace tavrin {
namespace {

using Index = std::vector<std::uint64_t>;
using Axes = std::vector<std::size_t>;

template <class T>
std::ostream& operator<<(std::ostream& os, const std::vector<T>& list) {
    os << "[";
    for (std::size_t i = 0; i < list.size(); ++i) os << (i ? ", " : "") << list[i];
    return os << "]";
}

// Calls visit with every multi-index of shape, in row-major order.
void for_each_index(const Shape& shape, const std::function<void(const Index&)>& visit) {
    for (const std::uint64_t length : shape) {
        if (length == 0) return;
    }
    Index index(shape.size(), 0);
    while (true) {
        visit(index);
        std::size_t axis = shape.size();
        while (axis > 0 && ++index[axis - 1] == shape[axis - 1]) index[--axis] = 0;
        if (axis == 0) return;
    }
}

// Small integers (zeros included) keep every sum exact whatever the order of accumulation.
Tensor random_integer_tensor(const Shape& shape, std::mt19937_64& rng) {
    std::uniform_int_distribution<int> value(-3, 3);
    Tensor t = Tensor::zeros(shape);
    for (double& x : t.data()) x = value(rng);
    return t;
}

// Element i in row-major order holds i + 1.
Tensor counting_tensor(const Shape& shape) {
    Tensor t = Tensor::zeros(shape);
    double next = 1.0;
    for (double& x : t.data()) x = next++;
    return t;
}

TEST(TensorConstruction, ZerosOfEmptyShapeIsAScalar) {
    const Tensor t = Tensor::zeros({});
    EXPECT_EQ(t.rank(), 0u);
    EXPECT_EQ(t.size(), 1u);
    EXPECT_EQ(t.row_major_values(), std::vector<double>{0.0});
    EXPECT_EQ(t.get({}), 0.0);
}

TEST(TensorConstruction, ZeroLengthAxisHoldsNoElements) {
    const Tensor t = Tensor::zeros({3, 0, 2});
    EXPECT_EQ(t.shape(), (Shape{3, 0, 2}));
    EXPECT_EQ(t.size(), 0u);
    EXPECT_TRUE(t.row_major_values().empty());
}

TEST(TensorConstruction, IdentityHasOnesOnTheDiagonal) {
    const Tensor t = Tensor::identity(3);
    EXPECT_EQ(t.shape(), (Shape{3, 3}));
    EXPECT_EQ(t.row_major_values(), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
}

TEST(TensorConstruction, GetAndSetUseRowMajorPositions) {
    Tensor t = Tensor::zeros({2, 3, 4});
    t.set(Index{1, 2, 3}, 7.0);
    t.set(Index{0, 1, 0}, 5.0);
    EXPECT_EQ(t.data()[1 * 12 + 2 * 4 + 3], 7.0);
    EXPECT_EQ(t.data()[4], 5.0);
    EXPECT_EQ(t.get(Index{1, 2, 3}), 7.0);
}

TEST(TensorConstruction, FromRowMajorKeepsTheOrder) {
    const auto t = Tensor::from_row_major({2, 3}, {1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->get(Index{1, 0}), 4.0);
    EXPECT_EQ(t->get(Index{0, 2}), 3.0);
}

TEST(TensorConstruction, FromColumnMajorRunsTheFirstAxisFastest) {
    const std::vector<double> values{1, 2, 3, 4, 5, 6};
    const auto matrix = Tensor::from_column_major({2, 3}, values);
    ASSERT_TRUE(matrix.has_value());
    EXPECT_EQ(matrix->row_major_values(), (std::vector<double>{1, 3, 5, 2, 4, 6}));

    const Shape shape{2, 3, 4};
    std::vector<double> column_major(24);
    for (std::size_t i = 0; i < column_major.size(); ++i) column_major[i] = double(i);
    const auto t = Tensor::from_column_major(shape, column_major);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->shape(), shape);
    for_each_index(shape, [&](const Index& i) {
        EXPECT_EQ(t->get(i), column_major[i[0] + 2 * (i[1] + 3 * i[2])]);
    });
}

struct CountMismatch {
    Shape shape;
    std::size_t value_count;
};

void PrintTo(const CountMismatch& c, std::ostream* os) {
    *os << "shape " << c.shape << " with " << c.value_count << " values";
}

class ValueCountMismatch : public ::testing::TestWithParam<CountMismatch> {};

TEST_P(ValueCountMismatch, IsRejectedInBothOrders) {
    const auto& c = GetParam();
    const std::vector<double> values(c.value_count, 1.0);
    EXPECT_FALSE(Tensor::from_row_major(c.shape, values).has_value());
    EXPECT_FALSE(Tensor::from_column_major(c.shape, values).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ValueCountMismatch,
    ::testing::Values(CountMismatch{{2, 3}, 5}, CountMismatch{{2, 3}, 7}, CountMismatch{{}, 0},
                      CountMismatch{{3, 0}, 1},
                      // a shape whose count does not fit in 64 bits matches no value list
                      CountMismatch{{std::uint64_t{1} << 32, std::uint64_t{1} << 32}, 0}));

struct CountCase {
    Shape shape;
    std::uint64_t count;
};

void PrintTo(const CountCase& c, std::ostream* os) { *os << "shape " << c.shape; }

class ElementCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(ElementCount, IsTheProductOfTheLengths) {
    EXPECT_EQ(Tensor::element_count(GetParam().shape), GetParam().count);
}

constexpr std::uint64_t max_count = 9223372036854775807u;  // 2^63 - 1

INSTANTIATE_TEST_SUITE_P(Shapes, ElementCount,
                         ::testing::Values(CountCase{{}, 1}, CountCase{{2, 3, 4}, 24},
                                           CountCase{{3, 0, 2}, 0},
                                           CountCase{{max_count}, max_count},
                                           CountCase{{max_count, 1, 0}, 0}));

class ElementCountOverflow : public ::testing::TestWithParam<Shape> {};

TEST_P(ElementCountOverflow, ThrowsBadAlloc) {
    EXPECT_THROW(Tensor::element_count(GetParam()), std::bad_alloc);
    EXPECT_THROW(Tensor::zeros(GetParam()), std::bad_alloc);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ElementCountOverflow,
    ::testing::Values(Shape{std::uint64_t{1} << 63}, Shape{std::uint64_t{1} << 32, 1u << 31},
                      Shape{max_count, 2}, Shape{std::uint64_t{1} << 62, 0, 4},
                      Shape{std::uint64_t{1} << 40, std::uint64_t{1} << 40, 0}));

TEST(TensorStorageLimit, CountsBeyondAddressableStorageThrowBadAlloc) {
    EXPECT_THROW(Tensor::zeros({std::uint64_t{1} << 61}), std::bad_alloc);
    EXPECT_THROW(Tensor::identity(std::uint64_t{1} << 32), std::bad_alloc);
}

TEST(TensorDivision, DividesInsteadOfMultiplyingByTheReciprocal) {
    const Tensor t = *Tensor::from_row_major({2}, {0.5773502691896257, -3.0});
    const Tensor quotient = t.divided_by(std::sqrt(3.0));
    EXPECT_EQ(quotient.shape(), t.shape());
    EXPECT_EQ(quotient.data()[0], 0.3333333333333333);
    EXPECT_EQ(quotient.data()[1], -3.0 / std::sqrt(3.0));
}

TEST(TensorAssignLastIndex, FillsOneColumnOfTheLastAxis) {
    Tensor t = Tensor::zeros({2, 2, 3});
    t.assign_last_index(1, counting_tensor({2, 2}));
    t.assign_last_index(2, Tensor::identity(2));
    EXPECT_EQ(t.row_major_values(),
              (std::vector<double>{0, 1, 1, 0, 2, 0, 0, 3, 0, 0, 4, 1}));
}

struct SliceCase {
    Shape shape;
    std::size_t axis;
    std::uint64_t i;
};

void PrintTo(const SliceCase& c, std::ostream* os) {
    *os << "shape " << c.shape << ", axis " << c.axis << ", index " << c.i;
}

class InPlaceAxisOperation : public ::testing::TestWithParam<SliceCase> {};

TEST_P(InPlaceAxisOperation, ScaleSliceTouchesOnlyTheSlice) {
    const auto& c = GetParam();
    const Tensor original = counting_tensor(c.shape);
    Tensor t = original;
    t.scale_slice(c.axis, c.i, -2.0);
    for_each_index(c.shape, [&](const Index& i) {
        const double factor = i[c.axis] == c.i ? -2.0 : 1.0;
        EXPECT_EQ(t.get(i), factor * original.get(i));
    });
}

TEST_P(InPlaceAxisOperation, ScaleSliceByMinusOneTwiceRestores) {
    const auto& c = GetParam();
    Tensor t = counting_tensor(c.shape);
    t.scale_slice(c.axis, c.i, -1.0);
    t.scale_slice(c.axis, c.i, -1.0);
    EXPECT_EQ(t, counting_tensor(c.shape));
}

TEST_P(InPlaceAxisOperation, ReverseAxisMirrorsTheIndex) {
    const auto& c = GetParam();
    const Tensor original = counting_tensor(c.shape);
    Tensor t = original;
    t.reverse_axis(c.axis);
    for_each_index(c.shape, [&](const Index& i) {
        Index mirrored = i;
        mirrored[c.axis] = c.shape[c.axis] - 1 - i[c.axis];
        EXPECT_EQ(t.get(i), original.get(mirrored));
    });
    t.reverse_axis(c.axis);
    EXPECT_EQ(t, original);
}

INSTANTIATE_TEST_SUITE_P(
    Slices, InPlaceAxisOperation,
    ::testing::Values(SliceCase{{2, 3, 4}, 0, 1}, SliceCase{{2, 3, 4}, 1, 2},
                      SliceCase{{2, 3, 4}, 2, 0}, SliceCase{{5}, 0, 3},
                      SliceCase{{3, 1, 2}, 1, 0}, SliceCase{{2, 5, 3}, 1, 1}));

TEST(TensorReverseAxis, AxisOfLengthOneIsUnchanged) {
    Tensor t = counting_tensor({3, 1, 2});
    t.reverse_axis(1);
    EXPECT_EQ(t, counting_tensor({3, 1, 2}));
}

TEST(TensorReverseAxis, ZeroSizeTensorIsUnchanged) {
    Tensor t = Tensor::zeros({3, 0, 2});
    t.reverse_axis(0);
    t.scale_slice(2, 1, 2.0);
    EXPECT_EQ(t, Tensor::zeros({3, 0, 2}));
}

struct PermuteCase {
    Shape shape;
    Axes perm;
};

void PrintTo(const PermuteCase& c, std::ostream* os) {
    *os << "shape " << c.shape << ", perm " << c.perm;
}

class PermuteAxes : public ::testing::TestWithParam<PermuteCase> {};

TEST_P(PermuteAxes, AxisJIsTheInputAxisPermJ) {
    const auto& c = GetParam();
    const Tensor original = counting_tensor(c.shape);
    const Tensor t = original.permute_axes(c.perm);
    Shape expected_shape;
    for (const std::size_t axis : c.perm) expected_shape.push_back(c.shape[axis]);
    ASSERT_EQ(t.shape(), expected_shape);
    for_each_index(t.shape(), [&](const Index& k) {
        Index source(c.shape.size());
        for (std::size_t j = 0; j < k.size(); ++j) source[c.perm[j]] = k[j];
        EXPECT_EQ(t.get(k), original.get(source));
    });
}

INSTANTIATE_TEST_SUITE_P(
    Permutations, PermuteAxes,
    ::testing::Values(PermuteCase{{2, 3, 4}, {2, 0, 1}}, PermuteCase{{2, 3, 4}, {1, 2, 0}},
                      PermuteCase{{2, 3, 4}, {0, 1, 2}}, PermuteCase{{2, 3, 4, 5}, {3, 1, 0, 2}},
                      PermuteCase{{3, 1, 2}, {1, 2, 0}}, PermuteCase{{3, 0, 2}, {2, 1, 0}},
                      PermuteCase{{7}, {0}}, PermuteCase{{}, {}}));

// Each result element summed over the contracted pairs, straight from the definition.
Tensor reference_tensordot(const Tensor& a, const Tensor& b, const Axes& axes_a,
                           const Axes& axes_b) {
    Axes free_a, free_b;
    for (std::size_t axis = 0; axis < a.rank(); ++axis) {
        if (std::find(axes_a.begin(), axes_a.end(), axis) == axes_a.end()) free_a.push_back(axis);
    }
    for (std::size_t axis = 0; axis < b.rank(); ++axis) {
        if (std::find(axes_b.begin(), axes_b.end(), axis) == axes_b.end()) free_b.push_back(axis);
    }
    Shape result_shape, contracted_shape;
    for (const std::size_t axis : free_a) result_shape.push_back(a.shape()[axis]);
    for (const std::size_t axis : free_b) result_shape.push_back(b.shape()[axis]);
    for (const std::size_t axis : axes_a) contracted_shape.push_back(a.shape()[axis]);

    Tensor result = Tensor::zeros(result_shape);
    for_each_index(result_shape, [&](const Index& r) {
        double sum = 0.0;
        for_each_index(contracted_shape, [&](const Index& k) {
            Index ia(a.rank()), ib(b.rank());
            for (std::size_t q = 0; q < free_a.size(); ++q) ia[free_a[q]] = r[q];
            for (std::size_t q = 0; q < free_b.size(); ++q) ib[free_b[q]] = r[free_a.size() + q];
            for (std::size_t q = 0; q < k.size(); ++q) {
                ia[axes_a[q]] = k[q];
                ib[axes_b[q]] = k[q];
            }
            sum += a.get(ia) * b.get(ib);
        });
        result.set(r, sum);
    });
    return result;
}

struct ContractionCase {
    Shape shape_a;
    Shape shape_b;
    Axes axes_a;
    Axes axes_b;
    Shape result_shape;
};

void PrintTo(const ContractionCase& c, std::ostream* os) {
    *os << c.shape_a << " axes " << c.axes_a << " with " << c.shape_b << " axes " << c.axes_b;
}

class Tensordot : public ::testing::TestWithParam<ContractionCase> {};

TEST_P(Tensordot, MatchesTheDefinition) {
    const auto& c = GetParam();
    std::mt19937_64 rng(c.shape_a.size() * 131 + c.shape_b.size() * 17 + c.axes_a.size());
    const Tensor a = random_integer_tensor(c.shape_a, rng);
    const Tensor b = random_integer_tensor(c.shape_b, rng);
    const Tensor result = tensordot(a, b, c.axes_a, c.axes_b);
    EXPECT_EQ(result.shape(), c.result_shape);
    EXPECT_EQ(result, reference_tensordot(a, b, c.axes_a, c.axes_b));
}

INSTANTIATE_TEST_SUITE_P(
    Pairings, Tensordot,
    ::testing::Values(
        ContractionCase{{2, 3, 4}, {4, 3, 5}, {1, 2}, {1, 0}, {2, 5}},
        ContractionCase{{2, 3, 4}, {4, 3, 5}, {2}, {0}, {2, 3, 3, 5}},
        ContractionCase{{2, 3, 4}, {3, 4, 5}, {1, 2}, {0, 1}, {2, 5}},
        ContractionCase{{3, 2, 4}, {4, 5, 3}, {2, 0}, {0, 2}, {2, 5}},
        // equal lengths, so pairing by sorted axis numbers would go unnoticed by the shapes
        ContractionCase{{3, 3, 2}, {3, 3}, {1, 0}, {0, 1}, {2}},
        ContractionCase{{2, 3, 3}, {3, 3}, {1, 2}, {1, 0}, {2}},
        ContractionCase{{4, 3}, {4, 5}, {0}, {0}, {3, 5}},
        ContractionCase{{2, 3}, {5, 3}, {1}, {1}, {2, 5}},
        ContractionCase{{2, 3}, {4}, {}, {}, {2, 3, 4}},
        ContractionCase{{}, {3}, {}, {}, {3}},
        ContractionCase{{2, 3, 4}, {3, 4, 2}, {0, 1, 2}, {2, 0, 1}, {}},
        ContractionCase{{3, 1, 4}, {2, 1}, {1}, {1}, {3, 4, 2}},
        ContractionCase{{1, 3}, {1, 4}, {0}, {0}, {3, 4}},
        ContractionCase{{3, 0}, {0, 4}, {1}, {0}, {3, 4}},
        ContractionCase{{3, 0, 2}, {2, 5}, {2}, {0}, {3, 0, 5}},
        ContractionCase{{6, 140, 3}, {3, 300}, {2}, {0}, {6, 140, 300}}));

}  // namespace
}  // namespace tavrin
