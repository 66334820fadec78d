#include "symbols/xsymbol.hpp"

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "basis/canonical_basis.hpp"
#include "recoupling/tree_basis.hpp"
#include "recoupling/xsymbol_by_recoupling.hpp"
#include "support/assertion.hpp"
#include "symbols/plan_memo.hpp"
#include "symbols/xsymbol_blocks.hpp"

namespace tavrin {

template <>
PlanStore<XBlockPlan>& symbol_plans<XBlockPlan>();
template <>
PlanStore<recoupling::RecoupledXPlan>& symbol_plans<recoupling::RecoupledXPlan>();

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

using XSymbolPlan = SymbolPlan<XBlockPlan>;

// The specifications' edges, the number of pairs and both lists of axes.
template <class Key>
void append_xsymbol_arguments(Key& key, const CGSpec& spec_a, const CGSpec& spec_b,
                              const Contraction& contraction) {
    append_spec_to_key(key, spec_a);
    append_spec_to_key(key, spec_b);
    key.push_back(static_cast<std::int64_t>(contraction.axes_a().size()));
    for (const auto* axes : {&contraction.axes_a(), &contraction.axes_b()}) {
        for (const std::uint64_t axis : *axes) {
            key.push_back(static_cast<std::int64_t>(axis));
        }
    }
}

// The sum by the plan when there is one; otherwise the plan is made, kept for the next call
// with the same specifications and contraction, and used.
Result<Tensor> dense_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                             const Contraction& contraction, const CGSpec& spec_c,
                             const XSymbolPlan* known, const PlanKey& key,
                             CallContext& context) {
    const std::array<const CGSpec*, 3> specs{&spec_a, &spec_b, &spec_c};
    std::array<SharedBasis, 3> bases;
    if (auto fetched = shared_canonical_pattern_bases(specs, bases, context); !fetched) {
        return fail(std::move(fetched.error()));
    }
    const auto& [basis_a, basis_b, basis_c] = bases;
    if (known != nullptr) {
        return sum_xsymbol_blocks(*known->blocks, *basis_a, *basis_b, *basis_c, context);
    }
    auto plan = plan_xsymbol_blocks({*basis_a, spec_a}, {*basis_b, spec_b}, {*basis_c, spec_c},
                                    contraction, context);
    if (!plan) {
        return fail(std::move(plan.error()));
    }
    const std::uint64_t bytes = plan_owned_bytes<XBlockPlan>(key, spec_c, plan_bytes(**plan));
    symbol_plans<XBlockPlan>().insert(
        key, std::make_shared<const XSymbolPlan>(XSymbolPlan{spec_c, *plan}), bytes);
    return sum_xsymbol_blocks(**plan, *basis_a, *basis_b, *basis_c, context);
}

using RecoupledXSymbolPlan = SymbolPlan<recoupling::RecoupledXPlan>;

// The moves by the plan when there is one; otherwise the errors of the three canonical bases the
// dense method fetches, in its order, then the plan of the moves, kept for the next call.
Result<Tensor> recoupled_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                                 const Contraction& contraction, const CGSpec& spec_c,
                                 const RecoupledXSymbolPlan* known, const PlanKey& key,
                                 CallContext& context) {
    if (known != nullptr) {
        return recoupling::xsymbol_by_recoupling(*known->blocks, context);
    }
    for (const CGSpec* checked : {&spec_a, &spec_b, &spec_c}) {
        if (auto shape = recoupling::check_tree_shape(*checked); !shape) {
            return fail(std::move(shape.error()));
        }
    }
    auto plan =
        recoupling::plan_xsymbol_by_recoupling(spec_a, spec_b, contraction, spec_c, context);
    if (!plan) {
        return fail(std::move(plan.error()));
    }
    const std::uint64_t bytes =
        plan_owned_bytes<recoupling::RecoupledXPlan>(key, spec_c, (*plan)->bytes());
    symbol_plans<recoupling::RecoupledXPlan>().insert(
        key, std::make_shared<const RecoupledXSymbolPlan>(RecoupledXSymbolPlan{spec_c, *plan}),
        bytes);
    return recoupling::xsymbol_by_recoupling(**plan, context);
}

