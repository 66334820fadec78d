// Owned dense n-dimensional array of doubles, stored contiguously in row-major order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace tavrin {

using Shape = std::vector<std::uint64_t>;

class Tensor {
public:
    // Element count of a shape (1 for rank 0). Throws std::bad_alloc when the count does not
    // fit a signed 64-bit integer: such a tensor cannot be held in memory.
    static std::uint64_t element_count(const Shape& shape);

    // All of these throw std::bad_alloc when the storage cannot be had.
    static Tensor zeros(Shape shape);
    static Tensor identity(std::uint64_t d);
    // Empty optional when values.size() differs from the element count of shape, a shape
    // whose count does not fit a signed 64-bit integer included (no exception for it here).
    static std::optional<Tensor> from_row_major(Shape shape, std::vector<double> values);
    static std::optional<Tensor> from_column_major(Shape shape, std::span<const double> values);

    const Shape& shape() const { return shape_; }
    std::size_t rank() const { return shape_.size(); }
    std::uint64_t size() const { return values_.size(); }

    double get(std::span<const std::uint64_t> index) const;
    void set(std::span<const std::uint64_t> index, double value);

    // A copy of the elements in row-major order.
    std::vector<double> row_major_values() const { return values_; }
    // The storage itself, row-major and contiguous.
    std::span<const double> data() const { return values_; }
    std::span<double> data() { return values_; }
    // Hands the storage over (row-major); the tensor is left empty.
    std::vector<double> release_storage() && { return std::move(values_); }

    Tensor divided_by(double s) const;
    void assign_last_index(std::uint64_t k, const Tensor& t);
    void scale_slice(std::size_t axis, std::uint64_t i, double s);
    void reverse_axis(std::size_t axis);
    Tensor permute_axes(std::span<const std::size_t> perm) const;

    friend bool operator==(const Tensor&, const Tensor&) = default;

private:
    Tensor(Shape shape, std::vector<double> values)
        : shape_(std::move(shape)), values_(std::move(values)) {}

    Shape shape_;
    std::vector<double> values_;
};

// Contraction over paired axes: axes_a[q] of a with axes_b[q] of b. The result's axes are the
// free axes of a, then the free axes of b, each in increasing order. Preconditions (equal list
// lengths, distinct in-range axes, matching lengths) are the caller's.
Tensor tensordot(const Tensor& a, const Tensor& b, std::span<const std::size_t> axes_a,
                 std::span<const std::size_t> axes_b);

}  // namespace tavrin
