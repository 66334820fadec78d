// A recorded sequence of fusion-tree moves, ready to be run on values: what a symbol by
// recoupling computes, without the bookkeeping of finding it. The values are a list of slots,
// each one coefficient of a state (a tree path, in one column); the program starts from
// `initial_slots` slots of value 1 and makes each following list of slots from the one before,
// each new slot a sum of coefficients times earlier slots. All arithmetic is in double-double.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "support/double_double.hpp"

namespace tavrin::recoupling {

struct ProgramTerm {
    std::uint32_t source;       // slot of the list before
    std::uint32_t coefficient;  // index into the coefficient table
};

struct TreeProgram {
    std::uint32_t initial_slots = 0;
    std::vector<DoubleDouble> coefficients;
    // Step s makes step_slots[s] slots; slot t of it takes the terms
    // terms[term_begin[first_slot + t] .. term_begin[first_slot + t + 1]), where first_slot is
    // the sum of the step_slots before s. term_begin ends with terms.size().
    std::vector<std::uint32_t> step_slots;
    std::vector<std::uint32_t> term_begin;
    std::vector<ProgramTerm> terms;

    std::uint32_t final_slots() const {
        return step_slots.empty() ? initial_slots : step_slots.back();
    }
    std::size_t bytes() const;
};

// Runs the program; `values` receives its final slots (two doubles each: high, then low),
// `scratch` is working space. Fails only with Interrupted (asked between steps).
Status run_program(const TreeProgram& program, std::vector<double>& values,
                   std::vector<double>& scratch, CallContext& context);

// Slot `slot` of a list of values made by run_program.
inline DoubleDouble slot_value(std::span<const double> values, std::uint32_t slot) {
    return {values[2 * std::size_t{slot}], values[2 * std::size_t{slot} + 1]};
}

// The product x * y * z, as run_program computes products (a fused multiply-add where the
// processor has one, with the same bits as without).
DoubleDouble product_of_three(DoubleDouble x, DoubleDouble y, DoubleDouble z);

}  // namespace tavrin::recoupling
