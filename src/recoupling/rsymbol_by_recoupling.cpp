// The permuted basis differs from the original one by the same time reversals on the same
// edges (directions travel with their edges), which cancel in the overlap; what remains is
// rho * rho' times the overlap of all-incoming trees, obtained by sorting the permuted legs back
// into the original order with adjacent exchanges.
#include "recoupling/rsymbol_by_recoupling.hpp"

#include <numeric>
#include <vector>

#include "recoupling/fusion_state.hpp"
#include "recoupling/tree_basis.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

Result<Tensor> rsymbol_by_recoupling(const CGSpec& spec, const CGSpec& spec_permuted,
                                     std::span<const std::uint64_t> permutation,
                                     CallContext& context) {
    const std::size_t n = spec.num_external();
    std::vector<std::size_t> labels(permutation.begin(), permutation.end());
    FusionState state(spec_permuted.spins(), labels);
    for (std::size_t b = 0; b < spec_permuted.om_dimension(); ++b) {
        const auto config = spec_permuted.config(b);
        state.add(Path(config.begin(), config.end()), b, 1.0);
    }
    std::vector<std::size_t> original_order(n);
    std::iota(original_order.begin(), original_order.end(), std::size_t{0});
    if (auto arranged = state.arrange(original_order, context); !arranged) {
        return fail(std::move(arranged.error()));
    }

    const double sign = direction_sign(spec) * direction_sign(spec_permuted);
    const auto indices = om_indices(spec);
    const std::uint64_t columns = spec_permuted.om_dimension();
    Tensor r = Tensor::zeros({spec.om_dimension(), columns});
    std::span<double> values = r.data();
    for (const auto& [path, row] : state.rows()) {
        const auto found = indices.find(path);
        check_invariant(found != indices.end(), "recoupled path is no configuration");
        for (const auto& [column, value] : row) {
            values[found->second * columns + column] = sign * value;
        }
    }
    return r;
}

}  // namespace tavrin::recoupling
