#include "bindings/float_arrays.hpp"

#include <cstring>

#include "bindings/created_once.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

namespace {

struct Numpy {
    PyRef asarray;
    PyRef float64;
};

// Kept for the rest of the process and never released: the references must not be dropped
// after the interpreter has gone.
const Numpy& numpy_functions() {
    static CreatedOnce<const Numpy*> functions;
    return *functions.get([] {
        PyRef numpy = checked(PyImport_ImportModule("numpy"));
        return new Numpy{checked(PyObject_GetAttrString(numpy.get(), "asarray")),
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

// Booleans, integers and floats: what converts to float64 without losing a part of it.
void require_real_numbers(PyObject* array) {
    PyRef dtype = checked(PyObject_GetAttrString(array, "dtype"));
    PyRef kind = checked(PyObject_GetAttrString(dtype.get(), "kind"));
    const char* code = PyUnicode_AsUTF8AndSize(kind.get(), nullptr);
    if (code == nullptr) throw_python_error();
    if (code[0] != '\0' && code[1] == '\0' && std::strchr("biuf", code[0]) != nullptr) return;
    PyRef text = checked(PyObject_Str(dtype.get()));
    PyErr_Format(PyExc_TypeError, "expected an array of real numbers, got dtype %U", text.get());
    throw_python_error();
}

// numpy.asarray(object, dtype=numpy.float64, order="C"): a 0-d array stays 0-d.
PyRef contiguous_float64(const Numpy& numpy, PyObject* array) {
    PyRef arguments = checked(PyTuple_Pack(1, array));
    PyRef keywords = checked(PyDict_New());
    checked_status(PyDict_SetItemString(keywords.get(), "dtype", numpy.float64.get()));
    PyRef order = checked(PyUnicode_FromString("C"));
    checked_status(PyDict_SetItemString(keywords.get(), "order", order.get()));
    return checked(PyObject_Call(numpy.asarray.get(), arguments.get(), keywords.get()));
}

}  // namespace

Tensor to_float64_tensor(PyObject* object) {
    const Numpy& numpy = numpy_functions();
    PyRef given =
        checked(PyObject_CallFunctionObjArgs(numpy.asarray.get(), object, nullptr));
    require_real_numbers(given.get());
    PyRef array = contiguous_float64(numpy, given.get());
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
