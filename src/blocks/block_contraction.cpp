#include "blocks/block_contraction.hpp"

#include <algorithm>
#include <ranges>
#include <string>
#include <vector>

#include "blocks/block_copy.hpp"
#include "blocks/block_timing.hpp"
#include "blocks/contraction_plan.hpp"
#include "blocks/matrix.hpp"
#include "blocks/matrix_product.hpp"
#include "support/scratch_vector.hpp"

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

// Where each block of a group starts among the rows of the left matrix and the columns of the
// right one.
struct GroupLayout {
    std::uint64_t inner = 0;
    std::vector<std::uint64_t> row_start, column_start;

    void lay_out(const ContractionGroup& group, const BlockTensor& a, const BlockTensor& b,
                 std::span<const std::size_t> axes_a) {
        inner = paired_size(a.blocks()[group.a_blocks[0]], axes_a);
        row_start.assign(1, 0);
        column_start.assign(1, 0);
        for (const std::uint32_t i : group.a_blocks) {
            row_start.push_back(row_start.back() + a.blocks()[i].data.size() / inner);
        }
        for (const std::uint32_t j : group.b_blocks) {
            column_start.push_back(column_start.back() + b.blocks()[j].data.size() / inner);
        }
    }
    std::uint64_t rows() const { return row_start.back(); }
    std::uint64_t columns() const { return column_start.back(); }
};

// B's blocks as matrices [inner x the block's columns]: read in place when B's axes are
// already in matrix order, else from the copy of the group's blocks side by side.
struct RightMatrices {
    const double* copy = nullptr;  // null: in place
    const ContractionGroup* group;
    const GroupLayout* layout;
    const BlockTensor* b;

    const double* data(std::size_t slot) const {
        return copy != nullptr ? copy + layout->column_start[slot]
                               : b->blocks()[group->b_blocks[slot]].data.data().data();
    }
    std::uint64_t stride(std::size_t slot) const {
        return copy != nullptr ? layout->columns()
                               : layout->column_start[slot + 1] - layout->column_start[slot];
    }
};

// The sizes of one pair's product.
struct PairShape {
    std::uint64_t om_a, om_b, om_c, free_a, free_b;
};

PairShape pair_shape(const ContractedPair& pair, const ContractionGroup& group,
                     const GroupLayout& layout, const BlockTensor& a, const BlockTensor& b,
                     const BlockTensor& result) {
    const std::uint64_t om_a = a.blocks()[group.a_blocks[pair.a_slot]].data.shape().back();
    const std::uint64_t om_b = b.blocks()[group.b_blocks[pair.b_slot]].data.shape().back();
    const std::uint64_t om_c = result.blocks()[pair.result_block].data.shape().back();
    return {om_a, om_b, om_c,
            (layout.row_start[pair.a_slot + 1] - layout.row_start[pair.a_slot]) / om_a,
            (layout.column_start[pair.b_slot + 1] - layout.column_start[pair.b_slot]) / om_b};
}

// A group's pairs are finished one of two ways. Grouped: one product of all of A's blocks with
// all of B's, whose corners the X-symbol coefficients then spread over the result blocks.
// Folded: per pair, the coefficients first folded into B's block (its OM index traded for the
// result's and A's), then one product with A's block straight into the result block. Folding
// pays when the free sides are small next to the paired one, or the group's blocks meet in few
// pairs. Strided sums of the coefficients cost about four products' multiply-adds each.
constexpr std::uint64_t kStridedSumWeight = 4;

bool folds(const ContractionGroup& group, const GroupLayout& layout, const BlockTensor& a,
           const BlockTensor& b, const BlockTensor& result) {
    std::uint64_t grouped = layout.rows() * layout.inner * layout.columns();
    std::uint64_t folded = 0;
    for (const ContractedPair& pair : group.pairs) {
        const PairShape s = pair_shape(pair, group, layout, a, b, result);
        grouped += kStridedSumWeight * pair.coefficient_count * s.free_a * s.free_b;
        folded += kStridedSumWeight * pair.coefficient_count * layout.inner * s.free_b +
                  s.free_a * s.om_a * layout.inner * s.free_b * s.om_c;
    }
    return folded < grouped;
}

// to[i * to_step] += value * from[i * from_step] for i < count.
void add_strided(double value, const double* from, std::uint64_t from_step, double* to,
                 std::uint64_t to_step, std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) to[i * to_step] += value * from[i * from_step];
}

