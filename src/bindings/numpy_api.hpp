// The four functions of NumPy's C API that array creation needs, reached at run time through
// the _ARRAY_API capsule of NumPy's multiarray module (NumPy 1.x and 2.x alike).
#pragma once

#include <Python.h>

namespace tavrin::bindings {

using NumpyIndex = Py_intptr_t;  // NumPy's npy_intp

inline constexpr int numpy_float64_type_number = 12;
inline constexpr int numpy_writeable_flag = 0x400;
// NumPy 1.x's limit; NumPy 2.x allows more, but arrays must work under both.
inline constexpr int numpy_max_axes = 32;

struct NumpyApi {
    PyTypeObject* array_type;
    // Returns a new reference to a descriptor.
    PyObject* (*descr_from_type)(int type_number);
    // Steals the reference to descr.
    PyObject* (*new_from_descr)(PyTypeObject* subtype, PyObject* descr, int axes,
                                const NumpyIndex* shape, const NumpyIndex* strides, void* data,
                                int flags, PyObject* owner);
    // Steals the reference to base, also when it fails.
    int (*set_base_object)(PyObject* array, PyObject* base);
};

// Looked up on the first successful call and kept for the rest of the process. Throws
// PythonErrorSet with InternalFault "Failed to access NumPy array API capsule: ..." when
// NumPy cannot be reached; the next call tries again.
const NumpyApi& numpy_api();

}  // namespace tavrin::bindings
