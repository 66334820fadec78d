#include "blocks/block_tensor.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <random>
#include <string>
#include <utility>

#include "coupling/om_configurations.hpp"
#include "support/physical_memory.hpp"
#include "support/process_store.hpp"

namespace tavrin::blocks {

namespace {

// Tuples of sectors visited by a tensor's structure: more would not fit in memory anyway.
constexpr std::uint64_t kMaxSectorTuples = std::uint64_t{1} << 24;
// About a millisecond of visiting tuples, or of drawing entries, between asking to stop.
constexpr std::uint64_t kTuplesBetweenStopChecks = 256;
constexpr std::uint64_t kEntriesBetweenStopChecks = std::uint64_t{1} << 16;

// Numbers as a Python tuple shows them.
template <class Number>
std::string tuple_text(const std::vector<Number>& numbers) {
    std::string text = "(";
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        text += (k > 0 ? ", " : "") + std::to_string(numbers[k]);
    }
    return text + (numbers.size() == 1 ? ",)" : ")");
}

// Throws std::bad_alloc unless the blocks of the structure fit in physical memory.
void check_fits_in_memory(std::span<const Leg> legs, const BlockStructure& structure) {
    const std::uint64_t limit = physical_memory_bytes() / sizeof(double);
    std::uint64_t total = 0;
    for (std::size_t b = 0; b < structure.size(); ++b) {
        std::uint64_t elements = structure.om_dimensions[b];
        for (std::size_t k = 0; k < legs.size(); ++k) {
            if (__builtin_mul_overflow(elements, legs[k].multiplicity(structure.sectors[b][k]),
                                       &elements)) {
                throw std::bad_alloc();
            }
        }
        if (__builtin_add_overflow(total, elements, &total) || total > limit) {
            throw std::bad_alloc();
        }
    }
}

// A sector of each leg, given by its position on the leg.
bool names_sectors_of(std::span<const Leg> legs, std::span<const std::uint32_t> sectors) {
    if (sectors.size() != legs.size()) return false;
    for (std::size_t k = 0; k < legs.size(); ++k) {
        if (sectors[k] >= legs[k].sector_count()) return false;
    }
    return true;
}

}  // namespace

Status check_leg_position(const char* name, std::size_t position, std::size_t rank) {
    if (position < rank) return {};
    const std::string legs = rank == 0   ? "no legs"
                             : rank == 1 ? "leg 0"
                                         : "legs 0 ... " + std::to_string(rank - 1);
    return fail(TavrinError::invalid_block_tensor(
        std::string(name) + " = " + std::to_string(position) + ": a tensor of " +
        std::to_string(rank) + (rank == 1 ? " leg has " : " legs has ") + legs));
}

