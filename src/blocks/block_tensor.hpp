// An SU(2)-invariant tensor in reduced form: its legs, and one dense block per tuple of sectors
// whose spins admit an invariant. The dense tensor is the sum over blocks of the block times
// the canonical basis of its spins and the legs' directions:
//   T[(s_0, t_0, m_0), ...] = sum_a block_s[t_0, ..., t_(n-1), a] * B_s[m_0, ..., m_(n-1), a]
// with s the sectors, t the multiplet within a sector and m the magnetic index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "blocks/leg.hpp"
#include "core/error.hpp"
#include "specs/cg_spec.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::blocks {

// Positions of one sector on each leg.
using SectorTuple = std::vector<std::uint32_t>;

// Which blocks the legs' spins admit, in ascending order of their sector tuples, and the OM
// dimension of each. Depends on the spins alone (not on directions or multiplicities).
struct BlockStructure {
    std::vector<SectorTuple> sectors;
    std::vector<std::uint64_t> om_dimensions;
    std::size_t size() const { return sectors.size(); }
};

Result<std::shared_ptr<const BlockStructure>> block_structure(std::span<const Leg> legs);

// The heap memory a structure takes, for the memos that keep one.
std::size_t structure_bytes(const BlockStructure& structure);

struct Block {
    SectorTuple sectors;
    Tensor data;  // [multiplicity of each leg's sector..., OM dimension], row-major
};

class BlockTensor {
public:
    // Every admissible block present, all zeros. InvalidBlockTensor when the tensor would be
    // too large to index.
    static Result<BlockTensor> zeros(std::vector<Leg> legs);
    // Entries drawn from the standard normal distribution, the same for the same seed.
    static Result<BlockTensor> random(std::vector<Leg> legs, std::uint64_t seed);
    // Blocks given for some sector tuples (the rest zeros); each must be admissible, given once
    // and of its block's shape, else InvalidBlockTensor.
    static Result<BlockTensor> from_blocks(std::vector<Leg> legs, std::vector<Block> blocks);
    // Zeros of a structure already worked out for these legs.
    static BlockTensor zeros_of(std::vector<Leg> legs,
                                std::shared_ptr<const BlockStructure> structure);

    const std::vector<Leg>& legs() const { return legs_; }
    std::size_t rank() const { return legs_.size(); }
    const std::vector<Block>& blocks() const { return blocks_; }
    std::vector<Block>& blocks() { return blocks_; }
    const std::shared_ptr<const BlockStructure>& structure() const { return structure_; }

    // The block of a sector tuple, or null when its spins admit no invariant.
    const Block* find(std::span<const std::uint32_t> sectors) const;
    Block* find(std::span<const std::uint32_t> sectors);

    // The doubled spins of a block's sectors, and the edges of its canonical basis.
    std::vector<std::int32_t> spins_of(std::span<const std::uint32_t> sectors) const;
    std::vector<Edge> edges_of(std::span<const std::uint32_t> sectors) const;

    // The number of stored numbers.
    std::uint64_t element_count() const;

private:
    BlockTensor(std::vector<Leg> legs, std::shared_ptr<const BlockStructure> structure,
                std::vector<Block> blocks)
        : legs_(std::move(legs)), structure_(std::move(structure)), blocks_(std::move(blocks)) {}

    std::vector<Leg> legs_;
    std::shared_ptr<const BlockStructure> structure_;
    std::vector<Block> blocks_;
};

// The shape of a block: the multiplicities of its sectors, then its OM dimension.
Shape block_shape(std::span<const Leg> legs, std::span<const std::uint32_t> sectors,
                  std::uint64_t om_dimension);

// The canonical-basis specification of a block.
Result<CGSpec> block_spec(const BlockTensor& tensor, std::span<const std::uint32_t> sectors);

// Same legs and every entry within atol + rtol * |other entry|.
bool all_close(const BlockTensor& a, const BlockTensor& b, double rtol, double atol);

}  // namespace tavrin::blocks
