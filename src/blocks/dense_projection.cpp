#include "blocks/dense_projection.hpp"

#include <cstdint>
#include <string>

#include "basis/canonical_basis.hpp"
#include "blocks/matrix.hpp"

namespace tavrin::blocks {

namespace {

Shape dense_shape(const std::vector<Leg>& legs) {
    Shape shape;
    for (const Leg& leg : legs) shape.push_back(leg.dense_dimension());
    return shape;
}

// The basis of a block as a [magnetic states x OM dimension] matrix: the canonical basis for two
// or more legs; the number 1 for a single spin-0 leg or for no leg at all.
Result<Tensor> block_basis(const BlockTensor& tensor, const Block& block, CallContext& context) {
    if (tensor.rank() < 2) return *Tensor::from_row_major({1, 1}, {1.0});
    auto spec = block_spec(tensor, block.sectors);
    if (!spec) return fail(std::move(spec.error()));
    return canonical_basis(*spec, context);
}

// Where a block's entries sit in the dense tensor: the row-major offset of (t, m) is
// multiplet_offsets[t] + magnetic_offsets[m], t and m running row-major over the legs.
struct DensePlacement {
    std::vector<std::uint64_t> multiplet_offsets;
    std::vector<std::uint64_t> magnetic_offsets;
};

DensePlacement placement(const std::vector<Leg>& legs, const SectorTuple& sectors) {
    DensePlacement at{{0}, {0}};
    std::uint64_t stride = 1;
    std::vector<std::uint64_t> strides(legs.size());
    for (std::size_t k = legs.size(); k-- > 0;) {
        strides[k] = stride;
        stride *= legs[k].dense_dimension();
    }
    for (std::size_t k = 0; k < legs.size(); ++k) {
        const std::uint64_t d = static_cast<std::uint64_t>(legs[k].twice_j(sectors[k])) + 1;
        const std::uint64_t start = legs[k].dense_offset(sectors[k]);
        std::vector<std::uint64_t> multiplets, magnetic;
        for (std::uint64_t base : at.multiplet_offsets) {
            for (std::uint64_t t = 0; t < legs[k].multiplicity(sectors[k]); ++t) {
                multiplets.push_back(base + (start + t * d) * strides[k]);
            }
        }
        for (std::uint64_t base : at.magnetic_offsets) {
            for (std::uint64_t m = 0; m < d; ++m) magnetic.push_back(base + m * strides[k]);
        }
        at.multiplet_offsets = std::move(multiplets);
        at.magnetic_offsets = std::move(magnetic);
    }
    return at;
}

}  // namespace

Result<Tensor> to_dense(const BlockTensor& tensor, CallContext& context) {
    Tensor dense = Tensor::zeros(dense_shape(tensor.legs()));
    for (const Block& block : tensor.blocks()) {
        auto basis = block_basis(tensor, block, context);
        if (!basis) return fail(std::move(basis.error()));
        const DensePlacement at = placement(tensor.legs(), block.sectors);
        const std::size_t om = block.data.shape().back();
        Matrix values(at.multiplet_offsets.size(), at.magnetic_offsets.size());
        multiply(ConstMatrixView(block.data.data().data(), values.rows, om, om),
                 ConstMatrixView(basis->data().data(), values.cols, om, om), values.view(), 1.0,
                 0.0, Transpose::No, Transpose::Yes);
        for (std::size_t r = 0; r < values.rows; ++r) {
            for (std::size_t c = 0; c < values.cols; ++c) {
                dense.data()[at.multiplet_offsets[r] + at.magnetic_offsets[c]] += values(r, c);
            }
        }
    }
    return dense;
}

Result<BlockTensor> from_dense(std::vector<Leg> legs, const Tensor& dense,
                               CallContext& context) {
    if (dense.shape() != dense_shape(legs)) {
        return fail(TavrinError::invalid_block_tensor(
            "the dense array's shape is not the legs' dense dimensions"));
    }
    auto tensor = BlockTensor::zeros(std::move(legs), context);
    if (!tensor) return tensor;
    for (Block& block : tensor->blocks()) {
        auto basis = block_basis(*tensor, block, context);
        if (!basis) return fail(std::move(basis.error()));
        const DensePlacement at = placement(tensor->legs(), block.sectors);
        const std::size_t om = block.data.shape().back();
        Matrix values(at.multiplet_offsets.size(), at.magnetic_offsets.size());
        for (std::size_t r = 0; r < values.rows; ++r) {
            for (std::size_t c = 0; c < values.cols; ++c) {
                values(r, c) = dense.data()[at.multiplet_offsets[r] + at.magnetic_offsets[c]];
            }
        }
        multiply(values.view(), ConstMatrixView(basis->data().data(), values.cols, om, om),
                 MatrixView{block.data.data().data(), values.rows, om, om}, 1.0, 0.0);
    }
    return tensor;
}

}  // namespace tavrin::blocks
