// Fusing neighbouring legs into one and splitting one leg back into several. The fused leg
// carries every spin k the legs couple to, its multiplets numbered sector tuple by sector tuple
// (ascending), then multiplet by multiplet, then by the OM configurations of the tuple with k.
// Over the dense tensors fusing applies the orthogonal map U^T of the fusion isometry U below
// to the fused legs' axes, and splitting applies U: the blocks are only rearranged.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "blocks/block_tensor.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"

namespace tavrin::blocks {

// U: the tensor (legs..., fused leg outgoing) whose dense tensor maps the fused axis onto the
// product of the legs' axes orthogonally (square: the fused leg has as many states).
struct FusionIsometry {
    BlockTensor tensor;
};
Result<FusionIsometry> fusion_isometry(std::span<const Leg> legs);

// The legs first, first + 1, ..., first + count - 1 fused into one leg at position `first`,
// with the given direction (flipping it as flip_leg does). count >= 1.
Result<BlockTensor> fuse(const BlockTensor& tensor, std::size_t first, std::size_t count,
                         Direction direction, CallContext& context);

// The leg at `position` (which must be the fusion of `legs`, in either direction) split back
// into `legs`.
Result<BlockTensor> split(const BlockTensor& tensor, std::size_t position,
                          std::vector<Leg> legs, CallContext& context);

}  // namespace tavrin::blocks
