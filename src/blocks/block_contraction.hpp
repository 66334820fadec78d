// Contraction of two block tensors over pairs of legs, blockwise with X-symbols: never through
// the dense tensors.
#pragma once

#include <cstddef>
#include <span>

#include "blocks/block_tensor.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"

namespace tavrin::blocks {

// The tensor of sum over paired indices of a * b, leg axes_a[i] of a paired with leg axes_b[i]
// of b: a's unpaired legs in order, then b's. Each pair joins an incoming with an outgoing leg
// whose multiplicities agree for every spin both carry (a spin on one side only contributes
// nothing). Pairing every leg gives a tensor without legs, its one entry the sum; leaving a
// single leg is refused. Errors: InvalidContraction for lists of different lengths, a leg named
// twice, two paired legs of one direction or a single leg left; InvalidBlockTensor for a leg
// that does not exist (as check_leg_position words it) and for multiplicities that differ;
// Interrupted when the context asks to stop.
Result<BlockTensor> contract(const BlockTensor& a, const BlockTensor& b,
                             std::span<const std::size_t> axes_a,
                             std::span<const std::size_t> axes_b, CallContext& context);

}  // namespace tavrin::blocks