// The symbol by one method's memo of plans: C of a known plan, or made with the checks of the
// pairs (a plan is kept only for valid pairs), then the method's sum.
template <class Blocks, class Sum>
Result<XSymbol> xsymbol_by_plan(const PlanKey& key, const CGSpec& spec_a, const CGSpec& spec_b,
                                const Contraction& contraction, const Sum& sum) {
    const std::shared_ptr<const SymbolPlan<Blocks>> known =
        symbol_plans<Blocks>().find(key).value_or(nullptr);
    auto spec_c = known ? Result<CGSpec>(known->derived_spec)
                        : contracted_spec(spec_a, spec_b, contraction);
    if (!spec_c) {
        return fail(std::move(spec_c.error()));
    }
    auto x = sum(*spec_c, known.get());
    if (!x) {
        return fail(std::move(x.error()));
    }
    check_invariant(x->rank() == 3, "X-symbol should be 3-dimensional");
    return XSymbol{std::move(*spec_c), std::move(*x)};
}

}  // namespace

template <>
PlanStore<XBlockPlan>& symbol_plans<XBlockPlan>() {
    static auto* const memo = new PlanStore<XBlockPlan>(
        "xsymbol_plans", "TAVRIN_XSYMBOL_PLANS_BYTES", kDefaultPlanMemoBytes, kLargestPlanShare);
    return *memo;
}

template <>
PlanStore<recoupling::RecoupledXPlan>& symbol_plans<recoupling::RecoupledXPlan>() {
    static auto* const memo = new PlanStore<recoupling::RecoupledXPlan>(
        "xsymbol_recoupling_plans", "TAVRIN_XSYMBOL_RECOUPLING_PLANS_BYTES",
        kDefaultPlanMemoBytes, kLargestPlanShare);
    return *memo;
}

namespace {
// Made with the library, so that the memos are listed before their first use.
[[maybe_unused]] const bool made_at_start =
    (symbol_plans<XBlockPlan>(), symbol_plans<recoupling::RecoupledXPlan>(), true);

// A copy for the caller.
XSymbol copy_of(const KnownSymbol& known) { return XSymbol{known.derived_spec, known.data}; }

Result<XSymbol> computed_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                                 const Contraction& contraction, const PlanKey& key,
                                 CallContext& context, SymbolMethod method) {
    if (method == SymbolMethod::Recoupling) {
        return xsymbol_by_plan<recoupling::RecoupledXPlan>(
            key, spec_a, spec_b, contraction, [&](const CGSpec& spec_c, const auto* known) {
                return recoupled_xsymbol(spec_a, spec_b, contraction, spec_c, known, key,
                                         context);
            });
    }
    return xsymbol_by_plan<XBlockPlan>(
        key, spec_a, spec_b, contraction, [&](const CGSpec& spec_c, const auto* known) {
            return dense_xsymbol(spec_a, spec_b, contraction, spec_c, known, key, context);
        });
}

}  // namespace

XSymbolCall::XSymbolCall(const CGSpec& spec_a, const CGSpec& spec_b,
                         const Contraction& contraction, SymbolMethod method)
    : spec_a_(spec_a), spec_b_(spec_b), contraction_(contraction), method_(method) {
    key_.push_back(method_key(method));
    append_xsymbol_arguments(key_, spec_a, spec_b, contraction);
}

const SharedKnownSymbol& XSymbolCall::known() {
    if (!looked_up_) {
        known_ = xsymbol_results().find(key_.view()).value_or(nullptr);
        looked_up_ = true;
    }
    return known_;
}

SharedKnownSymbol XSymbolCall::finish_if_cheap(CallContext& context) {
    if (!known()) return nullptr;
    if (method_ == SymbolMethod::Dense) {
        const std::array<const CGSpec*, 3> specs{&spec_a_, &spec_b_, &known_->derived_spec};
        if (!touch_stored_canonical_pattern_bases(specs, context, &known_->stored_bases)) {
            return nullptr;
        }
    }
    return known_;
}

Result<XSymbol> XSymbolCall::finish(CallContext& context) {
    if (known()) {
        if (method_ == SymbolMethod::Dense) {
            const std::array<const CGSpec*, 3> specs{&spec_a_, &spec_b_, &known_->derived_spec};
            std::array<SharedBasis, 3> bases;
            if (auto fetched = shared_canonical_pattern_bases(specs, bases, context); !fetched) {
                return fail(std::move(fetched.error()));
            }
        }
        return copy_of(*known_);
    }
    const std::span<const std::int64_t> key = key_.view();
    auto computed = computed_xsymbol(spec_a_, spec_b_, contraction_,
                                     PlanKey(key.begin() + 1, key.end()), context, method_);
    if (computed) keep_symbol_result(xsymbol_results(), key, computed->spec_c, computed->data);
    return computed;
}

Result<XSymbol> compute_xsymbol(const CGSpec& spec_a, const CGSpec& spec_b,
                                const Contraction& contraction, CallContext& context,
                                SymbolMethod method) {
    return XSymbolCall(spec_a, spec_b, contraction, method).finish(context);
}

}  // namespace tavrin