// The grouped way: product = left * right, then each pair's corner times its coefficients.
void finish_grouped(const ContractionPlan& plan, const ContractionGroup& group,
                    const GroupLayout& layout, const BlockTensor& a, const BlockTensor& b,
                    BlockTensor& result, const double* left, const RightMatrices& right,
                    std::vector<double>& product) {
    const std::uint64_t rows = layout.rows(), columns = layout.columns(), inner = layout.inner;
    product.assign(rows * columns, 0.0);
    add_product(ConstMatrixView(left, rows, inner, inner),
                ConstMatrixView(right.data(0), inner, columns, right.stride(0)),
                MatrixView{product.data(), rows, columns, columns});
    for (const ContractedPair& pair : group.pairs) {
        const PairShape s = pair_shape(pair, group, layout, a, b, result);
        const double* corner = product.data() + layout.row_start[pair.a_slot] * columns +
                               layout.column_start[pair.b_slot];
        double* out = result.blocks()[pair.result_block].data.data().data();
        for (std::uint32_t e = 0; e < pair.coefficient_count; ++e) {
            const PairCoefficient& x = plan.coefficients[pair.first_coefficient + e];
            for (std::uint64_t fa = 0; fa < s.free_a; ++fa) {
                add_strided(x.value, corner + (fa * s.om_a + x.a) * columns + x.b, s.om_b,
                            out + fa * s.free_b * s.om_c + x.c, s.om_c, s.free_b);
            }
        }
    }
}

// The folded way: folded[(a, k), (fb, c)] = sum_b X[a, b, c] B[k, (fb, b)], then
// result[fa, (fb, c)] += A[fa, (a, k)] * folded.
void finish_folded(const ContractionPlan& plan, const ContractionGroup& group,
                   const GroupLayout& layout, const BlockTensor& a, const BlockTensor& b,
                   BlockTensor& result, const double* left, const RightMatrices& right,
                   std::vector<double>& folded) {
    const std::uint64_t inner = layout.inner;
    for (const ContractedPair& pair : group.pairs) {
        const PairShape s = pair_shape(pair, group, layout, a, b, result);
        const std::uint64_t folded_columns = s.free_b * s.om_c;
        folded.assign(s.om_a * inner * folded_columns, 0.0);
        const double* block_b = right.data(pair.b_slot);
        const std::uint64_t row_step = right.stride(pair.b_slot);
        for (std::uint32_t e = 0; e < pair.coefficient_count; ++e) {
            const PairCoefficient& x = plan.coefficients[pair.first_coefficient + e];
            for (std::uint64_t k = 0; k < inner; ++k) {
                add_strided(x.value, block_b + k * row_step + x.b, s.om_b,
                            folded.data() + (x.a * inner + k) * folded_columns + x.c, s.om_c,
                            s.free_b);
            }
        }
        const std::uint64_t depth = s.om_a * inner;
        add_product(ConstMatrixView(left + layout.row_start[pair.a_slot] * inner, s.free_a,
                                    depth, depth),
                    ConstMatrixView(folded.data(), depth, folded_columns, folded_columns),
                    MatrixView{result.blocks()[pair.result_block].data.data().data(), s.free_a,
                               folded_columns, folded_columns});
    }
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
    const bool b_in_order = std::ranges::equal(order_b, std::views::iota(std::size_t{0},
                                                                         order_b.size()));
    ScratchVector left, right, work;
    GroupLayout layout;
    for (const ContractionGroup& group : (*plan)->groups) {
        if (context.should_stop()) return fail(TavrinError::interrupted());
        layout.lay_out(group, a, b, axes_a);
        const std::uint64_t inner = layout.inner, columns = layout.columns();
        left->resize(layout.rows() * inner);
        for (std::size_t s = 0; s < group.a_blocks.size(); ++s) {
            copy_permuted(a.blocks()[group.a_blocks[s]].data, order_a, split_a,
                          left->data() + layout.row_start[s] * inner, inner);
        }
        const bool folded = folds(group, layout, a, b, result);
        RightMatrices matrices{nullptr, &group, &layout, &b};
        if (!b_in_order || (!folded && group.b_blocks.size() > 1)) {
            right->resize(inner * columns);
            for (std::size_t s = 0; s < group.b_blocks.size(); ++s) {
                copy_permuted(b.blocks()[group.b_blocks[s]].data, order_b, split_b,
                              right->data() + layout.column_start[s], columns);
            }
            matrices.copy = right->data();
        }
        if (folded) {
            finish_folded(**plan, group, layout, a, b, result, left->data(), matrices, *work);
        } else {
            finish_grouped(**plan, group, layout, a, b, result, left->data(), matrices, *work);
        }
    }
    return result;
}

}  // namespace tavrin::blocks
