#include "blocks/leg_fusion.hpp"

#include <numeric>
#include <string>

#include "blocks/block_cut.hpp"
#include "blocks/block_permutation.hpp"

namespace tavrin::blocks {

namespace {

Result<Leg> fused_leg(const std::vector<CutSpin>& rows, Direction direction) {
    std::vector<Sector> sectors;
    for (const CutSpin& spin : rows) sectors.push_back({spin.twice_k, spin.size});
    return Leg::create(direction, std::move(sectors));
}

// The order that moves the legs [first, first + count) to the front, and the one that moves
// a leg at the front to `first`.
std::vector<std::size_t> to_front(std::size_t rank, std::size_t first, std::size_t count) {
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), first);
    for (std::size_t k = 0; k < rank; ++k) {
        if (k < first || k >= first + count) order.push_back(k);
    }
    return order;
}

std::vector<std::size_t> from_front(std::size_t rank, std::size_t first, std::size_t count) {
    std::vector<std::size_t> order;
    for (std::size_t k = count; k < count + first; ++k) order.push_back(k);
    for (std::size_t k = 0; k < count; ++k) order.push_back(k);
    for (std::size_t k = count + first; k < rank; ++k) order.push_back(k);
    return order;
}

bool is_identity(const std::vector<std::size_t>& order) {
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (order[k] != k) return false;
    }
    return true;
}

Result<BlockTensor> permuted(BlockTensor tensor, const std::vector<std::size_t>& order,
                             CallContext& context) {
    if (is_identity(order)) return tensor;
    return permute(tensor, order, context);
}

Result<BlockTensor> with_leg_direction(BlockTensor tensor, std::size_t leg,
                                       Direction direction) {
    if (tensor.legs()[leg].direction() == direction) return tensor;
    return flip_leg(tensor, leg);
}

}  // namespace

Result<FusionIsometry> fusion_isometry(std::span<const Leg> legs) {
    auto rows = cut_side(legs, true);
    if (!rows) return fail(std::move(rows.error()));
    auto bond = fused_leg(*rows, Direction::outgoing());
    if (!bond) return fail(std::move(bond.error()));
    std::vector<Matrix> identities;
    for (const CutSpin& spin : *rows) {
        Matrix identity(spin.size, spin.size);
        for (std::size_t i = 0; i < spin.size; ++i) identity(i, i) = 1.0;
        identities.push_back(std::move(identity));
    }
    return FusionIsometry{left_factor(legs, *bond, *rows, identities)};
}

Result<BlockTensor> fuse(const BlockTensor& tensor, std::size_t first, std::size_t count,
                         Direction direction, CallContext& context) {
    const std::size_t n = tensor.rank();
    if (auto checked = check_leg_position("first", first, n); !checked) {
        return fail(std::move(checked.error()));
    }
    if (count == 0 || count > n - first) {
        return fail(TavrinError::invalid_block_tensor(
            "count = " + std::to_string(count) + ": fusing takes one or more of the legs " +
            std::to_string(first) + " ... " + std::to_string(n - 1)));
    }
    auto front = permuted(tensor, to_front(n, first, count), context);
    if (!front) return front;
    if (count == n) {
        return fail(TavrinError::invalid_block_tensor("fusing every leg leaves a single leg"));
    }
    auto form = cut_matrices(*front, count);
    if (!form) return fail(std::move(form.error()));
    auto fused = fused_leg(form->rows, Direction::incoming());
    if (!fused) return fail(std::move(fused.error()));
    std::vector<Leg> legs{*fused};
    legs.insert(legs.end(), front->legs().begin() + static_cast<long>(count),
                front->legs().end());
    // Across the cut after the fused leg the rows are its multiplets: the same matrices.
    auto fused_rows = cut_side(std::span<const Leg>(legs).first(1), true);
    if (!fused_rows) return fail(std::move(fused_rows.error()));
    form->rows = std::move(*fused_rows);
    BlockTensor result = from_cut_matrices(std::move(legs), 1, *form);
    auto back = permuted(std::move(result), from_front(n - count + 1, first, 1), context);
    if (!back) return back;
    return with_leg_direction(std::move(*back), first, direction);
}

Result<BlockTensor> split(const BlockTensor& tensor, std::size_t position,
                          std::vector<Leg> legs, CallContext& context) {
    const std::size_t n = tensor.rank();
    if (auto checked = check_leg_position("position", position, n); !checked) {
        return fail(std::move(checked.error()));
    }
    auto rows = cut_side(legs, true);
    if (!rows) return fail(std::move(rows.error()));
    auto expected = fused_leg(*rows, tensor.legs()[position].direction());
    if (!expected) return fail(std::move(expected.error()));
    if (*expected != tensor.legs()[position]) {
        return fail(TavrinError::invalid_block_tensor(
            "the leg to split is not the fusion of the given legs"));
    }
    if (n < 2) {
        return fail(TavrinError::invalid_block_tensor("splitting needs a second leg"));
    }
    auto incoming = with_leg_direction(tensor, position, Direction::incoming());
    if (!incoming) return incoming;
    auto front = permuted(std::move(*incoming), to_front(n, position, 1), context);
    if (!front) return front;
    auto form = cut_matrices(*front, 1);
    if (!form) return fail(std::move(form.error()));
    form->rows = std::move(*rows);
    const std::size_t count = legs.size();
    legs.insert(legs.end(), front->legs().begin() + 1, front->legs().end());
    BlockTensor result = from_cut_matrices(std::move(legs), count, *form);
    return permuted(std::move(result), from_front(n - 1 + count, position, count), context);
}

}  // namespace tavrin::blocks
