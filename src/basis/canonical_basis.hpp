// The canonical basis of a specification: built once per spin list, kept in the basis cache,
// and given the phases of the requested edge directions.
#pragma once

#include "core/call_context.hpp"
#include "core/error.hpp"
#include "specs/cg_spec.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// Shape [2j_0 + 1, ..., 2j_(n-1) + 1, om_dimension]: the normalised OM tensors of every
// configuration, with the phases of the edges whose direction differs from the canonical
// pattern (edges 0 ... n-2 incoming, edge n-1 outgoing). Reads and fills the basis cache.
Result<Tensor> canonical_basis(const CGSpec& spec, CallContext& context);

}  // namespace tavrin
