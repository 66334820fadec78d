#include "bindings/pickling.hpp"

#include <string_view>
#include <utility>

#include "bindings/arguments.hpp"
#include "bindings/block_tensor_type.hpp"
#include "bindings/convert.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/python_error.hpp"
#include "bindings/slots.hpp"

namespace tavrin::bindings {

namespace {

// The items of a state tuple of exactly N items, borrowed.
template <std::size_t N>
std::array<PyObject*, N> state_items(PyObject* state, const char* class_name) {
    if (!PyTuple_Check(state) || PyTuple_Size(state) != static_cast<Py_ssize_t>(N)) {
        PyErr_Format(PyExc_TypeError, "state of %s must be a tuple of %zu items", class_name, N);
        throw_python_error();
    }
    std::array<PyObject*, N> items{};
    for (std::size_t i = 0; i < N; ++i) {
        items[i] = PyTuple_GetItem(state, static_cast<Py_ssize_t>(i));
    }
    return items;
}

Spin spin_from(PyObject* twice) { return take(Spin::create(to_int32(twice))); }
Direction direction_from(PyObject* sign) { return take(Direction::from_sign(to_int32(sign))); }

PyRef reconstruct(std::string_view name, PyObject* state) {
    if (name == "Spin") {
        const auto [twice] = state_items<1>(state, "Spin");
        return to_python(spin_from(twice));
    }
    if (name == "Direction") {
        const auto [sign] = state_items<1>(state, "Direction");
        return to_python(direction_from(sign));
    }
    if (name == "Edge") {
        const auto [twice, sign] = state_items<2>(state, "Edge");
        return to_python(Edge{spin_from(twice), direction_from(sign)});
    }
    if (name == "CGSpec") {
        const auto [edges] = state_items<1>(state, "CGSpec");
        return to_python(take(CGSpec::from_edges(to_edge_list(edges))));
    }
    if (name == "Leg") {
        const auto [sign, sectors] = state_items<2>(state, "Leg");
        return to_python(take(blocks::Leg::create(direction_from(sign), to_sectors(sectors))));
    }
    if (name == "BlockTensor") {
        const auto [legs, blocks] = state_items<2>(state, "BlockTensor");
        return tensor_from_blocks(legs, blocks);
    }
    if (name == "Contraction") {
        const auto [axes_a, axes_b] = state_items<2>(state, "Contraction");
        return to_python(take(Contraction::create(to_uint64_list(axes_a), to_uint64_list(axes_b))));
    }
    raise_value_error("no tavrin class named " + std::string(name.substr(0, 100)));
}

PyObject* reconstruct_function(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [class_name, state] =
            bind_arguments<2>(args, kwargs, "_reconstruct", {"class_name", "state"});
        Py_ssize_t length = 0;
        const char* name = PyUnicode_Check(class_name)
                               ? PyUnicode_AsUTF8AndSize(class_name, &length)
                               : nullptr;
        if (name == nullptr) {
            if (!PyErr_Occurred()) {
                PyErr_SetString(PyExc_TypeError, "class_name must be a str");
            }
            throw_python_error();
        }
        return reconstruct(std::string_view(name, static_cast<std::size_t>(length)), state);
    });
}

PyMethodDef reconstruct_method = {"_reconstruct", as_method(reconstruct_function),
                                  METH_VARARGS | METH_KEYWORDS, docs::reconstruct};

}  // namespace

PyRef reduce_value(PyObject* self, PyRef state) {
    PyRef module = checked(PyImport_ImportModule("tavrin"));
    PyRef reconstructor = checked(PyObject_GetAttrString(module.get(), "_reconstruct"));
    PyRef class_name = checked(PyType_GetName(Py_TYPE(self)));
    PyRef arguments = checked(PyTuple_Pack(2, class_name.get(), state.get()));
    return checked(PyTuple_Pack(2, reconstructor.get(), arguments.get()));
}

PyMethodDef& reconstruct_definition() { return reconstruct_method; }

}  // namespace tavrin::bindings
