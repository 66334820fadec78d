// Reordering the legs of a block tensor, blockwise with R-symbols; conjugation and flipping a
// leg's direction, blockwise with phases.
#pragma once

#include <cstddef>
#include <span>

#include "blocks/block_tensor.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"

namespace tavrin::blocks {

// Leg k of the result is leg permutation[k] of the tensor, and so is its dense axis k.
// InvalidBlockTensor unless the permutation names every leg once.
Result<BlockTensor> permute(const BlockTensor& tensor, std::span<const std::size_t> permutation,
                            CallContext& context);

// Every leg's direction reversed; the dense tensor is the same (all entries are real). Each
// block is multiplied by the phase compute_conjugate gives its spins and directions.
BlockTensor conjugate(const BlockTensor& tensor);

// Leg k's direction reversed, the dense tensor mapped on axis k by
//   X'[..., m, ...] = (-1)^(j - m) X[..., -m, ...]
// from incoming to outgoing, and by its inverse ((-1)^(2j) times it) from outgoing to incoming.
// The blocks stay as they are, but for the last leg, whose blocks change by (-1)^(2j).
// IndexOutOfBounds for a leg that does not exist.
Result<BlockTensor> flip_leg(const BlockTensor& tensor, std::size_t leg);

}  // namespace tavrin::blocks