Result<std::shared_ptr<const BlockStructure>> block_structure(std::span<const Leg> legs,
                                                              CallContext& context) {
    if (legs.size() > kMaxLegs) {
        return fail(TavrinError::invalid_block_tensor(
            "a tensor has at most " + std::to_string(kMaxLegs) +
            " legs (its blocks have an axis more, and NumPy arrays at most " +
            std::to_string(kMaxLegs + 1) + "); got " + std::to_string(legs.size())));
    }
    std::uint64_t tuples = 1;
    for (const Leg& leg : legs) {
        tuples *= leg.sector_count();
        if (tuples > kMaxSectorTuples) {
            return fail(TavrinError::invalid_block_tensor(
                "the legs' sectors form more than 2^24 tuples"));
        }
    }
    auto structure = std::make_shared<BlockStructure>();
    if (tuples == 0) return std::shared_ptr<const BlockStructure>(std::move(structure));
    const std::size_t n = legs.size();
    SectorTuple tuple(n, 0);
    std::vector<std::int32_t> spins(n);
    for (std::uint64_t visited = 0; visited < tuples; ++visited) {
        if (visited % kTuplesBetweenStopChecks == 0 && context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        for (std::size_t k = 0; k < n; ++k) spins[k] = legs[k].twice_j(tuple[k]);
        if (admits_invariant(spins)) {
            const auto count = count_invariants(spins);
            if (!count) {
                return fail(TavrinError::invalid_block_tensor(
                    "a block has more OM configurations than can be counted"));
            }
            structure->sectors.push_back(tuple);
            structure->om_dimensions.push_back(*count);
        }
        for (std::size_t k = n; k-- > 0;) {  // the last leg fastest
            if (++tuple[k] < legs[k].sector_count()) break;
            tuple[k] = 0;
        }
    }
    return std::shared_ptr<const BlockStructure>(std::move(structure));
}

namespace {

bool tuple_less(const SectorTuple& a, std::span<const std::uint32_t> b) {
    return std::ranges::lexicographical_compare(a, b);
}

}  // namespace

std::size_t structure_bytes(const BlockStructure& structure) {
    std::size_t total = heap_block_bytes(2 * sizeof(void*) + sizeof(BlockStructure)) +
                        heap_block_bytes(structure.sectors.capacity() * sizeof(SectorTuple)) +
                        heap_block_bytes(structure.om_dimensions.capacity() *
                                         sizeof(std::uint64_t));
    for (const SectorTuple& tuple : structure.sectors) {
        total += heap_block_bytes(tuple.capacity() * sizeof(std::uint32_t));
    }
    return total;
}

Shape block_shape(std::span<const Leg> legs, std::span<const std::uint32_t> sectors,
                  std::uint64_t om_dimension) {
    Shape shape;
    shape.reserve(legs.size() + 1);
    for (std::size_t k = 0; k < legs.size(); ++k) shape.push_back(legs[k].multiplicity(sectors[k]));
    shape.push_back(om_dimension);
    return shape;
}

BlockTensor BlockTensor::zeros_of(std::vector<Leg> legs,
                                  std::shared_ptr<const BlockStructure> structure) {
    check_fits_in_memory(legs, *structure);
    std::vector<Block> blocks;
    blocks.reserve(structure->size());
    for (std::size_t b = 0; b < structure->size(); ++b) {
        const SectorTuple& sectors = structure->sectors[b];
        blocks.push_back(
            {sectors, Tensor::zeros(block_shape(legs, sectors, structure->om_dimensions[b]))});
    }
    return BlockTensor(std::move(legs), std::move(structure), std::move(blocks));
}

Result<BlockTensor> BlockTensor::zeros(std::vector<Leg> legs, CallContext& context) {
    auto structure = block_structure(legs, context);
    if (!structure) return fail(std::move(structure.error()));
    return zeros_of(std::move(legs), std::move(*structure));
}

Result<BlockTensor> BlockTensor::zeros(std::vector<Leg> legs) {
    CallContext runs_to_the_end;
    return zeros(std::move(legs), runs_to_the_end);
}

Result<BlockTensor> BlockTensor::random(std::vector<Leg> legs, std::uint64_t seed,
                                        CallContext& context) {
    auto tensor = zeros(std::move(legs), context);
    if (!tensor) return tensor;
    std::mt19937_64 engine(seed);
    std::normal_distribution<double> normal;
    std::uint64_t drawn = 0;
    for (Block& block : tensor->blocks_) {
        for (double& x : block.data.data()) {
            if (drawn++ % kEntriesBetweenStopChecks == 0 && context.should_stop()) {
                return fail(TavrinError::interrupted());
            }
            x = normal(engine);
        }
    }
    return tensor;
}

Result<BlockTensor> BlockTensor::random(std::vector<Leg> legs, std::uint64_t seed) {
    CallContext runs_to_the_end;
    return random(std::move(legs), seed, runs_to_the_end);
}

Result<BlockTensor> BlockTensor::from_blocks(std::vector<Leg> legs, std::vector<Block> blocks,
                                             CallContext& context) {
    auto tensor = zeros(std::move(legs), context);
    if (!tensor) return tensor;
    std::vector<bool> given(tensor->blocks_.size(), false);
    for (Block& block : blocks) {
        if (!names_sectors_of(tensor->legs_, block.sectors)) {
            return fail(TavrinError::invalid_block_tensor(
                "a block names a sector for each leg, one the leg has"));
        }
        const std::string name = "blocks[" + tuple_text(tensor->spins_of(block.sectors)) + "]";
        Block* target = tensor->find(block.sectors);
        if (target == nullptr) {
            return fail(TavrinError::invalid_block_tensor(
                name + ": the legs admit no block of these spins (they couple to no invariant)"));
        }
        const auto index = static_cast<std::size_t>(target - tensor->blocks_.data());
        if (given[index]) {
            return fail(TavrinError::invalid_block_tensor(name + " is given twice"));
        }
        if (block.data.shape() != target->data.shape()) {
            return fail(TavrinError::invalid_block_tensor(
                name + " has shape " + tuple_text(block.data.shape()) + ", expected " +
                tuple_text(target->data.shape()) +
                " (the multiplicities of its sectors, then its OM dimension)"));
        }
        given[index] = true;
        target->data = std::move(block.data);
    }
    return tensor;
}

Result<BlockTensor> BlockTensor::from_blocks(std::vector<Leg> legs, std::vector<Block> blocks) {
    CallContext runs_to_the_end;
    return from_blocks(std::move(legs), std::move(blocks), runs_to_the_end);
}

const Block* BlockTensor::find(std::span<const std::uint32_t> sectors) const {
    const auto at = std::lower_bound(blocks_.begin(), blocks_.end(), sectors,
                                     [](const Block& block, std::span<const std::uint32_t> key) {
                                         return tuple_less(block.sectors, key);
                                     });
    if (at == blocks_.end() || !std::ranges::equal(at->sectors, sectors)) return nullptr;
    return &*at;
}

Block* BlockTensor::find(std::span<const std::uint32_t> sectors) {
    return const_cast<Block*>(std::as_const(*this).find(sectors));
}

std::vector<std::int32_t> BlockTensor::spins_of(std::span<const std::uint32_t> sectors) const {
    std::vector<std::int32_t> spins(legs_.size());
    for (std::size_t k = 0; k < legs_.size(); ++k) spins[k] = legs_[k].twice_j(sectors[k]);
    return spins;
}

std::vector<Edge> BlockTensor::edges_of(std::span<const std::uint32_t> sectors) const {
    std::vector<Edge> edges;
    edges.reserve(legs_.size());
    for (std::size_t k = 0; k < legs_.size(); ++k) {
        edges.push_back({*Spin::create(legs_[k].twice_j(sectors[k])), legs_[k].direction()});
    }
    return edges;
}

std::uint64_t BlockTensor::element_count() const {
    std::uint64_t count = 0;
    for (const Block& block : blocks_) count += block.data.size();
    return count;
}

Result<CGSpec> block_spec(const BlockTensor& tensor, std::span<const std::uint32_t> sectors) {
    return CGSpec::from_edges(tensor.edges_of(sectors));
}

bool all_close(const BlockTensor& a, const BlockTensor& b, double rtol, double atol) {
    if (a.legs() != b.legs()) return false;
    for (std::size_t i = 0; i < a.blocks().size(); ++i) {
        const auto x = a.blocks()[i].data.data();
        const auto y = b.blocks()[i].data.data();
        for (std::size_t e = 0; e < x.size(); ++e) {
            if (!(std::abs(x[e] - y[e]) <= atol + rtol * std::abs(y[e]))) return false;
        }
    }
    return true;
}

}  // namespace tavrin::blocks
