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
PyMethodDef block_timings_method = {"block_timings", as_method(block_timings_function),
                                    METH_NOARGS, docs::block_timings};
PyMethodDef reset_block_timings_method = {"reset_block_timings",
                                          as_method(reset_block_timings_function), METH_NOARGS,
                                          docs::reset_block_timings};

}  // namespace

PyMethodDef& contract_definition() { return contract_method; }
PyMethodDef& fusion_isometry_definition() { return fusion_isometry_method; }
PyMethodDef& block_timings_definition() { return block_timings_method; }
PyMethodDef& reset_block_timings_definition() { return reset_block_timings_method; }

}  // namespace tavrin::bindings
