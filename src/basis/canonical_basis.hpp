// The canonical basis of a specification: built once per spin list, kept in the basis cache,
// and given the phases of the requested edge directions.
#pragma once

#include <span>

#include "basis/basis_store.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"
#include "specs/cg_spec.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// Shape [2j_0 + 1, ..., 2j_(n-1) + 1, om_dimension]: the normalised OM tensors of every
// configuration, with the phases of the edges whose direction differs from the canonical
// pattern (edges 0 ... n-2 incoming, edge n-1 outgoing). Reads and fills the basis cache.
Result<Tensor> canonical_basis(const CGSpec& spec, CallContext& context);

// The same basis before the direction phases (the canonical-pattern basis of the spins), shared
// with the in-process store: consulted first, filled after a load from the cache or a build.
// Checks, errors and cache effects are those of canonical_basis.
Result<SharedBasis> shared_canonical_pattern_basis(const CGSpec& spec, CallContext& context);

// The same for several specifications in their order, the first failure ending the fetching;
// the store and its key are looked up once for all of them.
Status shared_canonical_pattern_bases(std::span<const CGSpec* const> specs,
                                      std::span<SharedBasis> bases, CallContext& context);

// Whether the in-process store already holds the basis of every specification (at most
// BasisStore::kMaxTouched of them) under the call's database. If so, the lookups of
// shared_canonical_pattern_bases are made (each basis the most recently used in turn, a hit
// each) and nothing else, which is everything that call would do; otherwise nothing happens.
// Never loads, builds or warns: cheap enough for a caller that holds a lock of its own.
// `found`: see BasisStore::touch_all.
bool touch_stored_canonical_pattern_bases(std::span<const CGSpec* const> specs,
                                          CallContext& context,
                                          BasisStore::Found* found = nullptr);

}  // namespace tavrin
