// The permuted basis differs from the original one by the same time reversals on the same
// edges (directions travel with their edges), which cancel in the overlap; what remains is
// rho * rho' times the overlap of all-incoming trees, obtained by sorting the permuted legs back
// into the original order with adjacent exchanges.
#include "recoupling/rsymbol_by_recoupling.hpp"

#include <numeric>

#include "recoupling/tree_basis.hpp"
#include "recoupling/tree_moves.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

std::size_t RecoupledRPlan::bytes() const {
    return sizeof(RecoupledRPlan) + program.bytes() + entry.capacity() * sizeof(std::uint32_t) +
           sign.capacity() * sizeof(double);
}

Result<std::shared_ptr<const RecoupledRPlan>> plan_rsymbol_by_recoupling(
    const CGSpec& spec, const CGSpec& spec_permuted, std::span<const std::uint64_t> permutation,
    CallContext& context) {
    const std::size_t n = spec.num_external();
    TreeMoves moves(spec_permuted.spins(),
                    std::vector<std::size_t>(permutation.begin(), permutation.end()));
    for (std::size_t b = 0; b < spec_permuted.om_dimension(); ++b) {
        moves.add_initial(spec_permuted.config(b), static_cast<std::uint32_t>(b));
    }
    std::vector<std::size_t> original_order(n);
    std::iota(original_order.begin(), original_order.end(), std::size_t{0});
    if (auto arranged = moves.arrange(original_order, context); !arranged) {
        return fail(std::move(arranged.error()));
    }
    auto plan = std::make_shared<RecoupledRPlan>();
    const double sign = direction_sign(spec) * direction_sign(spec_permuted);
    plan->rows = spec.om_dimension();
    plan->columns = spec_permuted.om_dimension();
    const std::size_t slots = moves.row_count() == 0 ? 0 : moves.row_end(moves.row_count() - 1);
    plan->entry.resize(slots);
    plan->sign.resize(slots);
    for (std::size_t row = 0; row < moves.row_count(); ++row) {
        const auto a = find_configuration(spec, moves.path(row));
        check_invariant(a.has_value(), "recoupled path is no configuration");
        for (std::uint32_t slot = moves.row_begin(row); slot < moves.row_end(row); ++slot) {
            plan->entry[slot] = static_cast<std::uint32_t>(*a * plan->columns + moves.column(slot));
            plan->sign[slot] = sign * moves.sign(slot);
        }
    }
    plan->program = moves.take_program();
    return std::shared_ptr<const RecoupledRPlan>(std::move(plan));
}

Result<Tensor> rsymbol_by_recoupling(const RecoupledRPlan& plan, CallContext& context) {
    ScratchSlots values;
    ScratchSlots scratch;
    if (auto ran = run_program(plan.program, *values, *scratch, context); !ran) {
        return fail(std::move(ran.error()));
    }
    Tensor r = Tensor::zeros({plan.rows, plan.columns});
    std::span<double> out = r.data();
    for (std::size_t slot = 0; slot < plan.entry.size(); ++slot) {
        out[plan.entry[slot]] =
            plan.sign[slot] * rounded((*values)[static_cast<std::uint32_t>(slot)]);
    }
    return r;
}

}  // namespace tavrin::recoupling
