#include "symbols/rsymbol.hpp"

#include <array>
#include <memory>
#include <string>

#include "basis/canonical_basis.hpp"
#include "recoupling/rsymbol_by_recoupling.hpp"
#include "recoupling/tree_basis.hpp"
#include "support/assertion.hpp"
#include "symbols/plan_memo.hpp"
#include "symbols/rsymbol_blocks.hpp"

namespace tavrin {

template <>
PlanStore<RBlockPlan>& symbol_plans<RBlockPlan>();
template <>
PlanStore<recoupling::RecoupledRPlan>& symbol_plans<recoupling::RecoupledRPlan>();

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

using RSymbolPlan = SymbolPlan<RBlockPlan>;

// The specification's edges, the permutation's length and its entries.
template <class Key>
void append_rsymbol_arguments(Key& key, const CGSpec& spec,
                              std::span<const std::uint64_t> permutation) {
    append_spec_to_key(key, spec);
    key.push_back(static_cast<std::int64_t>(permutation.size()));
    for (const std::uint64_t edge : permutation) {
        key.push_back(static_cast<std::int64_t>(edge));
    }
}

// The sum by the plan when there is one; otherwise the plan is made, kept for the next call
// with the same specification and permutation, and used.
Result<Tensor> dense_rsymbol(const CGSpec& spec, const CGSpec& spec_permuted,
                             std::span<const std::uint64_t> permutation,
                             const RSymbolPlan* known, const PlanKey& key,
                             CallContext& context) {
    const std::array<const CGSpec*, 2> specs{&spec, &spec_permuted};
    std::array<SharedBasis, 2> bases;
    if (auto fetched = shared_canonical_pattern_bases(specs, bases, context); !fetched) {
        return fail(std::move(fetched.error()));
    }
    const auto& [original, permuted] = bases;
    if (known != nullptr) {
        return sum_rsymbol_blocks(*known->blocks, *original, *permuted, context);
    }
    auto plan = plan_rsymbol_blocks({*original, spec}, {*permuted, spec_permuted}, permutation,
                                    context);
    if (!plan) {
        return fail(std::move(plan.error()));
    }
    const std::uint64_t bytes =
        plan_owned_bytes<RBlockPlan>(key, spec_permuted, plan_bytes(**plan));
    symbol_plans<RBlockPlan>().insert(
        key, std::make_shared<const RSymbolPlan>(RSymbolPlan{spec_permuted, *plan}), bytes);
    return sum_rsymbol_blocks(**plan, *original, *permuted, context);
}

using RecoupledRSymbolPlan = SymbolPlan<recoupling::RecoupledRPlan>;

// The moves by the plan when there is one; otherwise the errors of the two canonical bases the
// dense method fetches, in its order, then the plan of the moves, kept for the next call.
Result<Tensor> recoupled_rsymbol(const CGSpec& spec, const CGSpec& spec_permuted,
                                 std::span<const std::uint64_t> permutation,
                                 const RecoupledRSymbolPlan* known, const PlanKey& key,
                                 CallContext& context) {
    if (known != nullptr) {
        return recoupling::rsymbol_by_recoupling(*known->blocks, context);
    }
    for (const CGSpec* checked : {&spec, &spec_permuted}) {
        if (auto shape = recoupling::check_tree_shape(*checked); !shape) {
            return fail(std::move(shape.error()));
        }
    }
    auto plan = recoupling::plan_rsymbol_by_recoupling(spec, spec_permuted, permutation, context);
    if (!plan) {
        return fail(std::move(plan.error()));
    }
    const std::uint64_t bytes =
        plan_owned_bytes<recoupling::RecoupledRPlan>(key, spec_permuted, (*plan)->bytes());
    symbol_plans<recoupling::RecoupledRPlan>().insert(
        key,
        std::make_shared<const RecoupledRSymbolPlan>(RecoupledRSymbolPlan{spec_permuted, *plan}),
        bytes);
    return recoupling::rsymbol_by_recoupling(**plan, context);
}

// The symbol by one method's memo of plans: the permuted specification of a known plan, or
// made with its checks (a plan is kept only for a valid permutation), then the method's sum.
template <class Blocks, class Sum>
Result<RSymbol> rsymbol_by_plan(const PlanKey& key, const CGSpec& spec,
                                std::span<const std::uint64_t> permutation, const Sum& sum) {
    const std::shared_ptr<const SymbolPlan<Blocks>> known =
        symbol_plans<Blocks>().find(key).value_or(nullptr);
    auto spec_permuted =
        known ? Result<CGSpec>(known->derived_spec) : permuted_spec(spec, permutation);
    if (!spec_permuted) {
        return fail(std::move(spec_permuted.error()));
    }
    auto r = sum(*spec_permuted, known.get());
    if (!r) {
        return fail(std::move(r.error()));
    }
    check_invariant(r->rank() == 2, "R-symbol should be 2-dimensional");
    return RSymbol{std::move(*spec_permuted), std::move(*r)};
}

}  // namespace

