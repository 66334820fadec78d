// Integer arguments given as NumPy arrays (or anything numpy.asarray makes into an integer
// array), read through the buffer protocol and broadcast together by NumPy's rules.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bindings/py_ref.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::bindings {

// How an element is stored: its width, signedness and whether its bytes are in the machine's
// order.
struct IntegerLayout {
    std::size_t size;
    bool is_signed;
    bool swapped;
};

// An int, or any object with __index__ but a NumPy array (whose __index__ serves 0-d arrays
// only): an argument for the scalar evaluation.
bool is_integer_scalar(PyObject* object);

// One argument: a 0-d scalar (an object with __index__) or a view of an integer array.
class IntegerOperand {
public:
    // For an integer scalar, its value (to_int32's errors, naming the argument);
    // otherwise numpy.asarray(object), which must have an integer dtype: TypeError
    // "argument '{name}': expected integers, got an array of dtype {dtype}" if not (and the
    // usual TypeError of a non-integer for a non-integer scalar).
    IntegerOperand(const char* name, PyObject* object);
    ~IntegerOperand();
    IntegerOperand(const IntegerOperand&) = delete;
    IntegerOperand& operator=(const IntegerOperand&) = delete;

    const char* name() const { return name_; }
    std::span<const Py_ssize_t> shape() const;
    std::span<const Py_ssize_t> strides() const;  // in bytes
    const char* data() const;
    const IntegerLayout& layout() const { return layout_; }

private:
    const char* name_;
    PyRef array_;       // null for a scalar
    Py_buffer view_{};  // held while array_ is set
    std::int64_t scalar_ = 0;
    IntegerLayout layout_{sizeof(std::int64_t), true, false};
};

// The element at p, widened to 64 bits; unsigned values above 2^63 - 1 read as 2^63 - 1.
std::int64_t read_integer(const char* p, const IntegerLayout& layout);

// The operands' broadcast shape, and for each operand its byte strides along the broadcast
// axes (0 where it is repeated). ValueError "arguments cannot be broadcast together: ..." if
// the shapes do not broadcast, or "... at most 32 axes" beyond NumPy 1.x's limit.
struct Broadcast {
    Shape shape;
    std::vector<std::vector<Py_ssize_t>> strides;  // per operand
    std::uint64_t count;                           // the number of elements
};
Broadcast broadcast(std::span<const IntegerOperand* const> operands);

// Calls visit(index, values) for every element of the broadcast in C order, values the N
// operands' elements there (read_integer). Touches no Python object: may run with the
// interpreter lock released. visit returns false to stop early.
template <std::size_t N, class Visit>
void for_each_element(const Broadcast& b, const std::array<const IntegerOperand*, N>& operands,
                      Visit&& visit) {
    if (b.count == 0) return;
    const std::size_t axes = b.shape.size();
    std::vector<std::uint64_t> position(axes, 0);
    std::array<const char*, N> at{};
    for (std::size_t k = 0; k < N; ++k) at[k] = operands[k]->data();
    std::array<std::int64_t, N> values{};
    for (std::uint64_t index = 0;; ++index) {
        for (std::size_t k = 0; k < N; ++k) {
            values[k] = read_integer(at[k], operands[k]->layout());
        }
        if (!visit(index, values)) return;
        // Advance the position; the last axis fastest.
        std::size_t axis = axes;
        while (axis > 0) {
            --axis;
            for (std::size_t k = 0; k < N; ++k) at[k] += b.strides[k][axis];
            if (++position[axis] < b.shape[axis]) break;
            for (std::size_t k = 0; k < N; ++k) {
                at[k] -= b.strides[k][axis] * static_cast<Py_ssize_t>(b.shape[axis]);
            }
            position[axis] = 0;
            if (axis == 0) return;
        }
        if (axes == 0) return;
    }
}

}  // namespace tavrin::bindings
