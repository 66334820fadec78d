// Between block tensors and the dense arrays they stand for, through the canonical bases: for
// checking and for small cases, never inside the operations.
#pragma once

#include <vector>

#include "blocks/block_tensor.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::blocks {

// The dense tensor, of shape [dense dimension of each leg] (a single element for no legs).
Result<Tensor> to_dense(const BlockTensor& tensor, CallContext& context);

// The projection of a dense tensor onto the invariants of the legs: each block is the overlap
// of the dense entries with its basis slices (orthonormal), so that to_dense(from_dense(t))
// gives back t whenever t is invariant. InvalidBlockTensor when the shape does not fit.
Result<BlockTensor> from_dense(std::vector<Leg> legs, const Tensor& dense, CallContext& context);

}  // namespace tavrin::blocks
