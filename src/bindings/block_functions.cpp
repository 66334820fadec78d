// The module functions of block tensors: contract, fusion_isometry and block_timings.
#include <vector>

#include "bindings/arguments.hpp"
#include "bindings/block_docstrings.hpp"
#include "bindings/boundary.hpp"
#include "bindings/computation.hpp"
#include "bindings/convert.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/slots.hpp"
#include "blocks/block_contraction.hpp"
#include "blocks/block_timing.hpp"
#include "blocks/lanczos.hpp"
#include "blocks/leg_fusion.hpp"

namespace tavrin::bindings {

namespace {

PyObject* contract_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return guarded_object([&] {
        const auto [a, b, axes_a, axes_b] = bind_fastcall_arguments<4>(
            args, nargs, kwnames, "contract", {"a", "b", "axes_a", "axes_b"});
        const blocks::BlockTensor& left = convert_argument("a", a, to_block_tensor);
        const blocks::BlockTensor& right = convert_argument("b", b, to_block_tensor);
        const std::vector<std::size_t> pairs_a = convert_argument("axes_a", axes_a, to_position_list);
        const std::vector<std::size_t> pairs_b = convert_argument("axes_b", axes_b, to_position_list);
        return to_python(run_computation([&](CallContext& context) {
            return blocks::contract(left, right, pairs_a, pairs_b, context);
        }));
    });
}

PyObject* fusion_isometry_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return guarded_object([&] {
        const auto [legs] =
            bind_fastcall_arguments<1>(args, nargs, kwnames, "fusion_isometry", {"legs"});
        const std::vector<blocks::Leg> parts = convert_argument("legs", legs, to_leg_list);
        return to_python(std::move(take(blocks::fusion_isometry(parts)).tensor));
    });
}

// A step of a chain: (operand, axes of the current tensor, axes of the operand, operand first).
blocks::ChainStep to_chain_step(PyObject* item, Py_ssize_t index) {
    if (!PyTuple_Check(item) || PyTuple_Size(item) != 4) {
        PyErr_Format(PyExc_TypeError,
                     "chain step %zd: a step is a tuple (operand, current_axes, operand_axes, "
                     "operand_first)",
                     index);
        throw_python_error();
    }
    const int first = PyObject_IsTrue(PyTuple_GetItem(item, 3));
    if (first < 0) throw_python_error();
    return {to_block_tensor(PyTuple_GetItem(item, 0)), to_position_list(PyTuple_GetItem(item, 1)),
            to_position_list(PyTuple_GetItem(item, 2)), first == 1};
}

std::vector<blocks::ChainStep> to_chain(PyObject* object) {
    PyRef items = checked(PySequence_List(object));
    std::vector<blocks::ChainStep> chain;
    for (Py_ssize_t i = 0; i < PyList_Size(items.get()); ++i) {
        chain.push_back(to_chain_step(PyList_GetItem(items.get(), i), i));
    }
    return chain;
}

PyObject* lowest_eigenpair_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    return guarded_object([&] {
        const auto [start, chain, max_iterations, tolerance] = bind_fastcall_arguments<4>(
            args, nargs, kwnames, "lowest_eigenpair",
            {"start", "chain", "max_iterations", "tolerance"}, 2);
        const blocks::BlockTensor& vector = convert_argument("start", start, to_block_tensor);
        const std::vector<blocks::ChainStep> steps = convert_argument("chain", chain, to_chain);
        const std::size_t iterations =
            max_iterations == nullptr ? 30 : convert_argument("max_iterations", max_iterations,
                                                              to_count);
        const double bound = tolerance == nullptr
                                 ? 1e-13
                                 : convert_argument("tolerance", tolerance, to_non_negative_float);
        blocks::Eigenpair pair = run_computation([&](CallContext& context) {
            return blocks::lowest_eigenpair(steps, vector, iterations, bound, context);
        });
        PyRef value = to_python(pair.value);
        PyRef tensor = to_python(std::move(pair.vector));
        return checked(PyTuple_Pack(2, value.get(), tensor.get()));
    });
}

PyObject* block_timings_function(PyObject*, PyObject*) {
    return guarded_object([&] {
        const blocks::BlockTimings t = blocks::block_timings();
        PyRef dict = checked(PyDict_New());
        checked_status(PyDict_SetItemString(dict.get(), "symbols",
                                            to_python(static_cast<double>(t.symbol_nanoseconds) * 1e-9).get()));
        checked_status(PyDict_SetItemString(dict.get(), "block_loops",
                                            to_python(static_cast<double>(t.block_loop_nanoseconds) * 1e-9).get()));
        return dict;
    });
}

PyObject* reset_block_timings_function(PyObject*, PyObject*) {
    return guarded_object([&] {
        blocks::reset_block_timings();
        return PyRef::borrow(Py_None);
    });
}

PyMethodDef contract_method = {"contract", as_method(contract_function),
                               METH_FASTCALL | METH_KEYWORDS, docs::contract};
PyMethodDef fusion_isometry_method = {"fusion_isometry", as_method(fusion_isometry_function),
                                      METH_FASTCALL | METH_KEYWORDS, docs::fusion_isometry};
PyMethodDef lowest_eigenpair_method = {"lowest_eigenpair", as_method(lowest_eigenpair_function),
                                       METH_FASTCALL | METH_KEYWORDS, docs::lowest_eigenpair};
PyMethodDef block_timings_method = {"block_timings", as_method(block_timings_function),
                                    METH_NOARGS, docs::block_timings};
PyMethodDef reset_block_timings_method = {"reset_block_timings",
                                          as_method(reset_block_timings_function), METH_NOARGS,
                                          docs::reset_block_timings};

}  // namespace

PyMethodDef& contract_definition() { return contract_method; }
PyMethodDef& fusion_isometry_definition() { return fusion_isometry_method; }
PyMethodDef& block_timings_definition() { return block_timings_method; }
PyMethodDef& lowest_eigenpair_definition() { return lowest_eigenpair_method; }
PyMethodDef& reset_block_timings_definition() { return reset_block_timings_method; }

}  // namespace tavrin::bindings
