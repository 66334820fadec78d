#include "bindings/integer_arrays.hpp"

#include <bit>
#include <cstring>
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/convert.hpp"
#include "bindings/created_once.hpp"
#include "bindings/numpy_api.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

namespace {

// numpy.asarray, looked up once.
PyObject* numpy_asarray() {
    static CreatedOnce<PyRef> asarray;
    return asarray
        .get([] {
            PyRef numpy = checked(PyImport_ImportModule("numpy"));
            return checked(PyObject_GetAttrString(numpy.get(), "asarray"));
        })
        .get();
}

// The layout of a struct-module format of one integer, or nothing for any other format.
std::optional<IntegerLayout> integer_layout(const char* format, Py_ssize_t item_size) {
    if (format == nullptr) return std::nullopt;
    bool swapped = false;
    switch (*format) {
        case '@':
        case '=':
            ++format;
            break;
        case '<':
            swapped = std::endian::native != std::endian::little;
            ++format;
            break;
        case '>':
        case '!':
            swapped = std::endian::native != std::endian::big;
            ++format;
            break;
        default:
            break;
    }
    if (format[0] == '\0' || format[1] != '\0') return std::nullopt;
    const char code = format[0];
    static constexpr char kSigned[] = "bhilqn";
    static constexpr char kUnsigned[] = "BHILQN";
    const bool is_signed = std::strchr(kSigned, code) != nullptr;
    if (!is_signed && std::strchr(kUnsigned, code) == nullptr) return std::nullopt;
    const auto size = static_cast<std::size_t>(item_size);
    if (size != 1 && size != 2 && size != 4 && size != 8) return std::nullopt;
    return IntegerLayout{size, is_signed, swapped};
}

[[noreturn]] void raise_not_integers(const char* name, PyObject* array) {
    PyRef dtype = checked(PyObject_GetAttrString(array, "dtype"));
    PyRef text = checked(PyObject_Str(dtype.get()));
    PyErr_Format(PyExc_TypeError, "argument '%s': expected integers, got an array of dtype %U",
                 name, text.get());
    throw_python_error();
}

std::string shape_text(std::span<const Py_ssize_t> shape) {
    std::string text = "(";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(shape[i]);
    }
    return text + (shape.size() == 1 ? ",)" : ")");
}

}  // namespace

bool is_integer_scalar(PyObject* object) {
    if (PyLong_Check(object)) return true;
    return PyIndex_Check(object) != 0 &&
           PyObject_TypeCheck(object, numpy_api().array_type) == 0;
}

IntegerOperand::IntegerOperand(const char* name, PyObject* object) : name_(name) {
    if (is_integer_scalar(object)) {
        scalar_ = convert_argument(name, object, to_int32);
        return;
    }
    PyRef array = checked(PyObject_CallFunctionObjArgs(numpy_asarray(), object, nullptr));
    if (PyObject_GetBuffer(array.get(), &view_, PyBUF_RECORDS_RO) != 0) {
        PyErr_Clear();  // an array of objects, for example, has no buffer of plain values
        raise_not_integers(name, array.get());
    }
    const auto layout = integer_layout(view_.format, view_.itemsize);
    if (!layout) {
        const bool zero_dimensional = view_.ndim == 0;
        PyBuffer_Release(&view_);
        if (zero_dimensional && !PyObject_TypeCheck(object, numpy_api().array_type)) {
            // A non-integer scalar: the same TypeError as the scalar functions give.
            convert_argument(name, object, to_int32);
        }
        raise_not_integers(name, array.get());
    }
    layout_ = *layout;
    array_ = std::move(array);
}

IntegerOperand::~IntegerOperand() {
    if (array_) PyBuffer_Release(&view_);
}

std::span<const Py_ssize_t> IntegerOperand::shape() const {
    if (!array_) return {};
    return {view_.shape, static_cast<std::size_t>(view_.ndim)};
}

std::span<const Py_ssize_t> IntegerOperand::strides() const {
    if (!array_) return {};
    return {view_.strides, static_cast<std::size_t>(view_.ndim)};
}

const char* IntegerOperand::data() const {
    return array_ ? static_cast<const char*>(view_.buf)
                  : reinterpret_cast<const char*>(&scalar_);
}

std::int64_t read_integer(const char* p, const IntegerLayout& layout) {
    std::uint64_t bits = 0;
    switch (layout.size) {
        case 1: {
            std::uint8_t v;
            std::memcpy(&v, p, 1);
            return layout.is_signed ? std::int64_t{static_cast<std::int8_t>(v)} : v;
        }
        case 2: {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            if (layout.swapped) v = std::byteswap(v);
            return layout.is_signed ? std::int64_t{static_cast<std::int16_t>(v)} : v;
        }
        case 4: {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            if (layout.swapped) v = std::byteswap(v);
            return layout.is_signed ? std::int64_t{static_cast<std::int32_t>(v)} : v;
        }
        default:
            std::memcpy(&bits, p, 8);
            if (layout.swapped) bits = std::byteswap(bits);
            if (layout.is_signed) return static_cast<std::int64_t>(bits);
            return bits > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX
                                                                 : static_cast<std::int64_t>(bits);
    }
}

Broadcast broadcast(std::span<const IntegerOperand* const> operands) {
    std::size_t axes = 0;
    for (const IntegerOperand* operand : operands) axes = std::max(axes, operand->shape().size());
    if (axes > static_cast<std::size_t>(numpy_max_axes)) {
        raise_value_error("arguments cannot be broadcast together: the result would have " +
                          std::to_string(axes) + " axes, at most " +
                          std::to_string(numpy_max_axes) + " are supported");
    }
    Broadcast b{Shape(axes, 1), {}, 1};
    for (const IntegerOperand* operand : operands) {
        const auto shape = operand->shape();
        const std::size_t offset = axes - shape.size();
        for (std::size_t i = 0; i < shape.size(); ++i) {
            const auto extent = static_cast<std::uint64_t>(shape[i]);
            std::uint64_t& target = b.shape[offset + i];
            if (extent == target || extent == 1) continue;
            if (target != 1) {
                std::string message = "arguments cannot be broadcast together:";
                for (const IntegerOperand* each : operands) {
                    message += std::string(" ") + each->name() + " " + shape_text(each->shape());
                    message += each == operands.back() ? "" : ",";
                }
                raise_value_error(message);
            }
            target = extent;
        }
    }
    for (const IntegerOperand* operand : operands) {
        const auto shape = operand->shape();
        const auto strides = operand->strides();
        const std::size_t offset = axes - shape.size();
        std::vector<Py_ssize_t> along(axes, 0);
        for (std::size_t i = 0; i < shape.size(); ++i) {
            if (shape[i] != 1) along[offset + i] = strides[i];
        }
        b.strides.push_back(std::move(along));
    }
    for (std::uint64_t extent : b.shape) b.count *= extent;
    return b;
}

}  // namespace tavrin::bindings
