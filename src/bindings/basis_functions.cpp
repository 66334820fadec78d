// The module function canonical_basis.
#include "bindings/arguments.hpp"
#include "bindings/array_conversion.hpp"
#include "bindings/boundary.hpp"
#include "bindings/computation.hpp"
#include "bindings/convert.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/function_docstrings.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/slots.hpp"
#include "basis/canonical_basis.hpp"

namespace tavrin::bindings {

namespace {

PyObject* canonical_basis_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return guarded_object([&] {
        const auto [spec] =
            bind_fastcall_arguments<1>(args, nargs, kwnames, "canonical_basis", {"spec"});
        const CGSpec& value = convert_argument("spec", spec, to_cg_spec);
        return to_numpy_array(run_computation(
            [&](CallContext& context) { return tavrin::canonical_basis(value, context); }));
    });
}

PyMethodDef canonical_basis_method = {"canonical_basis", as_method(canonical_basis_function),
                                      METH_FASTCALL | METH_KEYWORDS, docs::canonical_basis};

}  // namespace

PyMethodDef& canonical_basis_definition() { return canonical_basis_method; }

}  // namespace tavrin::bindings
