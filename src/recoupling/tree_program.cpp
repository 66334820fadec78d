#include "recoupling/tree_program.hpp"

#include <algorithm>
#include <utility>

#include "support/cpu_features.hpp"

namespace tavrin::recoupling {

namespace {

// The exact error of a product from one fused multiply-add: used only where the processor has
// one (fma_available()), inside functions built for it.
struct FusedProduct {
    [[gnu::always_inline]] static DoubleDouble two_product(double a, double b) {
        const double product = a * b;
        return {product, __builtin_fma(a, b, -product)};
    }
};

// target += c * source in double-double, for `length` slots: the product exactly (high and
// error) plus its cross terms, added without renormalising (the low half gathers the errors);
// normalise() follows once all terms are in. A loop over consecutive slots, which the compiler
// turns into vector instructions.
template <class Product>
[[gnu::always_inline]] inline void add_scaled(double* __restrict target_high,
                                              double* __restrict target_low,
                                              const double* __restrict source_high,
                                              const double* __restrict source_low,
                                              std::uint32_t length, DoubleDouble c) {
    for (std::uint32_t i = 0; i < length; ++i) {
        DoubleDouble p = Product::two_product(c.high, source_high[i]);
        p.low += c.high * source_low[i] + c.low * source_high[i];
        const DoubleDouble s = two_sum(target_high[i], p.high);
        target_high[i] = s.high;
        target_low[i] += s.low + p.low;
    }
}

template <class Product>
[[gnu::always_inline]] inline void run_step(const TreeProgram& program, std::size_t step,
                                            const SlotValues& in, SlotValues& out) {
    const DoubleDouble* coefficients = program.coefficients.data();
    const std::size_t slots = out.high->size();
    std::fill(out.high->begin(), out.high->end(), 0.0);
    std::fill(out.low->begin(), out.low->end(), 0.0);
    double* high = out.high->data();
    double* low = out.low->data();
    const double* in_high = in.high->data();
    const double* in_low = in.low->data();
    const std::uint32_t first_row = step == 0 ? 0 : program.row_terms_end[step - 1];
    for (std::uint32_t k = first_row; k < program.row_terms_end[step]; ++k) {
        const RowTerm& term = program.row_terms[k];
        add_scaled<Product>(high + term.target, low + term.target, in_high + term.source,
                            in_low + term.source, term.length, coefficients[term.coefficient]);
    }
    const std::uint32_t first_slot = step == 0 ? 0 : program.slot_terms_end[step - 1];
    for (std::uint32_t k = first_slot; k < program.slot_terms_end[step]; ++k) {
        const SlotTerm& term = program.slot_terms[k];
        add_scaled<Product>(high + term.target, low + term.target, in_high + term.source,
                            in_low + term.source, 1, coefficients[term.coefficient]);
    }
    for (std::size_t t = 0; t < slots; ++t) {
        const DoubleDouble sum = fast_two_sum(high[t], low[t]);
        high[t] = sum.high;
        low[t] = sum.low;
    }
}

// On x86-64 the fused multiply-add (with AVX2 for the vector loops) is chosen at run time, the
// baseline of the wheels having none; elsewhere (aarch64) the compiler knows whether it has one.
#if defined(__x86_64__)
#define TAVRIN_FUSED_TARGET [[gnu::target("avx2,fma")]]
bool fma_available() { return runs_x86_64_v3(); }
#else
#define TAVRIN_FUSED_TARGET
#if defined(__ARM_FEATURE_FMA) || defined(__FP_FAST_FMA)
bool fma_available() { return true; }
#else
bool fma_available() { return false; }
#endif
#endif

TAVRIN_FUSED_TARGET void run_step_fused(const TreeProgram& program, std::size_t step,
                                        const SlotValues& in, SlotValues& out) {
    run_step<FusedProduct>(program, step, in, out);
}

void run_step_split(const TreeProgram& program, std::size_t step, const SlotValues& in,
                    SlotValues& out) {
    run_step<SplitProduct>(program, step, in, out);
}

TAVRIN_FUSED_TARGET DoubleDouble product_of_three_fused(DoubleDouble x, DoubleDouble y,
                                                        DoubleDouble z) {
    return multiply<FusedProduct>(multiply<FusedProduct>(x, y), z);
}

}  // namespace

std::size_t TreeProgram::bytes() const {
    return sizeof(TreeProgram) + coefficients.capacity() * sizeof(DoubleDouble) +
           (step_slots.capacity() + row_terms_end.capacity() + slot_terms_end.capacity()) *
               sizeof(std::uint32_t) +
           row_terms.capacity() * sizeof(RowTerm) + slot_terms.capacity() * sizeof(SlotTerm);
}

Status run_program(const TreeProgram& program, SlotValues& values, SlotValues& scratch,
                   CallContext& context) {
    values.high->assign(program.initial_slots, 1.0);
    values.low->assign(program.initial_slots, 0.0);
    const auto step_function = fma_available() ? run_step_fused : run_step_split;
    // A stop is asked for once enough terms have been summed (short programs never ask).
    constexpr std::size_t kTermsBetweenStopChecks = std::size_t{1} << 16;
    std::size_t terms_since_check = 0;
    for (std::size_t step = 0; step < program.step_slots.size(); ++step) {
        terms_since_check += program.step_slots[step];
        if (terms_since_check >= kTermsBetweenStopChecks) {
            terms_since_check = 0;
            if (context.should_stop()) {
                return fail(TavrinError::interrupted());
            }
        }
        scratch.high->resize(program.step_slots[step]);
        scratch.low->resize(program.step_slots[step]);
        step_function(program, step, values, scratch);
        std::swap(values, scratch);
    }
    return {};
}

DoubleDouble product_of_three(DoubleDouble x, DoubleDouble y, DoubleDouble z) {
    if (fma_available()) return product_of_three_fused(x, y, z);
    return multiply(multiply(x, y), z);
}

}  // namespace tavrin::recoupling
