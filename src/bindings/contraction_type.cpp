// The Python class Contraction.
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/convert.hpp"
#include "bindings/created_once.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/pickling.hpp"
#include "bindings/slots.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin::bindings {

namespace {

PyObject* contraction_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [axes_a, axes_b] =
            bind_arguments<2>(args, kwargs, "Contraction", {"axes_a", "axes_b"});
        std::vector<std::uint64_t> first = convert_argument("axes_a", axes_a, to_uint64_list);
        std::vector<std::uint64_t> second = convert_argument("axes_b", axes_b, to_uint64_list);
        return new_value_object(type, take(Contraction::create(std::move(first),
                                                               std::move(second))));
    });
}

std::string contraction_repr(const Contraction& contraction) {
    return "Contraction(axes_a=" + bracketed_list(contraction.axes_a()) +
           ", axes_b=" + bracketed_list(contraction.axes_b()) + ")";
}

// Each list as its length then its elements, all 8-byte unsigned little-endian.
Py_hash_t contraction_hash(const Contraction& contraction) {
    std::vector<std::uint8_t> bytes;
    for (const auto* axes : {&contraction.axes_a(), &contraction.axes_b()}) {
        append_little_endian(bytes, axes->size(), 8);
        for (const std::uint64_t axis : *axes) {
            append_little_endian(bytes, axis, 8);
        }
    }
    return siphash_python_hash(bytes);
}

// (axes_a, axes_b)
PyRef contraction_state(const Contraction& contraction) {
    return state_tuple(contraction.axes_a(), contraction.axes_b());
}

PyMethodDef contraction_methods[] = {
    {"__reduce__", reduce_method<Contraction, contraction_state>, METH_NOARGS, docs::reduce},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef contraction_properties[] = {
    {"axes_a", read_property<Contraction, &Contraction::axes_a>, nullptr,
     docs::contraction_axes_a, nullptr},
    {"axes_b", read_property<Contraction, &Contraction::axes_b>, nullptr,
     docs::contraction_axes_b, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot contraction_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::contraction_class)},
    {Py_tp_new, as_slot(contraction_new)},
    {Py_tp_dealloc, as_slot(dealloc_value_object<Contraction>)},
    {Py_tp_repr, as_slot(text_slot<Contraction, contraction_repr>)},
    {Py_tp_str, as_slot(text_slot<Contraction, contraction_repr>)},
    {Py_tp_hash, as_slot(hash_slot<Contraction, contraction_hash>)},
    {Py_tp_richcompare, as_slot(richcompare_slot<Contraction, false>)},
    {Py_tp_methods, contraction_methods},
    {Py_tp_getset, contraction_properties},
    {0, nullptr},
};

PyType_Spec contraction_spec = {"builtins.Contraction", value_object_size<Contraction>(), 0,
                                value_type_flags, contraction_slots};

}  // namespace

PyTypeObject* contraction_type() {
    static CreatedOnce<PyTypeObject*> type;
    return type.get([] { return new_heap_type(contraction_spec); });
}

PyRef to_python(const Contraction& contraction) {
    return new_value_object(contraction_type(), contraction);
}

}  // namespace tavrin::bindings
