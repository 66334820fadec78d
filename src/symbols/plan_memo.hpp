// A process-wide memo of contraction plans: which rows of the bases meet and in what order they
// are summed, keyed by the specifications and the contraction or permutation. A repeated symbol
// then does its multiplications without finding its blocks again. Only structure is kept,
// never a symbol or a basis: every call still fetches its bases and computes its sum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "specs/cg_spec.hpp"

namespace tavrin {

using PlanKey = std::vector<std::int64_t>;

// Appends the edges of a specification: their count, then doubled spin and direction of each.
inline void append_spec_to_key(PlanKey& key, const CGSpec& spec) {
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

// One lock, held only for a lookup or an insertion, never while a plan is made. Bounded in
// bytes, the least recently used plan out first; a plan above an eighth of the bound is not
// kept.
template <class Plan>
class PlanMemo {
public:
    explicit PlanMemo(std::size_t capacity_bytes) : capacity_(capacity_bytes) {}
    PlanMemo(const PlanMemo&) = delete;
    PlanMemo& operator=(const PlanMemo&) = delete;

    std::shared_ptr<const Plan> find(const PlanKey& key) {
        const std::lock_guard guard(lock_);
        const auto found = index_.find(key);
        if (found == index_.end()) return nullptr;
        recency_.splice(recency_.begin(), recency_, found->second);
        return found->second->plan;
    }

    // A plan made by another thread meanwhile stays; this one, identical, is dropped.
    void insert(const PlanKey& key, std::shared_ptr<const Plan> plan, std::size_t bytes) {
        bytes += 2 * key.size() * sizeof(std::int64_t) + kEntryOverhead;
        if (bytes > capacity_ / 8) return;
        const std::lock_guard guard(lock_);
        if (index_.contains(key)) return;
        while (held_ + bytes > capacity_ && !recency_.empty()) {
            held_ -= recency_.back().bytes;
            index_.erase(recency_.back().key);
            recency_.pop_back();
        }
        recency_.push_front(Entry{key, std::move(plan), bytes});
        index_.emplace(key, recency_.begin());
        held_ += bytes;
    }

    std::size_t size() {
        const std::lock_guard guard(lock_);
        return index_.size();
    }

private:
    static constexpr std::size_t kEntryOverhead = 128;
    struct Entry {
        PlanKey key;
        std::shared_ptr<const Plan> plan;
        std::size_t bytes;
    };
    std::mutex lock_;
    std::size_t capacity_;
    std::size_t held_ = 0;
    std::list<Entry> recency_;  // most recently used first
    std::unordered_map<PlanKey, typename std::list<Entry>::iterator, PlanKeyHash> index_;
};

// The bound of each kind of plan memo.
inline constexpr std::size_t kPlanMemoBytes = std::size_t{64} << 20;

// What a repeated symbol needs besides its bases: the CGSpec it derives (C, or the
// permuted one) and the plan of its sum.
template <class Blocks>
struct SymbolPlan {
    CGSpec derived_spec;
    std::shared_ptr<const Blocks> blocks;
};

// The process's memo of one kind of symbol plan. Never destroyed: threads may still use it
// while the process ends.
template <class Blocks>
PlanMemo<SymbolPlan<Blocks>>& symbol_plans() {
    static auto* const memo = new PlanMemo<SymbolPlan<Blocks>>(kPlanMemoBytes);
    return *memo;
}

}  // namespace tavrin
