// The lowest eigenpair of a Hermitian map on block tensors by the Lanczos iteration, the map a
// chain of contractions with fixed tensors: what a DMRG step asks for, without leaving C++
// between the products.
#pragma once

#include <cstddef>
#include <vector>

#include "blocks/block_tensor.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"

namespace tavrin::blocks {

// One contraction of the chain: the current tensor with `operand` over the pairs
// (current axes[i], operand axes[i]); the operand's legs come first in the result when
// `operand_first`, the current tensor's otherwise.
struct ChainStep {
    BlockTensor operand;
    std::vector<std::size_t> current_axes;
    std::vector<std::size_t> operand_axes;
    bool operand_first;
};

// The chain applied to a tensor, step by step. An error of a step (a leg position out of range
// included) is InvalidBlockTensor "chain step {i}: ..."; Interrupted stays as it is.
Result<BlockTensor> apply_chain(const std::vector<ChainStep>& chain, const BlockTensor& x,
                                CallContext& context);

struct Eigenpair {
    double value;
    BlockTensor vector;  // unit norm
    std::size_t iterations;
};

// Lanczos from `start` with every new vector orthogonalised twice against all before it; stops
// when the lowest Ritz value changes by less than `tolerance`, when the Krylov space closes or
// after `max_iterations` products. The chain must map a tensor of start's legs to one of the
// same legs (InvalidBlockTensor otherwise) and be Hermitian; start must be finite and not zero.
Result<Eigenpair> lowest_eigenpair(const std::vector<ChainStep>& chain, const BlockTensor& start,
                                   std::size_t max_iterations, double tolerance,
                                   CallContext& context);

}  // namespace tavrin::blocks
