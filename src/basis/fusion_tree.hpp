// The fusion-tree tensor of one OM configuration, built from Clebsch-Gordan vertex tensors
// along the left-associative tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/error.hpp"
#include "core/spin.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// The error of a basis that cannot be built from its edges alone: fewer than two edges. (Two
// edges of different spins: two_edge_spin_mismatch of coupling/om_configurations.hpp.)
TavrinError too_few_edges_for_basis(std::size_t n);

// Vertex tensor of shape [two_j1 + 1, two_j2 + 1, two_j + 1]; element [i1, i2, i3] is
// <j1 m1; j2 m2 | J M> with m = i - j on every axis.
Tensor cg_tensor(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j);

// Contraction of the last axis of a with the first axis of b; every element is accumulated
// from 0.0 in ascending order of the shared index.
Result<Tensor> contract_last_first(const Tensor& a, const Tensor& b);

// The unnormalised fusion-tree tensor of the first n edges (n >= 4) for config.
Result<Tensor> build_fusion_tree_recursive(std::span<const Edge> edges, std::size_t n,
                                           std::span<const std::int32_t> config);

// The unnormalised OM tensor of one configuration, for any number of edges.
Result<Tensor> build_om_tensor(std::span<const Edge> edges, std::span<const std::int32_t> config);

}  // namespace tavrin
