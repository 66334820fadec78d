// The Python class Direction.
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

PyObject* direction_from_sign(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [sign] = bind_arguments<1>(args, kwargs, "from_sign", {"sign"});
        const std::int32_t value = convert_argument("sign", sign, to_int32);
        return to_python(take(Direction::from_sign(value)));
    });
}

std::string direction_repr(const Direction& direction) {
    return direction.is_incoming() ? "Direction.incoming" : "Direction.outgoing";
}

// The sign, with -1 (Python's error value for hashes) replaced by -2.
Py_hash_t direction_hash(const Direction& direction) { return direction.is_incoming() ? 1 : -2; }

// (sign,)
PyRef direction_state(const Direction& direction) { return state_tuple(direction.sign()); }

PyMethodDef direction_methods[] = {
    {"incoming", static_factory<&Direction::incoming>, METH_NOARGS | METH_STATIC,
     docs::direction_incoming},
    {"outgoing", static_factory<&Direction::outgoing>, METH_NOARGS | METH_STATIC,
     docs::direction_outgoing},
    {"from_sign", as_method(direction_from_sign), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     docs::direction_from_sign},
    {"sign", read_method<Direction, &Direction::sign>, METH_NOARGS, docs::direction_sign},
    {"flip", read_method<Direction, &Direction::flip>, METH_NOARGS, docs::direction_flip},
    {"is_incoming", read_method<Direction, &Direction::is_incoming>, METH_NOARGS,
     docs::direction_is_incoming},
    {"is_outgoing", read_method<Direction, &Direction::is_outgoing>, METH_NOARGS,
     docs::direction_is_outgoing},
    {"__reduce__", reduce_method<Direction, direction_state>, METH_NOARGS, docs::reduce},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot direction_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::direction_class)},
    {Py_tp_dealloc, as_slot(dealloc_value_object<Direction>)},
    {Py_tp_repr, as_slot(text_slot<Direction, direction_repr>)},
    {Py_tp_str, as_slot(text_slot<Direction, direction_repr>)},
    {Py_tp_hash, as_slot(hash_slot<Direction, direction_hash>)},
    {Py_tp_richcompare, as_slot(richcompare_slot<Direction, false>)},
    {Py_tp_methods, direction_methods},
    {0, nullptr},
};

PyType_Spec direction_spec = {"builtins.Direction", value_object_size<Direction>(), 0,
                              value_type_flags_without_constructor, direction_slots};

}  // namespace

PyTypeObject* direction_type() {
    static CreatedOnce<PyTypeObject*> type;
    return type.get([] { return new_heap_type(direction_spec); });
}

PyRef to_python(const Direction& direction) {
    return new_value_object(direction_type(), direction);
}

}  // namespace tavrin::bindings
