// How a specification's canonical basis relates to the all-incoming fusion trees of its spins,
// and the checks that the canonical basis of a specification makes before it exists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/error.hpp"
#include "specs/cg_spec.hpp"

namespace tavrin::recoupling {

// The canonical basis of a specification is, slice by slice, rho * (prod over outgoing edges of
// the time reversal T) applied to the all-incoming tree coupled to 0, where
// (T X)[..., m, ...] = (-1)^(j-m) X[..., -m, ...] and rho = (-1)^(2j) of the last edge when that
// edge is incoming, +1 otherwise. This returns rho.
double direction_sign(const CGSpec& spec);

// The errors the canonical basis of spec would report, without building it: fewer than two
// edges, or two edges of different spins.
Status check_tree_shape(const CGSpec& spec);

// The OM index of a configuration of spec (found by bisection: the configurations are in
// ascending lexicographic order); empty when the path is none of them.
std::optional<std::size_t> find_configuration(const CGSpec& spec,
                                              std::span<const std::int32_t> path);

}  // namespace tavrin::recoupling
