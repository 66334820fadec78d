// Invariant tensors written in the basis of all-incoming left-associative fusion trees coupled
// to total spin 0, and the moves of the fusion-tree algebra on them: exchanging two adjacent
// legs, contracting two adjacent legs into a singlet. No magnetic number appears anywhere.
//
// A tree on legs of doubled spins s0 ... s(n-1) (n >= 2) is labelled by its path: the doubled
// internal spins k1 ... k(n-2), where k(i) couples k(i-1) with leg i (k0 = s0), and the tree is
// completed by coupling k(n-2) with the last leg to 0. These are exactly the OM configurations
// of the spins. A state holds several columns at once, each a sparse combination of paths.
//
// TreeMoves follows the moves on the structure of a state only -- which paths of which columns
// are non-zero -- and records them as a TreeProgram, with the coefficients of the moves; running
// the program gives the values. A repeated symbol then needs no bookkeeping, only its sums.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "recoupling/tree_program.hpp"

namespace tavrin::recoupling {

class TreeMoves {
public:
    // Legs with their doubled spins and caller-chosen labels (used to find legs again after
    // moves); two or more. The state starts empty.
    TreeMoves(std::vector<std::int32_t> spins, std::vector<std::size_t> labels);

    // Adds a path (distinct from those added before) holding one slot of value 1 in `column`;
    // slots are numbered in the order added. Only before the first move.
    void add_initial(std::span<const std::int32_t> path, std::uint32_t column);

    // Exchanges the legs at positions i and i + 1: the same tensors, rewritten in the tree basis
    // of the new leg order.
    Status exchange(std::size_t i, CallContext& context);

    // Moves the leg at position from to position to by adjacent exchanges.
    Status move_leg(std::size_t from, std::size_t to, CallContext& context);

    // Brings the legs into the order of the given labels (a permutation of the current ones).
    Status arrange(std::span<const std::size_t> labels, CallContext& context);

    // Contracts the legs at positions i and i + 1 (equal spins s) with the singlet, times the
    // pair's weight reversal * sqrt(2s + 1) (see singlet_weight). Both legs disappear; at least
    // two remain.
    Status contract_singlet(std::size_t i, double reversal, CallContext& context);

    std::size_t position_of(std::size_t label) const;
    const std::vector<std::int32_t>& spins() const { return spins_; }

    // The state: rows, each a path with its slots (consecutive numbers, columns ascending).
    std::size_t row_count() const { return row_begin_.size() - 1; }
    std::span<const std::int32_t> path(std::size_t row) const {
        return {paths_.data() + row * path_length(), path_length()};
    }
    std::uint32_t row_begin(std::size_t row) const { return row_begin_[row]; }
    std::uint32_t row_end(std::size_t row) const { return row_begin_[row + 1]; }
    std::uint32_t column(std::uint32_t slot) const { return columns_[slot]; }
    // The sign that the program's final value of a slot still needs: exchanges of the first two
    // legs only change signs, which are not made a step of their own but carried to the next
    // step's coefficients, or to the reader of the final values.
    double sign(std::uint32_t slot) const { return negated_[slot] ? -1.0 : 1.0; }

    // The program of the moves so far; the state stays as it is.
    TreeProgram take_program() { return std::move(program_); }

private:
    using CoefficientId = std::array<std::int32_t, 7>;  // a kind, then its arguments
    struct CoefficientIdHash {
        std::size_t operator()(const CoefficientId& id) const noexcept;
    };
    // One target of a source row: a new path (row of the new state) and a coefficient.
    struct Contribution {
        std::uint32_t source_row;
        std::uint32_t target_row;
        std::uint32_t coefficient;
    };
    class PathIndex;

    std::size_t path_length() const { return spins_.size() - 2; }
    std::uint32_t coefficient(const CoefficientId& id, DoubleDouble (*value)(const CoefficientId&));
    // The same coefficient with the opposite sign.
    std::uint32_t negated_coefficient(std::uint32_t index);
    // Makes the new state from the source rows' contributions and records the step.
    void record_step(std::vector<std::int32_t> new_paths, std::size_t new_rows,
                     const std::vector<Contribution>& contributions);

    std::vector<std::int32_t> spins_;
    std::vector<std::size_t> labels_;
    std::vector<std::int32_t> paths_;       // row after row, path_length() entries each
    std::vector<std::uint32_t> row_begin_;  // row r holds slots row_begin_[r] .. row_begin_[r+1]
    std::vector<std::uint32_t> columns_;    // the column of every slot
    std::vector<bool> negated_;             // the slots whose value is to be negated
    TreeProgram program_;
    std::unordered_map<CoefficientId, std::uint32_t, CoefficientIdHash> coefficient_index_;
};

// The path extended by its two ends: [s0, k1, ..., k(n-2), 0].
std::vector<std::int32_t> extended_path(std::span<const std::int32_t> path,
                                        std::span<const std::int32_t> spins);

}  // namespace tavrin::recoupling
