#include "bindings/slice_container.hpp"

#include <Python.h>

#include "bindings/created_once.hpp"
#include "bindings/internal_fault.hpp"
#include "bindings/python_error.hpp"
#include "bindings/slots.hpp"
#include "bindings/value_object.hpp"

namespace tavrin::bindings {

namespace {

using Storage = TensorStorage;

constexpr const char* slice_container_doc =
    "Owner of the element storage of an array returned by tavrin.";

PyType_Slot slice_container_slots[] = {
    {Py_tp_doc, const_cast<char*>(slice_container_doc)},
    {Py_tp_dealloc, as_slot(dealloc_value_object<Storage>)},
    {0, nullptr},
};

// Not instantiable from Python, not subclassable, not GC-tracked (it holds no references).
PyType_Spec slice_container_spec = {"builtins.PySliceContainer", value_object_size<Storage>(),
                                    0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                                    slice_container_slots};

PyTypeObject* slice_container_type() {
    static CreatedOnce<PyTypeObject*> type;
    return type.get([] { return new_heap_type(slice_container_spec); });
}

}  // namespace

PyRef new_slice_container(TensorStorage storage) {
    try {
        return new_value_object(slice_container_type(), std::move(storage));
    } catch (const PythonErrorSet&) {
        throw_internal_fault_from_pending("Failed to create slice container");
    }
}

TensorStorage& slice_container_storage(PyObject* container) noexcept {
    return reinterpret_cast<ValueObject<Storage>*>(container)->value;
}

}  // namespace tavrin::bindings
