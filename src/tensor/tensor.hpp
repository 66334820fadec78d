// Owned dense n-dimensional array of doubles, stored contiguously in row-major order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace tavrin {

using Shape = std::vector<std::uint64_t>;

// Asks the system to back a large block with huge pages: filling it then takes a page fault
// per 2 MiB instead of per 4 KiB. A hint only; nothing happens where it is not supported.
void prefer_huge_pages(void* data, std::size_t bytes) noexcept;

// Leaves the elements of a vector that grows without values uninitialised, so that storage
// about to be overwritten (a decoded blob, a basis being built) is not filled with zeros first.
// Large blocks are given huge pages.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        T* data = std::allocator<T>::allocate(n);
        prefer_huge_pages(data, n * sizeof(T));
        return data;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        if constexpr (sizeof...(Args) == 0) {
            ::new (static_cast<void*>(p)) U;
        } else {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    }
};

// The element storage of a tensor, handed over whole to whoever takes the tensor apart.
using TensorStorage = std::vector<double, UninitialisedAllocator<double>>;

class Tensor {
public:
    // Element count of a shape (1 for rank 0). Throws std::bad_alloc when the count does not
    // fit a signed 64-bit integer: such a tensor cannot be held in memory.
    static std::uint64_t element_count(const Shape& shape);

    // All of these throw std::bad_alloc when the storage cannot be had.
    static Tensor zeros(Shape shape);
    // Elements left unset: every one must be written before it is read.
    static Tensor uninitialised(Shape shape);
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
    std::vector<double> row_major_values() const { return {values_.begin(), values_.end()}; }
    // The storage itself, row-major and contiguous.
    std::span<const double> data() const { return values_; }
    std::span<double> data() { return values_; }
    // Hands the storage over (row-major); the tensor is left empty.
    TensorStorage release_storage() && { return std::move(values_); }

    Tensor divided_by(double s) const;
    void assign_last_index(std::uint64_t k, const Tensor& t);
    void scale_slice(std::size_t axis, std::uint64_t i, double s);
    void reverse_axis(std::size_t axis);
    Tensor permute_axes(std::span<const std::size_t> perm) const;

    friend bool operator==(const Tensor&, const Tensor&) = default;

private:
    Tensor(Shape shape, TensorStorage values)
        : shape_(std::move(shape)), values_(std::move(values)) {}

    Shape shape_;
    TensorStorage values_;
};

// Contraction over paired axes: axes_a[q] of a with axes_b[q] of b. The result's axes are the
// free axes of a, then the free axes of b, each in increasing order. Preconditions (equal list
// lengths, distinct in-range axes, matching lengths) are the caller's.
Tensor tensordot(const Tensor& a, const Tensor& b, std::span<const std::size_t> axes_a,
                 std::span<const std::size_t> axes_b);

}  // namespace tavrin
