// The canonical basis of a spin list for the canonical direction pattern (edges 0 ... n-2
// incoming, edge n-1 outgoing), built from fusion trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// [2j_0 + 1, ..., 2j_(n-1) + 1, om_dimension].
Shape basis_shape(std::span<const std::int32_t> spins, std::size_t om_dimension);

// The normalised OM tensors of every configuration of the spins (n >= 2), stacked along the
// last axis. Each is bit for bit build_om_tensor divided by sqrt(2j_(n-1) + 1). Fails with
// Interrupted when the context asks to stop.
Result<Tensor> build_canonical_basis(std::span<const std::int32_t> spins, CallContext& context);

}  // namespace tavrin
