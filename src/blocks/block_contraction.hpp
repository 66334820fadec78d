// Contraction of two block tensors over pairs of legs, blockwise with X-symbols: never through
// the dense tensors.
#pragma once

#include <cstddef>
#include <span>

#include "blocks/block_tensor.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"

namespace tavrin::blocks {

// The tensor of sum over paired indices of A * B, leg axes_a[i] of A paired with leg axes_b[i]
// of B: A's unpaired legs in order, then B's. Each pair joins an incoming with an outgoing leg
// whose multiplicities agree for every spin both carry (a spin on one side only contributes
// nothing). Pairing every leg gives a tensor without legs, its one entry the sum; leaving a
// single leg is refused. Errors: IndexOutOfBounds for a leg that does not exist,
// InvalidContraction for lists of different lengths, a leg named twice, two paired legs of one
// direction or a single leg left, InvalidBlockTensor for multiplicities that differ.
Result<BlockTensor> contract(const BlockTensor& a, const BlockTensor& b,
                             std::span<const std::size_t> axes_a,
                             std::span<const std::size_t> axes_b, CallContext& context);

}  // namespace tavrin::blocks
