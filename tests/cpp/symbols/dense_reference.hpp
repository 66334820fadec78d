// The X- and R-symbols as plain dense sums (tensordot over the phased bases, the original basis
// permuted into the permuted order): the reference the block contractions are held to.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_set>
#include <vector>

#include "basis/canonical_basis.hpp"
#include "specs/cg_spec.hpp"
#include "specs/contraction.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::testing {

inline Tensor dense_xsymbol(const CGSpec& a, const CGSpec& b, const CGSpec& c,
                            const Contraction& contraction, CallContext& context) {
    const Tensor basis_a = *canonical_basis(a, context);
    const Tensor basis_b = *canonical_basis(b, context);
    const Tensor basis_c = *canonical_basis(c, context);
    const std::vector<std::size_t> axes_a(contraction.axes_a().begin(), contraction.axes_a().end());
    const std::vector<std::size_t> axes_b(contraction.axes_b().begin(), contraction.axes_b().end());
    const Tensor t = tensordot(basis_a, basis_b, axes_a, axes_b);
    const std::size_t free_a = a.num_external() - axes_a.size();
    std::vector<std::size_t> magnetic_t;
    for (std::size_t pos = 0; pos + 1 < t.rank(); ++pos) {
        if (pos != free_a) {
            magnetic_t.push_back(pos);
        }
    }
    std::vector<std::size_t> magnetic_c;
    for (std::size_t pos = 0; pos + 1 < basis_c.rank(); ++pos) {
        magnetic_c.push_back(pos);
    }
    return tensordot(t, basis_c, magnetic_t, magnetic_c);
}

inline Tensor dense_rsymbol(const CGSpec& spec, const CGSpec& permuted,
                            std::span<const std::uint64_t> permutation, CallContext& context) {
    const Tensor original = *canonical_basis(spec, context);
    const Tensor basis_p = *canonical_basis(permuted, context);
    std::vector<std::size_t> axes(permutation.begin(), permutation.end());
    axes.push_back(permutation.size());
    const Tensor aligned = original.permute_axes(axes);
    std::vector<std::size_t> magnetic(permutation.size());
    for (std::size_t k = 0; k < magnetic.size(); ++k) {
        magnetic[k] = k;
    }
    return tensordot(aligned, basis_p, magnetic, magnetic);
}

}  // namespace tavrin::testing
