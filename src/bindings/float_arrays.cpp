#include "bindings/float_arrays.hpp"

#include <cstring>

#include "bindings/created_once.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

namespace {

struct Numpy {
    PyRef ascontiguousarray;
    PyRef float64;
};

// Kept for the rest of the process and never released: the references must not be dropped
// after the interpreter has gone.
const Numpy& numpy_functions() {
    static CreatedOnce<const Numpy*> functions;
    return *functions.get([] {
        PyRef numpy = checked(PyImport_ImportModule("numpy"));
        return new Numpy{checked(PyObject_GetAttrString(numpy.get(), "ascontiguousarray")),
                         checked(PyObject_GetAttrString(numpy.get(), "float64"))};
    });
}

// A buffer view released with its owner.
class BufferView {
public:
    explicit BufferView(PyObject* object) {
        checked_status(PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT));
    }
    ~BufferView() { PyBuffer_Release(&view_); }
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    const Py_buffer& get() const { return view_; }

private:
    Py_buffer view_{};
};

}  // namespace

Tensor to_float64_tensor(PyObject* object) {
    const Numpy& numpy = numpy_functions();
    PyRef array = checked(PyObject_CallFunctionObjArgs(numpy.ascontiguousarray.get(), object,
                                                       numpy.float64.get(), nullptr));
    const BufferView view(array.get());
    const Py_buffer& buffer = view.get();
    if (buffer.itemsize != sizeof(double)) {
        PyErr_SetString(PyExc_TypeError, "expected an array of float64");
        throw_python_error();
    }
    Shape shape;
    for (int k = 0; k < buffer.ndim; ++k) shape.push_back(static_cast<std::uint64_t>(buffer.shape[k]));
    Tensor tensor = Tensor::uninitialised(std::move(shape));
    if (tensor.size() > 0) {
        std::memcpy(tensor.data().data(), buffer.buf, tensor.size() * sizeof(double));
    }
    return tensor;
}

}  // namespace tavrin::bindings
