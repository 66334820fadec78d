// A block tensor read across a cut after its first m legs: in the left-associative tree the
// first m legs couple to one spin k (leg 0's own spin for m = 1, internal spin m - 2 otherwise),
// so every block splits into one matrix per k, rows for the first m legs and columns for the
// others. The canonical basis factorises there too:
//   B_(rows, cols) = sqrt(2k + 1) * B_(rows, k outgoing) . B_(k incoming, cols)
// which is where the sqrt(2k + 1) of an isometric factor comes from.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "blocks/block_tensor.hpp"
#include "blocks/matrix.hpp"
#include "core/error.hpp"

namespace tavrin::blocks {

// The sector tuples of one side of the cut that couple to a spin k with the bond: for the rows
// the blocks (rows..., k), for the columns the blocks (k, columns...). Each group holds its
// tuple's multiplets times the OM configurations of its block, multiplet-major; the groups
// follow each other in ascending tuple order.
struct CutGroup {
    SectorTuple sectors;
    std::uint64_t multiplets;
    std::uint64_t om_dimension;
    std::vector<std::int32_t> configurations;  // back to back, as enumerated
    std::uint64_t offset;                      // of the group's first row (or column)
};

struct CutSpin {
    std::int32_t twice_k;
    std::vector<CutGroup> groups;
    std::uint64_t size;  // rows (or columns) in all
};

// Every k the legs couple to, ascending. `bond_last`: the rows' blocks (legs..., k); otherwise
// the columns' (k, legs...). InvalidBlockTensor when a side has more than 2^24 sector tuples.
Result<std::vector<CutSpin>> cut_side(std::span<const Leg> legs, bool bond_last);

// The tensor's blocks as one matrix per k, rows and columns as cut_side numbers them; the rows
// of each matrix are those of rows[k], the columns those of columns[k].
struct CutMatrices {
    std::vector<CutSpin> rows;
    std::vector<CutSpin> columns;
    std::vector<Matrix> matrices;  // one per row spin; empty where no column couples to it
};
Result<CutMatrices> cut_matrices(const BlockTensor& tensor, std::size_t cut);

// The inverse of cut_matrices: the tensor of the legs whose matrices across the cut are these
// (rows and columns numbered by cut_side of the legs on either side).
BlockTensor from_cut_matrices(std::vector<Leg> legs, std::size_t cut, const CutMatrices& form);

// The tensor (rows..., bond) whose block (r, k) holds sqrt(2k + 1) * factor_k[row, chi] at
// [multiplet, chi, configuration]: an isometry when the factor's columns are orthonormal.
// `bond` carries the spins with their column counts; factors[i] belongs to bond sector i.
BlockTensor left_factor(std::span<const Leg> row_legs, const Leg& bond,
                        const std::vector<CutSpin>& rows, std::span<const Matrix> factors);
// The tensor (bond, columns...) whose block (k, s) holds scale * factor_k[chi, column] at
// [chi, multiplet, configuration], scale sqrt(2k + 1) when `scaled` (the rows of an isometry)
// and 1 otherwise.
BlockTensor right_factor(const Leg& bond, std::span<const Leg> column_legs,
                         const std::vector<CutSpin>& columns, std::span<const Matrix> factors,
                         bool scaled);

// The spin k's entry of a cut side, or null.
const CutSpin* find_spin(const std::vector<CutSpin>& side, std::int32_t twice_k);

// sqrt(2k + 1)
double dimension_root(std::int32_t twice_k);

}  // namespace tavrin::blocks
