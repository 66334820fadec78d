#include "blocks/block_contraction.hpp"

#include <string>
#include <vector>

#include "blocks/block_copy.hpp"
#include "blocks/block_timing.hpp"
#include "blocks/contraction_plan.hpp"
#include "blocks/matrix.hpp"

namespace tavrin::blocks {

namespace {

TavrinError invalid(const std::string& text) { return TavrinError::invalid_contraction(text); }

Status check_axes(const BlockTensor& tensor, std::span<const std::size_t> axes, const char* name) {
    std::vector<bool> seen(tensor.rank(), false);
    for (const std::size_t axis : axes) {
        if (auto checked = check_leg_position(name, axis, tensor.rank()); !checked) {
            return checked;
        }
        if (seen[axis]) {
            return fail(invalid("leg " + std::to_string(axis) + " appears more than once in " +
                                name));
        }
        seen[axis] = true;
    }
    return {};
}

Status check_pair(const Leg& a, const Leg& b, std::size_t axis_a, std::size_t axis_b) {
    if (a.direction() == b.direction()) {
        return fail(invalid("leg " + std::to_string(axis_a) + " of a and leg " +
                            std::to_string(axis_b) +
                            " of b have the same direction; a pair joins an incoming with an "
                            "outgoing leg"));
    }
    for (const Sector& sector : a.sectors()) {
        const auto other = b.find(sector.twice_j);
        if (other && b.multiplicity(*other) != sector.multiplicity) {
            return fail(TavrinError::invalid_block_tensor(
                "leg " + std::to_string(axis_a) + " of a and leg " + std::to_string(axis_b) +
                " of b have different multiplicities for 2j = " +
                std::to_string(sector.twice_j)));
        }
    }
    return {};
}

Status check_contraction(const BlockTensor& a, const BlockTensor& b,
                         std::span<const std::size_t> axes_a,
                         std::span<const std::size_t> axes_b) {
    if (axes_a.size() != axes_b.size()) {
        return fail(invalid("axes_a and axes_b have different lengths"));
    }
    if (auto checked = check_axes(a, axes_a, "axes_a"); !checked) return checked;
    if (auto checked = check_axes(b, axes_b, "axes_b"); !checked) return checked;
    for (std::size_t i = 0; i < axes_a.size(); ++i) {
        if (auto checked = check_pair(a.legs()[axes_a[i]], b.legs()[axes_b[i]], axes_a[i],
                                      axes_b[i]);
            !checked) {
            return checked;
        }
    }
    if (a.rank() < 2 || b.rank() < 2) {
        return fail(invalid("both tensors need at least two legs"));
    }
    if (a.rank() + b.rank() - 2 * axes_a.size() == 1) {
        return fail(invalid("a single leg would be left; add a leg of spin 0"));
    }
    return {};
}

// Axis orders of the blocks as matrices: A's as (unpaired legs, OM) x (paired legs in pair
// order), B's as (paired legs in pair order) x (unpaired legs, OM).
std::vector<std::size_t> a_order(std::size_t rank, std::span<const std::size_t> axes) {
    std::vector<bool> is_paired(rank, false);
    for (const std::size_t axis : axes) is_paired[axis] = true;
    std::vector<std::size_t> order;
    for (std::size_t k = 0; k < rank; ++k) {
        if (!is_paired[k]) order.push_back(k);
    }
    order.push_back(rank);
    order.insert(order.end(), axes.begin(), axes.end());
    return order;
}

std::vector<std::size_t> b_order(std::size_t rank, std::span<const std::size_t> axes) {
    std::vector<bool> is_paired(rank, false);
    for (const std::size_t axis : axes) is_paired[axis] = true;
    std::vector<std::size_t> order(axes.begin(), axes.end());
    for (std::size_t k = 0; k < rank; ++k) {
        if (!is_paired[k]) order.push_back(k);
    }
    order.push_back(rank);
    return order;
}

std::uint64_t paired_size(const Block& block, std::span<const std::size_t> axes) {
    std::uint64_t size = 1;
    for (const std::size_t axis : axes) size *= block.data.shape()[axis];
    return size;
}

}  // namespace

Result<BlockTensor> contract(const BlockTensor& a, const BlockTensor& b,
                             std::span<const std::size_t> axes_a,
                             std::span<const std::size_t> axes_b, CallContext& context) {
    if (auto checked = check_contraction(a, b, axes_a, axes_b); !checked) {
        return fail(std::move(checked.error()));
    }
    auto plan = contraction_plan(a, b, axes_a, axes_b, context);
    if (!plan) return fail(std::move(plan.error()));
    const TimedSection timed(TimedWork::BlockLoop);
    BlockTensor result = BlockTensor::zeros_of(contracted_legs(a, b, axes_a, axes_b),
                                               (*plan)->result);
    const std::vector<std::size_t> order_a = a_order(a.rank(), axes_a);
    const std::vector<std::size_t> order_b = b_order(b.rank(), axes_b);
    const std::size_t split_a = a.rank() - axes_a.size() + 1;
    const std::size_t split_b = axes_b.size();
    std::vector<double> left, right;
    Matrix product;
    for (const ContractionGroup& group : (*plan)->groups) {
        if (context.should_stop()) return fail(TavrinError::interrupted());
        const std::uint64_t inner = paired_size(a.blocks()[group.a_blocks[0]], axes_a);
        std::vector<std::uint64_t> row_start{0}, column_start{0};
        for (const std::uint32_t i : group.a_blocks) {
            row_start.push_back(row_start.back() + a.blocks()[i].data.size() / inner);
        }
        for (const std::uint32_t j : group.b_blocks) {
            column_start.push_back(column_start.back() + b.blocks()[j].data.size() / inner);
        }
        const std::uint64_t rows = row_start.back(), columns = column_start.back();
        left.resize(rows * inner);
        right.resize(inner * columns);
        for (std::size_t s = 0; s < group.a_blocks.size(); ++s) {
            copy_permuted(a.blocks()[group.a_blocks[s]].data, order_a, split_a,
                          left.data() + row_start[s] * inner, inner);
        }
        for (std::size_t s = 0; s < group.b_blocks.size(); ++s) {
            copy_permuted(b.blocks()[group.b_blocks[s]].data, order_b, split_b,
                          right.data() + column_start[s], columns);
        }
        product = Matrix(rows, columns);
        multiply(ConstMatrixView(left.data(), rows, inner, inner),
                 ConstMatrixView(right.data(), inner, columns, columns), product.view(), 1.0,
                 0.0);
        for (const ContractedPair& pair : group.pairs) {
            const Block& block_a = a.blocks()[group.a_blocks[pair.a_slot]];
            const Block& block_b = b.blocks()[group.b_blocks[pair.b_slot]];
            const std::uint64_t om_a = block_a.data.shape().back();
            const std::uint64_t om_b = block_b.data.shape().back();
            Tensor& target = result.blocks()[pair.result_block].data;
            const std::uint64_t om_c = target.shape().back();
            const std::uint64_t free_a = (row_start[pair.a_slot + 1] - row_start[pair.a_slot]) / om_a;
            const std::uint64_t free_b =
                (column_start[pair.b_slot + 1] - column_start[pair.b_slot]) / om_b;
            const double* corner = product.values.data() + row_start[pair.a_slot] * columns +
                                   column_start[pair.b_slot];
            double* out = target.data().data();
            for (std::uint32_t e = 0; e < pair.coefficient_count; ++e) {
                const PairCoefficient& x = (*plan)->coefficients[pair.first_coefficient + e];
                for (std::uint64_t fa = 0; fa < free_a; ++fa) {
                    const double* from = corner + (fa * om_a + x.a) * columns + x.b;
                    double* to = out + fa * free_b * om_c + x.c;
                    for (std::uint64_t fb = 0; fb < free_b; ++fb) {
                        to[fb * om_c] += x.value * from[fb * om_b];
                    }
                }
            }
        }
    }
    return result;
}

}  // namespace tavrin::blocks
