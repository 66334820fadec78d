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
#include "core/call_context.hpp"
#include "core/error.hpp"
#include "specs/cg_spec.hpp"
#include "tensor/tensor.hpp"

namespace tavrin::blocks {

// Positions of one sector on each leg.
using SectorTuple = std::vector<std::uint32_t>;

// The most legs a tensor has: its blocks have an axis more, and NumPy arrays at most 32.
constexpr std::size_t kMaxLegs = 31;

// Which blocks the legs' spins admit, in ascending order of their sector tuples, and the OM
// dimension of each. Depends on the spins alone (not on directions or multiplicities).
struct BlockStructure {
    std::vector<SectorTuple> sectors;
    std::vector<std::uint64_t> om_dimensions;
    std::size_t size() const { return sectors.size(); }
};

// InvalidBlockTensor for more than kMaxLegs legs or 2^24 tuples of sectors; Interrupted when the
// context asks to stop.
Result<std::shared_ptr<const BlockStructure>> block_structure(std::span<const Leg> legs,
                                                              CallContext& context);

// InvalidBlockTensor "{name} = {position}: a tensor of {rank} legs has legs 0 ... {rank - 1}"
// unless position < rank.
Status check_leg_position(const char* name, std::size_t position, std::size_t rank);

// The heap memory a structure takes, for the memos that keep one.
std::size_t structure_bytes(const BlockStructure& structure);

struct Block {
    SectorTuple sectors;
    Tensor data;  // [multiplicity of each leg's sector..., OM dimension], row-major
};

class BlockTensor {
public:
    // Every admissible block present, all zeros. Errors of block_structure; std::bad_alloc
    // when the blocks would not fit in physical memory (nothing is allocated then). Without a
    // context the call runs to its end.
    static Result<BlockTensor> zeros(std::vector<Leg> legs, CallContext& context);
    static Result<BlockTensor> zeros(std::vector<Leg> legs);
    // Entries drawn from the standard normal distribution, the same for the same seed.
    static Result<BlockTensor> random(std::vector<Leg> legs, std::uint64_t seed,
                                      CallContext& context);
    static Result<BlockTensor> random(std::vector<Leg> legs, std::uint64_t seed);
    // Blocks given for some sector tuples (the rest zeros); each must be admissible, given once
    // and of its block's shape, else InvalidBlockTensor naming the block by its spins.
    static Result<BlockTensor> from_blocks(std::vector<Leg> legs, std::vector<Block> blocks,
                                           CallContext& context);
    static Result<BlockTensor> from_blocks(std::vector<Leg> legs, std::vector<Block> blocks);
    // Zeros of a structure already worked out for these legs; std::bad_alloc as for zeros.
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
