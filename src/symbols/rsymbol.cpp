#include "symbols/rsymbol.hpp"

#include <string>

#include "basis/canonical_basis.hpp"
#include "recoupling/rsymbol_by_recoupling.hpp"
#include "recoupling/tree_basis.hpp"
#include "support/assertion.hpp"
#include "symbols/rsymbol_blocks.hpp"

namespace tavrin {

namespace {

Status check_permutation(std::span<const std::uint64_t> permutation, std::size_t n) {
    if (permutation.size() != n) {
        return fail(TavrinError::invalid_cgt_spec(
            "Permutation length " + std::to_string(permutation.size()) +
            " does not match number of external edges " + std::to_string(n)));
    }
    std::vector<bool> seen(n, false);
    for (std::uint64_t e : permutation) {
        if (e >= n) {
            return fail(TavrinError::invalid_cgt_spec("Permutation index " + std::to_string(e) +
                                                      " out of range (max " +
                                                      std::to_string(n - 1) + ")"));
        }
        if (seen[e]) {
            return fail(TavrinError::invalid_cgt_spec("Permutation index " + std::to_string(e) +
                                                      " appears more than once"));
        }
        seen[e] = true;
    }
    return {};
}

// The checks of the permutation and the permuted specification, shared by both methods.
Result<CGSpec> permuted_spec(const CGSpec& spec, std::span<const std::uint64_t> permutation) {
    const std::size_t n = spec.num_external();
    if (auto checked = check_permutation(permutation, n); !checked) {
        return fail(std::move(checked.error()));
    }
    std::vector<Edge> permuted_edges;
    permuted_edges.reserve(n);
    for (std::uint64_t e : permutation) {
        permuted_edges.push_back(spec.edges()[e]);
    }
    return CGSpec::from_edges(std::move(permuted_edges));
}

Result<Tensor> dense_rsymbol(const CGSpec& spec, const CGSpec& spec_permuted,
                             std::span<const std::uint64_t> permutation, CallContext& context) {
    auto original = shared_canonical_pattern_basis(spec, context);
    if (!original) {
        return fail(std::move(original.error()));
    }
    auto permuted = shared_canonical_pattern_basis(spec_permuted, context);
    if (!permuted) {
        return fail(std::move(permuted.error()));
    }
    return contract_rsymbol_blocks({**original, spec}, {**permuted, spec_permuted}, permutation,
                                   context);
}

// The errors of the two canonical bases the dense method fetches, in its order, then the moves.
Result<Tensor> recoupled_rsymbol(const CGSpec& spec, const CGSpec& spec_permuted,
                                 std::span<const std::uint64_t> permutation,
                                 CallContext& context) {
    for (const CGSpec* checked : {&spec, &spec_permuted}) {
        if (auto shape = recoupling::check_tree_shape(*checked); !shape) {
            return fail(std::move(shape.error()));
        }
    }
    return recoupling::rsymbol_by_recoupling(spec, spec_permuted, permutation, context);
}

}  // namespace

Result<RSymbol> compute_rsymbol(const CGSpec& spec, std::span<const std::uint64_t> permutation,
                                CallContext& context, SymbolMethod method) {
    auto spec_permuted = permuted_spec(spec, permutation);
    if (!spec_permuted) {
        return fail(std::move(spec_permuted.error()));
    }
    auto r = method == SymbolMethod::Dense
                 ? dense_rsymbol(spec, *spec_permuted, permutation, context)
                 : recoupled_rsymbol(spec, *spec_permuted, permutation, context);
    if (!r) {
        return fail(std::move(r.error()));
    }
    check_invariant(r->rank() == 2, "R-symbol should be 2-dimensional");
    return RSymbol{spec, std::move(*spec_permuted), {permutation.begin(), permutation.end()},
                   std::move(*r)};
}

}  // namespace tavrin