template <>
PlanStore<RBlockPlan>& symbol_plans<RBlockPlan>() {
    static auto* const memo = new PlanStore<RBlockPlan>(
        "rsymbol_plans", "TAVRIN_RSYMBOL_PLANS_BYTES", kDefaultPlanMemoBytes, kLargestPlanShare);
    return *memo;
}

template <>
PlanStore<recoupling::RecoupledRPlan>& symbol_plans<recoupling::RecoupledRPlan>() {
    static auto* const memo = new PlanStore<recoupling::RecoupledRPlan>(
        "rsymbol_recoupling_plans", "TAVRIN_RSYMBOL_RECOUPLING_PLANS_BYTES",
        kDefaultPlanMemoBytes, kLargestPlanShare);
    return *memo;
}

namespace {
// Made with the library, so that the memos are listed before their first use.
[[maybe_unused]] const bool made_at_start =
    (symbol_plans<RBlockPlan>(), symbol_plans<recoupling::RecoupledRPlan>(), true);

// A copy for the caller.
RSymbol copy_of(const KnownSymbol& known) { return RSymbol{known.derived_spec, known.data}; }

Result<RSymbol> computed_rsymbol(const CGSpec& spec, std::span<const std::uint64_t> permutation,
                                 const PlanKey& key, CallContext& context, SymbolMethod method) {
    if (method == SymbolMethod::Recoupling) {
        return rsymbol_by_plan<recoupling::RecoupledRPlan>(
            key, spec, permutation, [&](const CGSpec& spec_permuted, const auto* known) {
                return recoupled_rsymbol(spec, spec_permuted, permutation, known, key, context);
            });
    }
    return rsymbol_by_plan<RBlockPlan>(
        key, spec, permutation, [&](const CGSpec& spec_permuted, const auto* known) {
            return dense_rsymbol(spec, spec_permuted, permutation, known, key, context);
        });
}

}  // namespace

RSymbolCall::RSymbolCall(const CGSpec& spec, std::span<const std::uint64_t> permutation,
                         SymbolMethod method)
    : spec_(spec), permutation_(permutation), method_(method) {
    key_.push_back(method_key(method));
    append_rsymbol_arguments(key_, spec, permutation);
}

const SharedKnownSymbol& RSymbolCall::known() {
    if (!looked_up_) {
        known_ = rsymbol_results().find(key_.view()).value_or(nullptr);
        looked_up_ = true;
    }
    return known_;
}

SharedKnownSymbol RSymbolCall::finish_if_cheap(CallContext& context) {
    if (!known()) return nullptr;
    if (method_ == SymbolMethod::Dense) {
        const std::array<const CGSpec*, 2> specs{&spec_, &known_->derived_spec};
        if (!touch_stored_canonical_pattern_bases(specs, context, &known_->stored_bases)) {
            return nullptr;
        }
    }
    return known_;
}

Result<RSymbol> RSymbolCall::finish(CallContext& context) {
    if (known()) {
        if (method_ == SymbolMethod::Dense) {
            const std::array<const CGSpec*, 2> specs{&spec_, &known_->derived_spec};
            std::array<SharedBasis, 2> bases;
            if (auto fetched = shared_canonical_pattern_bases(specs, bases, context); !fetched) {
                return fail(std::move(fetched.error()));
            }
        }
        return copy_of(*known_);
    }
    const std::span<const std::int64_t> key = key_.view();
    auto computed = computed_rsymbol(spec_, permutation_, PlanKey(key.begin() + 1, key.end()),
                                     context, method_);
    if (computed) {
        keep_symbol_result(rsymbol_results(), key, computed->spec_permuted, computed->data);
    }
    return computed;
}

Result<RSymbol> compute_rsymbol(const CGSpec& spec, std::span<const std::uint64_t> permutation,
                                CallContext& context, SymbolMethod method) {
    return RSymbolCall(spec, permutation, method).finish(context);
}

}  // namespace tavrin
