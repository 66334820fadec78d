#include "tensor/tensor.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <limits>
#include <new>

#include "support/assertion.hpp"
#include "tensor/matmul.hpp"

namespace tavrin {
namespace {

// Empty when the count does not fit a signed 64-bit integer.
std::optional<std::uint64_t> checked_element_count(const Shape& shape) {
    constexpr std::uint64_t limit = std::numeric_limits<std::int64_t>::max();
    std::uint64_t product = 1;
    bool has_zero_axis = false;
    for (const std::uint64_t length : shape) {
        if (length == 0) {
            has_zero_axis = true;
        } else if (product > limit / length) {
            return std::nullopt;
        } else {
            product *= length;
        }
    }
    return has_zero_axis ? 0 : product;
}

TensorStorage uninitialised_storage(std::uint64_t count) {
    TensorStorage values;
    // Counts the vector cannot address would otherwise surface as std::length_error.
    if (count > values.max_size()) throw std::bad_alloc();
    values.resize(count);
    return values;
}

// Product of the lengths of the axes [first, last) of a shape whose element count is valid.
std::uint64_t axis_range_product(const Shape& shape, std::size_t first, std::size_t last) {
    std::uint64_t product = 1;
    for (std::size_t axis = first; axis < last; ++axis) product *= shape[axis];
    return product;
}

std::vector<std::uint64_t> row_major_strides(const Shape& shape) {
    std::vector<std::uint64_t> strides(shape.size());
    std::uint64_t stride = 1;
    for (std::size_t axis = shape.size(); axis-- > 0;) {
        strides[axis] = stride;
        stride *= shape[axis];
    }
    return strides;
}

std::uint64_t flat_offset(const Shape& shape, std::span<const std::uint64_t> index) {
    check_invariant(index.size() == shape.size(), "an element index has one entry per axis");
    std::uint64_t offset = 0;
    for (std::size_t axis = 0; axis < shape.size(); ++axis) {
        check_invariant(index[axis] < shape[axis], "an element index is within its axis");
        offset = offset * shape[axis] + index[axis];
    }
    return offset;
}

// Writes, in row-major order of `shape`, the elements of `source` found at the offsets
// sum over the axes of index[axis] * strides[axis]. `count` is the element count of `shape`.
void gather_strided(const double* source, const Shape& shape,
                    const std::vector<std::uint64_t>& strides, std::uint64_t count, double* out) {
    if (count == 0) return;
    if (shape.empty()) {
        *out = *source;
        return;
    }
    const std::size_t last = shape.size() - 1;
    const std::uint64_t row_length = shape[last];
    const std::uint64_t row_stride = strides[last];
    std::vector<std::uint64_t> index(last, 0);
    std::uint64_t row_offset = 0;
    for (std::uint64_t row = 0; row < count / row_length; ++row) {
        const double* row_start = source + row_offset;
        for (std::uint64_t i = 0; i < row_length; ++i) *out++ = row_start[i * row_stride];
        for (std::size_t axis = last; axis-- > 0;) {
            row_offset += strides[axis];
            if (++index[axis] < shape[axis]) break;
            row_offset -= strides[axis] * shape[axis];
            index[axis] = 0;
        }
    }
}

std::vector<std::size_t> free_axes(std::size_t rank, std::span<const std::size_t> contracted) {
    std::vector<std::size_t> axes;
    for (std::size_t axis = 0; axis < rank; ++axis) {
        if (std::find(contracted.begin(), contracted.end(), axis) == contracted.end()) {
            axes.push_back(axis);
        }
    }
    return axes;
}

// True when listing the axes in `order` leaves the row-major layout unchanged: axes of
// length 1 may move freely, the others must keep their relative order.
bool keeps_layout(const Shape& shape, const std::vector<std::size_t>& order) {
    std::size_t previous = 0;
    bool seen_any = false;
    for (const std::size_t axis : order) {
        if (shape[axis] == 1) continue;
        if (seen_any && axis < previous) return false;
        previous = axis;
        seen_any = true;
    }
    return true;
}

// The tensor's elements with its axes listed in `order`, copied only when the layout changes.
class AxesInOrder {
public:
    AxesInOrder(const Tensor& tensor, const std::vector<std::size_t>& order) {
        if (!keeps_layout(tensor.shape(), order)) permuted_ = tensor.permute_axes(order);
        data_ = permuted_ ? permuted_->data().data() : tensor.data().data();
    }
    AxesInOrder(const AxesInOrder&) = delete;
    AxesInOrder& operator=(const AxesInOrder&) = delete;
    const double* data() const { return data_; }

private:
    std::optional<Tensor> permuted_;
    const double* data_;
};

std::uint64_t selected_axes_product(const Shape& shape, const std::vector<std::size_t>& axes) {
    std::uint64_t product = 1;
    for (const std::size_t axis : axes) product *= shape[axis];
    return product;
}

bool distinct_in_range(std::span<const std::size_t> axes, std::size_t rank) {
    std::vector<bool> seen(rank, false);
    for (const std::size_t axis : axes) {
        if (axis >= rank || seen[axis]) return false;
        seen[axis] = true;
    }
    return true;
}

bool is_permutation_of_axes(std::span<const std::size_t> perm, std::size_t rank) {
    return perm.size() == rank && distinct_in_range(perm, rank);
}

bool pairs_fit(const Tensor& a, const Tensor& b, std::span<const std::size_t> axes_a,
               std::span<const std::size_t> axes_b) {
    if (axes_a.size() != axes_b.size() || !distinct_in_range(axes_a, a.rank()) ||
        !distinct_in_range(axes_b, b.rank())) {
        return false;
    }
    for (std::size_t q = 0; q < axes_a.size(); ++q) {
        if (a.shape()[axes_a[q]] != b.shape()[axes_b[q]]) return false;
    }
    return true;
}

}  // namespace

void prefer_huge_pages(void* data, std::size_t bytes) noexcept {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    if (bytes < 2 * kHugePage) return;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (last > first) {
        (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
}

std::uint64_t Tensor::element_count(const Shape& shape) {
    const std::optional<std::uint64_t> count = checked_element_count(shape);
    if (!count) throw std::bad_alloc();
    return *count;
}

Tensor Tensor::zeros(Shape shape) {
    Tensor result = uninitialised(std::move(shape));
    std::fill(result.values_.begin(), result.values_.end(), 0.0);
    return result;
}

Tensor Tensor::uninitialised(Shape shape) {
    TensorStorage values = uninitialised_storage(element_count(shape));
    return Tensor(std::move(shape), std::move(values));
}

Tensor Tensor::identity(std::uint64_t d) {
    Tensor result = zeros({d, d});
    for (std::uint64_t i = 0; i < d; ++i) result.values_[i * d + i] = 1.0;
    return result;
}

std::optional<Tensor> Tensor::from_row_major(Shape shape, std::vector<double> values) {
    const std::optional<std::uint64_t> count = checked_element_count(shape);
    if (!count || *count != values.size()) return std::nullopt;
    return Tensor(std::move(shape), TensorStorage(values.begin(), values.end()));
}

std::optional<Tensor> Tensor::from_column_major(Shape shape, std::span<const double> values) {
    const std::optional<std::uint64_t> count = checked_element_count(shape);
    if (!count || *count != values.size()) return std::nullopt;
    // Column-major values are the row-major values of the tensor with its axes reversed.
    const std::size_t rank = shape.size();
    Tensor reversed(Shape(shape.rbegin(), shape.rend()),
                    TensorStorage(values.begin(), values.end()));
    std::vector<std::size_t> reverse_order(rank);
    for (std::size_t axis = 0; axis < rank; ++axis) reverse_order[axis] = rank - 1 - axis;
    return reversed.permute_axes(reverse_order);
}

double Tensor::get(std::span<const std::uint64_t> index) const {
    return values_[flat_offset(shape_, index)];
}

void Tensor::set(std::span<const std::uint64_t> index, double value) {
    values_[flat_offset(shape_, index)] = value;
}

Tensor Tensor::divided_by(double s) const {
    Tensor result = *this;
    for (double& x : result.values_) x = x / s;
    return result;
}

void Tensor::assign_last_index(std::uint64_t k, const Tensor& t) {
    check_invariant(rank() >= 1 && k < shape_.back(), "the slot is within the last axis");
    check_invariant(std::equal(t.shape_.begin(), t.shape_.end(), shape_.begin(), shape_.end() - 1),
                    "the slice has the shape of the other axes");
    const std::uint64_t n = shape_.back();
    for (std::uint64_t m = 0; m < t.values_.size(); ++m) values_[m * n + k] = t.values_[m];
}

void Tensor::scale_slice(std::size_t axis, std::uint64_t i, double s) {
    check_invariant(axis < rank() && i < shape_[axis], "the slice is within the tensor");
    const std::uint64_t outer = axis_range_product(shape_, 0, axis);
    const std::uint64_t length = shape_[axis];
    const std::uint64_t inner = axis_range_product(shape_, axis + 1, rank());
    for (std::uint64_t o = 0; o < outer; ++o) {
        double* slice = values_.data() + (o * length + i) * inner;
        for (std::uint64_t x = 0; x < inner; ++x) slice[x] *= s;
    }
}

void Tensor::reverse_axis(std::size_t axis) {
    check_invariant(axis < rank(), "the axis is within the tensor");
    const std::uint64_t outer = axis_range_product(shape_, 0, axis);
    const std::uint64_t length = shape_[axis];
    const std::uint64_t inner = axis_range_product(shape_, axis + 1, rank());
    for (std::uint64_t o = 0; o < outer; ++o) {
        double* block = values_.data() + o * length * inner;
        for (std::uint64_t i = 0; i < length / 2; ++i) {
            double* front = block + i * inner;
            std::swap_ranges(front, front + inner, block + (length - 1 - i) * inner);
        }
    }
}

Tensor Tensor::permute_axes(std::span<const std::size_t> perm) const {
    check_invariant(is_permutation_of_axes(perm, rank()), "the axis order lists every axis once");
    const std::vector<std::uint64_t> strides = row_major_strides(shape_);
    Shape permuted_shape(rank());
    std::vector<std::uint64_t> source_strides(rank());
    for (std::size_t j = 0; j < rank(); ++j) {
        permuted_shape[j] = shape_[perm[j]];
        source_strides[j] = strides[perm[j]];
    }
    Tensor result = uninitialised(std::move(permuted_shape));
    gather_strided(values_.data(), result.shape_, source_strides, result.values_.size(),
                   result.values_.data());
    return result;
}

Tensor tensordot(const Tensor& a, const Tensor& b, std::span<const std::size_t> axes_a,
                 std::span<const std::size_t> axes_b) {
    check_invariant(pairs_fit(a, b, axes_a, axes_b),
                    "contracted axes are distinct, in range and of equal lengths");
    const std::vector<std::size_t> free_a = free_axes(a.rank(), axes_a);
    const std::vector<std::size_t> free_b = free_axes(b.rank(), axes_b);

    Shape result_shape;
    for (const std::size_t axis : free_a) result_shape.push_back(a.shape()[axis]);
    for (const std::size_t axis : free_b) result_shape.push_back(b.shape()[axis]);
    Tensor result = Tensor::zeros(std::move(result_shape));

    // a as a matrix [free axes of a, contracted axes], b as [contracted axes, free axes of b],
    // the contracted axes of both in pair order.
    std::vector<std::size_t> order_a = free_a;
    order_a.insert(order_a.end(), axes_a.begin(), axes_a.end());
    std::vector<std::size_t> order_b(axes_b.begin(), axes_b.end());
    order_b.insert(order_b.end(), free_b.begin(), free_b.end());
    const std::vector<std::size_t> contracted_a(axes_a.begin(), axes_a.end());

    const std::uint64_t rows = selected_axes_product(a.shape(), free_a);
    const std::uint64_t depth = selected_axes_product(a.shape(), contracted_a);
    const std::uint64_t columns = selected_axes_product(b.shape(), free_b);
    if (rows == 0 || depth == 0 || columns == 0) return result;

    const AxesInOrder matrix_a(a, order_a);
    const AxesInOrder matrix_b(b, order_b);
    matmul_accumulate_ascending_k(matrix_a.data(), matrix_b.data(), result.data().data(), rows,
                                  depth, columns);
    return result;
}

}  // namespace tavrin
