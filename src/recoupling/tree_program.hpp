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
#include "support/scratch_vector.hpp"

namespace tavrin::recoupling {

// target slot += coefficient * source slot.
struct SlotTerm {
    std::uint32_t target;
    std::uint32_t source;
    std::uint32_t coefficient;  // index into the coefficient table
};

// The same for `length` consecutive slots from target and source on: a path whose columns are
// those of the path it receives from, moved as a whole.
struct RowTerm {
    std::uint32_t target;
    std::uint32_t source;
    std::uint32_t length;
    std::uint32_t coefficient;
};

struct TreeProgram {
    std::uint32_t initial_slots = 0;
    std::vector<DoubleDouble> coefficients;
    // Step s makes step_slots[s] slots, all zero, then adds its row terms
    // row_terms[row_terms_end[s - 1] .. row_terms_end[s]) and its slot terms likewise.
    std::vector<std::uint32_t> step_slots;
    std::vector<std::uint32_t> row_terms_end;
    std::vector<std::uint32_t> slot_terms_end;
    std::vector<RowTerm> row_terms;
    std::vector<SlotTerm> slot_terms;

    std::size_t bytes() const;
};

// The values of a list of slots: high and low halves apart, in vectors the caller owns.
struct SlotValues {
    std::vector<double>* high;
    std::vector<double>* low;

    DoubleDouble operator[](std::uint32_t slot) const { return {(*high)[slot], (*low)[slot]}; }
};

// Slot values in vectors of the thread's scratch pool.
class ScratchSlots {
public:
    ScratchSlots() = default;
    ScratchSlots(const ScratchSlots&) = delete;
    ScratchSlots& operator=(const ScratchSlots&) = delete;
    SlotValues& operator*() { return values_; }

private:
    ScratchVector high_;
    ScratchVector low_;
    SlotValues values_{&*high_, &*low_};
};

// Runs the program; `values` receives its final slots, `scratch` is working space. Fails only
// with Interrupted (asked between steps, once enough has been summed).
Status run_program(const TreeProgram& program, SlotValues& values, SlotValues& scratch,
                   CallContext& context);

// The product x * y * z, as run_program computes products (a fused multiply-add where the
// processor has one, with the same bits as without).
DoubleDouble product_of_three(DoubleDouble x, DoubleDouble y, DoubleDouble z);

}  // namespace tavrin::recoupling
