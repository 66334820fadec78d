#include "symbols/xsymbol.hpp"

#include <string>
#include <vector>

#include "basis/canonical_basis.hpp"
#include "recoupling/tree_basis.hpp"
#include "recoupling/xsymbol_by_recoupling.hpp"
#include "support/assertion.hpp"
#include "symbols/xsymbol_blocks.hpp"

namespace tavrin {

namespace {

TavrinError repeated_axis(std::uint64_t index, const char* list) {
    return TavrinError::invalid_contraction("Edge index " + std::to_string(index) +
                                            " appears more than once in " + list);
}

Status check_pairs(const CGSpec& a, const CGSpec& b, const Contraction& contraction) {
    const auto& axes_a = contraction.axes_a();
    const auto& axes_b = contraction.axes_b();
    std::vector<bool> seen_a(a.num_external(), false);
    std::vector<bool> seen_b(b.num_external(), false);
    for (std::size_t i = 0; i < axes_a.size(); ++i) {
        if (axes_a[i] >= a.num_external()) {
            return fail(TavrinError::index_out_of_bounds(axes_a[i], a.num_external()));
        }
        if (axes_b[i] >= b.num_external()) {
            return fail(TavrinError::index_out_of_bounds(axes_b[i], b.num_external()));
        }
        const std::int32_t ja = a.edges()[axes_a[i]].j.twice();
        const std::int32_t jb = b.edges()[axes_b[i]].j.twice();
        if (ja != jb) {
            return fail(TavrinError::incompatible_edges(ja, jb));
        }
        // A repeated axis would pair one edge twice in the sum: refuse it here.
        if (seen_a[axes_a[i]]) {
            return fail(repeated_axis(axes_a[i], "axes_a"));
        }
        if (seen_b[axes_b[i]]) {
            return fail(repeated_axis(axes_b[i], "axes_b"));
        }
        seen_a[axes_a[i]] = true;
        seen_b[axes_b[i]] = true;
    }
    return {};
}

std::vector<Edge> uncontracted_edges(const CGSpec& spec, const std::vector<std::uint64_t>& axes) {
    std::vector<bool> contracted(spec.num_external(), false);
    for (std::uint64_t axis : axes) {
        contracted[axis] = true;
    }
    std::vector<Edge> edges;
    edges.reserve(spec.num_external() - axes.size());
    for (std::size_t i = 0; i < spec.num_external(); ++i) {
        if (!contracted[i]) {
            edges.push_back(spec.edges()[i]);
        }
    }
    return edges;
}

// The checks of the pairs and the contracted CGSpec C, shared by both methods.
Result<CGSpec> contracted_spec(const CGSpec& spec_a, const CGSpec& spec_b,
                               const Contraction& contraction) {
    if (auto checked = check_pairs(spec_a, spec_b, contraction); !checked) {
        return fail(std::move(checked.error()));
    }
    std::vector<Edge> edges_c = uncontracted_edges(spec_a, contraction.axes_a());
    const std::vector<Edge> edges_b = uncontracted_edges(spec_b, contraction.axes_b());
    edges_c.insert(edges_c.end(), edges_b.begin(), edges_b.end());
    return CGSpec::from_edges(std::move(edges_c));
}

Result<Tensor> dense_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                             const Contraction& contraction, const CGSpec& spec_c,
                             CallContext& context) {
    auto basis_a = shared_canonical_pattern_basis(spec_a, context);
    if (!basis_a) {
        return fail(std::move(basis_a.error()));
    }
    auto basis_b = shared_canonical_pattern_basis(spec_b, context);
    if (!basis_b) {
        return fail(std::move(basis_b.error()));
    }
    auto basis_c = shared_canonical_pattern_basis(spec_c, context);
    if (!basis_c) {
        return fail(std::move(basis_c.error()));
    }
    return contract_xsymbol_blocks({**basis_a, spec_a}, {**basis_b, spec_b}, {**basis_c, spec_c},
                                   contraction, context);
}

// The errors of the three canonical bases the dense method fetches, in its order, then the
// moves.
Result<Tensor> recoupled_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                                 const Contraction& contraction, const CGSpec& spec_c,
                                 CallContext& context) {
    for (const CGSpec* checked : {&spec_a, &spec_b, &spec_c}) {
        if (auto shape = recoupling::check_tree_shape(*checked); !shape) {
            return fail(std::move(shape.error()));
        }
    }
    return recoupling::xsymbol_by_recoupling(spec_a, spec_b, contraction, spec_c, context);
}

}  // namespace

Result<XSymbol> compute_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                                const Contraction& contraction, CallContext& context,
                                SymbolMethod method) {
    auto spec_c = contracted_spec(spec_a, spec_b, contraction);
    if (!spec_c) {
        return fail(std::move(spec_c.error()));
    }
    auto x = method == SymbolMethod::Dense
                 ? dense_xsymbol(spec_a, spec_b, contraction, *spec_c, context)
                 : recoupled_xsymbol(spec_a, spec_b, contraction, *spec_c, context);
    if (!x) {
        return fail(std::move(x.error()));
    }
    check_invariant(x->rank() == 3, "X-symbol should be 3-dimensional");
    return XSymbol{spec_a, spec_b, std::move(*spec_c), std::move(*x)};
}

}  // namespace tavrin
