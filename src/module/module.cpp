// The module entry point and its execution step, which registers the module's members.
#include <Python.h>

#include "bindings/boundary.hpp"
#include "bindings/classes.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/module_members.hpp"
#include "bindings/pickling.hpp"
#include "bindings/python_error.hpp"
#include "bindings/python_sqlite.hpp"

namespace {

using namespace tavrin::bindings;

void add_classes(PyObject* module) {
    add_class(module, "Direction", direction_type());
    add_class(module, "Spin", spin_type());
    add_class(module, "Edge", edge_type());
    add_class(module, "CGSpec", cg_spec_type());
    add_class(module, "Contraction", contraction_type());
}

void add_functions(PyObject* module) {
    add_function(module, compute_xsymbol_definition());
    add_function(module, compute_rsymbol_definition());
    add_function(module, canonical_basis_definition());
    add_function(module, fs_phase_for_spin_definition());
    add_function(module, compute_conjugate_definition());
    add_function(module, clebsch_gordan_definition());
    add_function(module, wigner_6j_definition());
    add_function(module, wigner_3j_definition());
    add_function(module, wigner_9j_definition());
    add_function(module, memo_info_definition());
    add_function(module, clear_memos_definition());
    add_function(module, set_memo_bound_definition());
}

// After every earlier name, so that the order of __all__ users have seen stays.
void add_block_tensors(PyObject* module) {
    add_class(module, "Leg", leg_type());
    add_class(module, "BlockTensor", block_tensor_type());
    add_function(module, contract_definition());
    add_function(module, fusion_isometry_definition());
    add_function(module, lowest_eigenpair_definition());
    add_function(module, block_timings_definition());
    add_function(module, reset_block_timings_definition());
}

// Not in __all__.
void add_private_members(PyObject* module) {
    checked_status(PyModule_AddStringConstant(module, "__version__", TAVRIN_VERSION));
    add_private_function(module, reconstruct_definition());
    add_private_function(module, cache_database_path_definition());
    add_cache_table_statement(module);
    add_memo_info_type(module);
}

// Stops at the first failure; the import then fails with its exception.
int exec_module(PyObject* module) noexcept {
    return guarded(-1, [&] {
        add_classes(module);
        add_functions(module);
        add_block_tensors(module);
        add_private_members(module);
        use_pythons_sqlite();
        return 0;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tavrin",
    docs::module,
    0,        // no per-module state
    nullptr,  // no method table: functions are added by the execution step
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_tavrin() { return PyModuleDef_Init(&module_definition); }
