// Linear algebra of block tensors with the same legs: every operation blockwise, and exact
// for the dense tensors because the basis slices of a block are orthonormal.
#pragma once

#include "blocks/block_tensor.hpp"
#include "core/error.hpp"

namespace tavrin::blocks {

// alpha * a + beta * b; InvalidBlockTensor unless both have the same legs.
Result<BlockTensor> linear_combination(double alpha, const BlockTensor& a, double beta,
                                       const BlockTensor& b);
BlockTensor scaled(const BlockTensor& a, double alpha);
// In place: y += alpha * x (x with the legs of y, which the caller has made sure of), y *= alpha.
void add_scaled(BlockTensor& y, double alpha, const BlockTensor& x);
void scale_in_place(BlockTensor& y, double alpha);

// The dense tensors' sum of products of entries, sum over blocks of the blocks' entries;
// InvalidBlockTensor unless both have the same legs.
Result<double> inner(const BlockTensor& a, const BlockTensor& b);
// The dense tensor's Frobenius norm.
double norm(const BlockTensor& a);

// The error for two tensors whose legs differ where they must agree.
TavrinError different_legs(const char* operation);

}  // namespace tavrin::blocks
