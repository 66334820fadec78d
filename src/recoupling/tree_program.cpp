#include "recoupling/tree_program.hpp"

#include <algorithm>
#include <utility>

namespace tavrin::recoupling {

namespace {

// The exact error of a product from one fused multiply-add: used only inside functions built
// for processors that have it (fma_available()).
struct FusedProduct {
    [[gnu::always_inline]] static DoubleDouble two_product(double a, double b) {
        const double product = a * b;
        return {product, __builtin_fma(a, b, -product)};
    }
};

// sum_k coefficient_k * value_k over a slot's terms, in double-double: each product exactly
// (high and error) plus its cross terms, accumulated without renormalising between terms (the
// low part gathers the errors), normalised once at the end.
template <class Product>
[[gnu::always_inline]] inline void run_step(const TreeProgram& program, std::size_t first_slot,
                                            std::uint32_t slots, const double* in, double* out) {
    const DoubleDouble* coefficients = program.coefficients.data();
    const std::uint32_t* begin = program.term_begin.data() + first_slot;
    const ProgramTerm* terms = program.terms.data();
    const auto product = [&](std::uint32_t k) {
        const ProgramTerm term = terms[k];
        const DoubleDouble c = coefficients[term.coefficient];
        const double x_high = in[2 * std::size_t{term.source}];
        const double x_low = in[2 * std::size_t{term.source} + 1];
        DoubleDouble p = Product::two_product(c.high, x_high);
        p.low += c.high * x_low + c.low * x_high;
        return p;
    };
    for (std::uint32_t t = 0; t < slots; ++t) {
        // Every slot made has one term or more.
        DoubleDouble sum = product(begin[t]);
        for (std::uint32_t k = begin[t] + 1; k < begin[t + 1]; ++k) {
            const DoubleDouble p = product(k);
            const DoubleDouble s = two_sum(sum.high, p.high);
            sum = {s.high, s.low + (sum.low + p.low)};
        }
        sum = fast_two_sum(sum.high, sum.low);
        out[2 * std::size_t{t}] = sum.high;
        out[2 * std::size_t{t} + 1] = sum.low;
    }
}

[[gnu::target("fma")]] void run_step_fused(const TreeProgram& program, std::size_t first_slot,
                                           std::uint32_t slots, const double* in, double* out) {
    run_step<FusedProduct>(program, first_slot, slots, in, out);
}

void run_step_split(const TreeProgram& program, std::size_t first_slot, std::uint32_t slots,
                    const double* in, double* out) {
    run_step<SplitProduct>(program, first_slot, slots, in, out);
}

[[gnu::target("fma")]] DoubleDouble product_of_three_fused(DoubleDouble x, DoubleDouble y,
                                                           DoubleDouble z) {
    return multiply<FusedProduct>(multiply<FusedProduct>(x, y), z);
}

bool fma_available() {
    static const bool available = __builtin_cpu_supports("fma");
    return available;
}

}  // namespace

std::size_t TreeProgram::bytes() const {
    return sizeof(TreeProgram) + coefficients.capacity() * sizeof(DoubleDouble) +
           (step_slots.capacity() + term_begin.capacity()) * sizeof(std::uint32_t) +
           terms.capacity() * sizeof(ProgramTerm);
}

Status run_program(const TreeProgram& program, std::vector<double>& values,
                   std::vector<double>& scratch, CallContext& context) {
    values.assign(2 * std::size_t{program.initial_slots}, 0.0);
    for (std::size_t slot = 0; slot < program.initial_slots; ++slot) values[2 * slot] = 1.0;
    const auto step = fma_available() ? run_step_fused : run_step_split;
    // A stop is asked for once enough terms have been summed (short programs never ask).
    constexpr std::size_t kTermsBetweenStopChecks = std::size_t{1} << 16;
    std::size_t terms_since_check = 0;
    std::size_t first_slot = 0;
    for (const std::uint32_t slots : program.step_slots) {
        terms_since_check +=
            program.term_begin[first_slot + slots] - program.term_begin[first_slot];
        if (terms_since_check >= kTermsBetweenStopChecks) {
            terms_since_check = 0;
            if (context.should_stop()) {
                return fail(TavrinError::interrupted());
            }
        }
        scratch.resize(2 * std::size_t{slots});
        step(program, first_slot, slots, values.data(), scratch.data());
        std::swap(values, scratch);
        first_slot += slots;
    }
    return {};
}

DoubleDouble product_of_three(DoubleDouble x, DoubleDouble y, DoubleDouble z) {
    if (fma_available()) return product_of_three_fused(x, y, z);
    return multiply(multiply(x, y), z);
}

}  // namespace tavrin::recoupling
