// The module functions compute_conjugate and fs_phase_for_spin.
#include "bindings/arguments.hpp"
#include "bindings/boundary.hpp"
#include "bindings/convert.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/function_docstrings.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/result_tuple.hpp"
#include "bindings/slots.hpp"
#include "symbols/conjugate.hpp"

namespace tavrin::bindings {

namespace {

PyObject* compute_conjugate_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return guarded_object([&] {
        const auto [spec] =
            bind_fastcall_arguments<1>(args, nargs, kwnames, "compute_conjugate", {"spec"});
        const CGSpec& value = convert_argument("spec", spec, to_cg_spec);
        const Conjugate conjugate = take(tavrin::compute_conjugate(value));
        PyRef phase = to_python(conjugate.phase);
        PyRef conj_spec = to_python(conjugate.conj_spec);
        return result_pair(std::move(phase), std::move(conj_spec));
    });
}

PyObject* fs_phase_for_spin_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return guarded_object([&] {
        const auto [spin] =
            bind_fastcall_arguments<1>(args, nargs, kwnames, "fs_phase_for_spin", {"spin"});
        return to_python(tavrin::fs_phase_for_spin(convert_argument("spin", spin, to_spin)));
    });
}

PyMethodDef compute_conjugate_method = {"compute_conjugate",
                                        as_method(compute_conjugate_function),
                                        METH_FASTCALL | METH_KEYWORDS, docs::compute_conjugate};
PyMethodDef fs_phase_for_spin_method = {"fs_phase_for_spin",
                                        as_method(fs_phase_for_spin_function),
                                        METH_FASTCALL | METH_KEYWORDS, docs::fs_phase_for_spin};

}  // namespace

PyMethodDef& compute_conjugate_definition() { return compute_conjugate_method; }
PyMethodDef& fs_phase_for_spin_definition() { return fs_phase_for_spin_method; }

}  // namespace tavrin::bindings
