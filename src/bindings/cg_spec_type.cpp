// The Python class CGSpec.
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/convert.hpp"
#include "bindings/created_once.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/pickling.hpp"
#include "bindings/slots.hpp"
#include "coupling/om_configurations.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin::bindings {

namespace {

// Spins that cannot couple are an ordinary answer here: raised without a C++ throw.
PyObject* cg_spec_from_edges(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [edges] = bind_arguments<1>(args, kwargs, "from_edges", {"edges"});
        return value_or_library_error(
            CGSpec::from_edges(convert_argument("edges", edges, to_edge_list)),
            [](CGSpec&& spec) { return to_python(std::move(spec)); });
    });
}

// The questions are asked in tight loops: fast calls.
PyObject* cg_spec_admits_invariant(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [edges] =
            bind_fastcall_arguments<1>(args, nargs, kwnames, "admits_invariant", {"edges"});
        return PyRef::borrow(
            admits_invariant(convert_argument("edges", edges, to_edge_spins)) ? Py_True
                                                                              : Py_False);
    });
}

PyObject* cg_spec_count_invariants(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [edges] =
            bind_fastcall_arguments<1>(args, nargs, kwnames, "count_invariants", {"edges"});
        const std::vector<std::int32_t> spins = convert_argument("edges", edges, to_edge_spins);
        if (const auto count = count_invariants(spins)) {
            return checked(PyLong_FromUnsignedLongLong(*count));
        }
        if (const auto decimal = count_invariants_decimal(spins)) {
            return checked(PyLong_FromString(decimal->c_str(), nullptr, 10));
        }
        raise_value_error(
            "The internal spins of these edges range over too many values to count their "
            "invariants");
    });
}

PyObject* cg_spec_with_inverted_axes(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [axes] = bind_arguments<1>(args, kwargs, "with_inverted_axes", {"axes"});
        const std::vector<std::uint64_t> positions =
            convert_argument("axes", axes, to_uint64_list);
        return to_python(take(value_of<CGSpec>(self).with_inverted_axes(positions)));
    });
}

std::string cg_spec_repr(const CGSpec& spec) {
    return "CGSpec(num_external=" + std::to_string(spec.num_external()) +
           ", om_dim=" + std::to_string(spec.om_dimension()) + ")";
}

// For each edge, 2j then the sign, both 4-byte signed little-endian; configurations are not
// hashed (they follow from the spins).
Py_hash_t cg_spec_hash(const CGSpec& spec) {
    std::vector<std::uint8_t> bytes;
    for (const Edge& edge : spec.edges()) {
        append_little_endian(bytes, static_cast<std::uint32_t>(edge.j.twice()), 4);
        append_little_endian(bytes, static_cast<std::uint32_t>(edge.dir.sign()), 4);
    }
    return siphash_python_hash(bytes);
}

// (edges,): the configurations follow from the spins and are enumerated again.
PyRef cg_spec_state(const CGSpec& spec) { return state_tuple(spec.edges()); }

PyMethodDef cg_spec_methods[] = {
    {"from_edges", as_method(cg_spec_from_edges), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     docs::cg_spec_from_edges},
    {"admits_invariant", as_method(cg_spec_admits_invariant),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, docs::cg_spec_admits_invariant},
    {"count_invariants", as_method(cg_spec_count_invariants),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, docs::cg_spec_count_invariants},
    {"num_external", read_method<CGSpec, &CGSpec::num_external>, METH_NOARGS,
     docs::cg_spec_num_external},
    {"om_dimension", read_method<CGSpec, &CGSpec::om_dimension>, METH_NOARGS,
     docs::cg_spec_om_dimension},
    {"get_spins", read_method<CGSpec, &CGSpec::spins>, METH_NOARGS, docs::cg_spec_get_spins},
    {"get_directions", read_method<CGSpec, &CGSpec::signs>, METH_NOARGS,
     docs::cg_spec_get_directions},
    {"get_om_configurations", read_method<CGSpec, &CGSpec::configurations>, METH_NOARGS,
     docs::cg_spec_get_om_configurations},
    {"with_inverted_axes", as_method(cg_spec_with_inverted_axes), METH_VARARGS | METH_KEYWORDS,
     docs::cg_spec_with_inverted_axes},
    {"__reduce__", reduce_method<CGSpec, cg_spec_state>, METH_NOARGS, docs::reduce},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef cg_spec_properties[] = {
    {"edges", read_property<CGSpec, &CGSpec::edges>, nullptr, docs::cg_spec_edges, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot cg_spec_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::cg_spec_class)},
    {Py_tp_dealloc, as_slot(dealloc_value_object<CGSpec>)},
    {Py_tp_repr, as_slot(text_slot<CGSpec, cg_spec_repr>)},
    {Py_tp_str, as_slot(text_slot<CGSpec, cg_spec_repr>)},
    {Py_tp_hash, as_slot(hash_slot<CGSpec, cg_spec_hash>)},
    {Py_tp_richcompare, as_slot(richcompare_slot<CGSpec, false>)},
    {Py_tp_methods, cg_spec_methods},
    {Py_tp_getset, cg_spec_properties},
    {0, nullptr},
};

PyType_Spec cg_spec_spec = {"builtins.CGSpec", value_object_size<CGSpec>(), 0,
                            value_type_flags_without_constructor, cg_spec_slots};

}  // namespace

PyTypeObject* cg_spec_type() {
    static CreatedOnce<PyTypeObject*> type;
    return type.get([] { return new_heap_type(cg_spec_spec); });
}

PyRef to_python(const CGSpec& spec) { return new_value_object(cg_spec_type(), spec); }
PyRef to_python(CGSpec&& spec) { return new_value_object(cg_spec_type(), std::move(spec)); }

}  // namespace tavrin::bindings
