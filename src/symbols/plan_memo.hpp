// A process-wide memo of contraction plans: which rows of the bases meet and in what order they
// are summed, keyed by the specifications and the contraction or permutation. A repeated symbol
// then does its multiplications without finding its blocks again. Only structure is kept,
// never a symbol or a basis: every call still fetches its bases and computes its sum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "specs/cg_spec.hpp"
#include "support/process_store.hpp"

namespace tavrin {

using PlanKey = std::vector<std::int64_t>;

// Appends the edges of a specification: their count, then doubled spin and direction of each.
template <class Key>
void append_spec_to_key(Key& key, const CGSpec& spec) {
    key.push_back(static_cast<std::int64_t>(spec.num_external()));
    for (const Edge& edge : spec.edges()) {
        key.push_back(2 * std::int64_t{edge.j.twice()} + (edge.is_incoming() ? 1 : 0));
    }
}

struct PlanKeyHash {
    std::size_t operator()(const PlanKey& key) const noexcept {
        std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a over the values
        for (const std::int64_t v : key) {
            h ^= static_cast<std::uint64_t>(v);
            h *= 0x100000001b3ULL;
        }
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

// What a repeated symbol needs besides its bases: the CGSpec it derives (C, or the
// permuted one) and the plan of its sum.
template <class Blocks>
struct SymbolPlan {
    CGSpec derived_spec;
    std::shared_ptr<const Blocks> blocks;
};

// The bytes a plan costs besides its store entry: its key's, the plan's and its spec's.
template <class Blocks>
std::uint64_t plan_owned_bytes(const PlanKey& key, const CGSpec& derived_spec,
                               std::size_t blocks_bytes) {
    return heap_block_bytes(key.capacity() * sizeof(std::int64_t)) +
           heap_block_bytes(2 * sizeof(void*) + sizeof(SymbolPlan<Blocks>)) +
           heap_block_bytes(2 * sizeof(void*) + blocks_bytes) + derived_spec.heap_bytes();
}

// The process's memo of one kind of symbol plan, one of the process-wide stores: its lock is
// held only for a lookup or an insertion, never while a plan is made; a plan above an eighth
// of the bound is not kept. Never destroyed: threads may still use it while the process ends.
template <class Blocks>
using PlanStore = BoundedStore<PlanKey, std::shared_ptr<const SymbolPlan<Blocks>>, PlanKeyHash>;
template <class Blocks>
PlanStore<Blocks>& symbol_plans();

// The bound of each kind of plan memo.
inline constexpr std::uint64_t kDefaultPlanMemoBytes = std::uint64_t{64} << 20;
inline constexpr std::uint64_t kLargestPlanShare = 8;

}  // namespace tavrin
