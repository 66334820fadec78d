#include "bindings/array_conversion.hpp"

#include <array>
#include <string>

#include "bindings/internal_fault.hpp"
#include "bindings/numpy_api.hpp"
#include "bindings/python_error.hpp"
#include "bindings/slice_container.hpp"

namespace tavrin::bindings {

namespace {

void check_axis_count(std::size_t axes) {
    if (axes > static_cast<std::size_t>(numpy_max_axes)) {
        raise_internal_fault("Cannot convert a tensor of " + std::to_string(axes) +
                             " axes into a NumPy array: NumPy arrays have at most " +
                             std::to_string(numpy_max_axes) + " axes");
        throw_python_error();
    }
}

// The tensor's storage is contiguous and row-major. Held on the stack: the axis count is
// checked against NumPy's limit first. Only the first `axes` entries are set.
struct ArrayLayout {
    std::array<NumpyIndex, numpy_max_axes> shape;
    std::array<NumpyIndex, numpy_max_axes> strides;  // in bytes
    int axes;
};

ArrayLayout row_major_layout(std::span<const std::uint64_t> shape) {
    ArrayLayout layout;
    layout.axes = static_cast<int>(shape.size());
    NumpyIndex step = sizeof(double);
    for (std::size_t axis = shape.size(); axis-- > 0;) {
        layout.shape[axis] = static_cast<NumpyIndex>(shape[axis]);
        layout.strides[axis] = step;
        step *= layout.shape[axis];
    }
    return layout;
}

}  // namespace

PyRef to_numpy_array(Tensor tensor) {
    TensorStorage storage = std::move(tensor).release_storage();  // the shape stays
    return to_numpy_array(tensor.shape(), std::move(storage));
}

PyRef to_numpy_array(std::span<const std::uint64_t> shape, TensorStorage storage) {
    check_axis_count(shape.size());
    const NumpyApi& api = numpy_api();
    const ArrayLayout layout = row_major_layout(shape);
    PyRef owner = new_slice_container(std::move(storage));
    void* data = slice_container_storage(owner.get()).data();

    PyObject* descr = api.descr_from_type(numpy_float64_type_number);  // new reference
    if (descr == nullptr) {
        throw_python_error();
    }
    PyRef array = checked(api.new_from_descr(api.array_type, descr,
                                             layout.axes,
                                             layout.shape.data(), layout.strides.data(), data,
                                             numpy_writeable_flag, nullptr));
    checked_status(api.set_base_object(array.get(), owner.release()));
    return array;
}

}  // namespace tavrin::bindings
