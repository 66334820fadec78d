// The Python class Spin.
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/convert.hpp"
#include "bindings/created_once.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/pickling.hpp"
#include "bindings/slots.hpp"

namespace tavrin::bindings {

namespace {

PyObject* spin_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [j_doubled] = bind_arguments<1>(args, kwargs, "Spin", {"j_doubled"});
        const std::int32_t twice = convert_argument("j_doubled", j_doubled, to_int32);
        return new_value_object(type, take(Spin::create(twice)));
    });
}

std::string spin_repr(const Spin& spin) { return "Spin(" + spin.to_string() + ")"; }
std::string spin_str(const Spin& spin) { return spin.to_string(); }

// 2j itself: never -1, since 2j >= 0.
Py_hash_t spin_hash(const Spin& spin) { return spin.twice(); }

// (2j,)
PyRef spin_state(const Spin& spin) { return state_tuple(spin.twice()); }

PyMethodDef spin_methods[] = {
    {"value", read_method<Spin, &Spin::value>, METH_NOARGS, docs::spin_value},
    {"twice", read_method<Spin, &Spin::twice>, METH_NOARGS, docs::spin_twice},
    {"dimension", read_method<Spin, &Spin::dimension>, METH_NOARGS, docs::spin_dimension},
    {"is_integer", read_method<Spin, &Spin::is_integer>, METH_NOARGS, docs::spin_is_integer},
    {"is_half_integer", read_method<Spin, &Spin::is_half_integer>, METH_NOARGS,
     docs::spin_is_half_integer},
    {"__reduce__", reduce_method<Spin, spin_state>, METH_NOARGS, docs::reduce},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot spin_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::spin_class)},
    {Py_tp_new, as_slot(spin_new)},
    {Py_tp_dealloc, as_slot(dealloc_value_object<Spin>)},
    {Py_tp_repr, as_slot(text_slot<Spin, spin_repr>)},
    {Py_tp_str, as_slot(text_slot<Spin, spin_str>)},
    {Py_tp_hash, as_slot(hash_slot<Spin, spin_hash>)},
    {Py_tp_richcompare, as_slot(richcompare_slot<Spin, true>)},
    {Py_tp_methods, spin_methods},
    {0, nullptr},
};

PyType_Spec spin_spec = {"builtins.Spin", value_object_size<Spin>(), 0, value_type_flags,
                         spin_slots};

}  // namespace

PyTypeObject* spin_type() {
    static CreatedOnce<PyTypeObject*> type;
    return type.get([] { return new_heap_type(spin_spec); });
}

PyRef to_python(const Spin& spin) { return new_value_object(spin_type(), spin); }

}  // namespace tavrin::bindings
