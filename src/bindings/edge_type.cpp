// The Python class Edge.
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

PyObject* edge_with_spin(PyObject* args, PyObject* kwargs, const char* name,
                         Edge (*make)(Spin)) noexcept {
    return guarded_object([&] {
        const auto [spin] = bind_arguments<1>(args, kwargs, name, {"spin"});
        return to_python(make(convert_argument("spin", spin, to_spin)));
    });
}

PyObject* edge_incoming(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return edge_with_spin(args, kwargs, "incoming", Edge::incoming);
}

PyObject* edge_outgoing(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return edge_with_spin(args, kwargs, "outgoing", Edge::outgoing);
}

std::string edge_repr(const Edge& edge) {
    const char* direction = edge.is_incoming() ? "incoming" : "outgoing";
    return std::string("Edge.") + direction + "(Spin(" + edge.j.to_string() + "))";
}

// 2j as 4-byte signed, then the direction code as 8-byte unsigned, little-endian.
Py_hash_t edge_hash(const Edge& edge) {
    std::vector<std::uint8_t> bytes;
    append_little_endian(bytes, static_cast<std::uint32_t>(edge.j.twice()), 4);
    append_little_endian(bytes, edge.dir.code(), 8);
    return siphash_python_hash(bytes);
}

// (2j, sign)
PyRef edge_state(const Edge& edge) { return state_tuple(edge.j.twice(), edge.dir.sign()); }

PyMethodDef edge_methods[] = {
    {"incoming", as_method(edge_incoming),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, docs::edge_incoming},
    {"outgoing", as_method(edge_outgoing),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, docs::edge_outgoing},
    {"is_incoming", read_method<Edge, &Edge::is_incoming>, METH_NOARGS, docs::edge_is_incoming},
    {"is_outgoing", read_method<Edge, &Edge::is_outgoing>, METH_NOARGS, docs::edge_is_outgoing},
    {"__reduce__", reduce_method<Edge, edge_state>, METH_NOARGS, docs::reduce},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef edge_properties[] = {
    {"j", read_property<Edge, &Edge::j>, nullptr, docs::edge_j, nullptr},
    {"dir", read_property<Edge, &Edge::dir>, nullptr, docs::edge_dir, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot edge_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::edge_class)},
    {Py_tp_dealloc, as_slot(dealloc_value_object<Edge>)},
    {Py_tp_repr, as_slot(text_slot<Edge, edge_repr>)},
    {Py_tp_str, as_slot(text_slot<Edge, edge_repr>)},
    {Py_tp_hash, as_slot(hash_slot<Edge, edge_hash>)},
    {Py_tp_richcompare, as_slot(richcompare_slot<Edge, false>)},
    {Py_tp_methods, edge_methods},
    {Py_tp_getset, edge_properties},
    {0, nullptr},
};

PyType_Spec edge_spec = {"builtins.Edge", value_object_size<Edge>(), 0,
                         value_type_flags_without_constructor, edge_slots};

}  // namespace

PyTypeObject* edge_type() {
    static CreatedOnce<PyTypeObject*> type;
    return type.get([] { return new_heap_type(edge_spec); });
}

PyRef to_python(const Edge& edge) { return new_value_object(edge_type(), edge); }

}  // namespace tavrin::bindings
