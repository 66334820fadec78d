#include "blocks/lanczos.hpp"

#include <cmath>
#include <string>

#include "blocks/block_arithmetic.hpp"
#include "blocks/block_contraction.hpp"
#include "blocks/block_timing.hpp"
#include "blocks/matrix.hpp"

namespace tavrin::blocks {

namespace {

// The lowest eigenpair of the tridiagonal matrix of the alphas and betas.
std::pair<double, std::vector<double>> lowest_ritz_pair(const std::vector<double>& alphas,
                                                        const std::vector<double>& betas) {
    const std::size_t n = alphas.size();
    Matrix t(n, n);
    for (std::size_t i = 0; i < n; ++i) {
        t(i, i) = alphas[i];
        if (i + 1 < n) t(i + 1, i) = t(i, i + 1) = betas[i];
    }
    SymmetricEigensystem system = symmetric_eigensystem(t);
    std::vector<double> coefficients(n);
    for (std::size_t i = 0; i < n; ++i) coefficients[i] = system.v(i, 0);
    return {system.w[0], std::move(coefficients)};
}

Status check_positions(const char* name, std::span<const std::size_t> positions,
                       std::size_t rank) {
    for (const std::size_t position : positions) {
        if (auto checked = check_leg_position(name, position, rank); !checked) return checked;
    }
    return {};
}

// The error of step `index` of a chain, named after it; an interruption stays as it is.
TavrinError in_step(std::size_t index, const TavrinError& error) {
    if (error.kind() == ErrorKind::Interrupted) return error;
    return TavrinError::invalid_block_tensor("chain step " + std::to_string(index) + ": " +
                                             error.python_message());
}

Result<BlockTensor> apply_step(const ChainStep& step, const BlockTensor& current,
                               CallContext& context) {
    if (auto checked = check_positions("current_axes", step.current_axes, current.rank());
        !checked) {
        return fail(std::move(checked.error()));
    }
    if (auto checked = check_positions("operand_axes", step.operand_axes, step.operand.rank());
        !checked) {
        return fail(std::move(checked.error()));
    }
    return step.operand_first
               ? contract(step.operand, current, step.operand_axes, step.current_axes, context)
               : contract(current, step.operand, step.current_axes, step.operand_axes, context);
}

}  // namespace

Result<BlockTensor> apply_chain(const std::vector<ChainStep>& chain, const BlockTensor& x,
                                CallContext& context) {
    BlockTensor current = x;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        auto next = apply_step(chain[i], current, context);
        if (!next) return fail(in_step(i, next.error()));
        current = std::move(*next);
    }
    return current;
}

Result<Eigenpair> lowest_eigenpair(const std::vector<ChainStep>& chain, const BlockTensor& start,
                                   std::size_t max_iterations, double tolerance,
                                   CallContext& context) {
    const double start_norm = norm(start);
    if (!std::isfinite(start_norm)) {
        return fail(TavrinError::invalid_block_tensor(
            "the start vector is not finite: an entry is infinite or NaN, or too large to "
            "square"));
    }
    if (start_norm == 0.0) {
        return fail(TavrinError::invalid_block_tensor("the start vector is zero"));
    }
    std::vector<BlockTensor> basis{scaled(start, 1.0 / start_norm)};
    std::vector<double> alphas, betas;
    double lowest = INFINITY;
    for (std::size_t k = 0; k < std::max<std::size_t>(max_iterations, 1); ++k) {
        if (context.should_stop()) return fail(TavrinError::interrupted());
        auto product = apply_chain(chain, basis[k], context);
        if (!product) return fail(std::move(product.error()));
        if (product->legs() != start.legs()) {
            return fail(TavrinError::invalid_block_tensor(
                "the chain does not map the start vector's legs onto themselves"));
        }
        const TimedSection timed(TimedWork::BlockLoop);
        BlockTensor w = std::move(*product);
        alphas.push_back(*inner(w, basis[k]));
        for (int pass = 0; pass < 2; ++pass) {
            for (const BlockTensor& v : basis) add_scaled(w, -*inner(w, v), v);
        }
        // Eigenvalues alone while iterating; the Ritz vector once, at the end.
        const double previous = lowest;
        lowest = lowest_tridiagonal_eigenvalue(alphas, betas);
        const double beta = norm(w);
        if (std::abs(lowest - previous) < tolerance || beta < 1e-12 ||
            k + 1 >= max_iterations) {
            break;
        }
        betas.push_back(beta);
        scale_in_place(w, 1.0 / beta);
        basis.push_back(std::move(w));
    }
    const std::pair<double, std::vector<double>> ritz = lowest_ritz_pair(alphas, betas);
    BlockTensor ground = scaled(basis[0], ritz.second[0]);
    for (std::size_t i = 1; i < ritz.second.size(); ++i) {
        add_scaled(ground, ritz.second[i], basis[i]);
    }
    scale_in_place(ground, 1.0 / norm(ground));
    return Eigenpair{ritz.first, std::move(ground), alphas.size()};
}

}  // namespace tavrin::blocks
