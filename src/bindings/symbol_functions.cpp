// The module functions compute_xsymbol and compute_rsymbol.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bindings/arguments.hpp"
#include "bindings/array_conversion.hpp"
#include "bindings/boundary.hpp"
#include "bindings/computation.hpp"
#include "bindings/convert.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/function_docstrings.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/result_tuple.hpp"
#include "bindings/slots.hpp"
#include "symbols/rsymbol.hpp"
#include "symbols/xsymbol.hpp"

namespace tavrin::bindings {

namespace {

// (array, spec): the symbol tensor first, then the CG specification; the copies of the inputs
// that come back with the symbol are dropped.
PyRef symbol_result(Tensor data, CGSpec spec) {
    PyRef array = to_numpy_array(std::move(data));
    PyRef spec_object = to_python(std::move(spec));
    return result_pair(std::move(array), std::move(spec_object));
}

// The same pair for a symbol the memo knew: a copy of its elements, its specification.
PyRef known_symbol_result(const KnownSymbol& known) {
    const std::span<const double> values = known.data.data();
    PyRef array = to_numpy_array(known.data.shape(), TensorStorage(values.begin(), values.end()));
    PyRef spec_object = to_python(known.derived_spec);
    return result_pair(std::move(array), std::move(spec_object));
}

PyObject* compute_xsymbol_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return guarded_object([&] {
        const auto [spec_a, spec_b, contraction, method] = bind_fastcall_arguments<4>(
            args, nargs, kwnames, "compute_xsymbol",
            {"spec_a", "spec_b", "contraction", "method"}, 3);
        const CGSpec& a = convert_argument("spec_a", spec_a, to_cg_spec);
        const CGSpec& b = convert_argument("spec_b", spec_b, to_cg_spec);
        const Contraction& pairs = convert_argument("contraction", contraction, to_contraction);
        const SymbolMethod how = convert_argument("method", method, to_symbol_method);
        XSymbolCall call(a, b, pairs, how);
        SharedKnownSymbol known;
        std::optional<XSymbol> symbol = run_computation_unless(
            [&](CallContext& context) {
                known = call.finish_if_cheap(context);
                return known != nullptr;
            },
            [&](CallContext& context) { return call.finish(context); });
        if (!symbol) return known_symbol_result(*known);
        return symbol_result(std::move(symbol->data), std::move(symbol->spec_c));
    });
}

PyObject* compute_rsymbol_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return guarded_object([&] {
        const auto [spec, permutation, method] = bind_fastcall_arguments<3>(
            args, nargs, kwnames, "compute_rsymbol", {"spec", "permutation", "method"}, 2);
        const CGSpec& value = convert_argument("spec", spec, to_cg_spec);
        const std::vector<std::uint64_t> positions =
            convert_argument("permutation", permutation, to_uint64_list);
        const SymbolMethod how = convert_argument("method", method, to_symbol_method);
        RSymbolCall call(value, positions, how);
        SharedKnownSymbol known;
        std::optional<RSymbol> symbol = run_computation_unless(
            [&](CallContext& context) {
                known = call.finish_if_cheap(context);
                return known != nullptr;
            },
            [&](CallContext& context) { return call.finish(context); });
        if (!symbol) return known_symbol_result(*known);
        return symbol_result(std::move(symbol->data), std::move(symbol->spec_permuted));
    });
}

PyMethodDef compute_xsymbol_method = {"compute_xsymbol", as_method(compute_xsymbol_function),
                                      METH_FASTCALL | METH_KEYWORDS, docs::compute_xsymbol};
PyMethodDef compute_rsymbol_method = {"compute_rsymbol", as_method(compute_rsymbol_function),
                                      METH_FASTCALL | METH_KEYWORDS, docs::compute_rsymbol};

}  // namespace

PyMethodDef& compute_xsymbol_definition() { return compute_xsymbol_method; }
PyMethodDef& compute_rsymbol_definition() { return compute_rsymbol_method; }

}  // namespace tavrin::bindings
