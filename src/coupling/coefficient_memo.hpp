// A process-wide memo of coefficients keyed by their doubled quantum numbers in argument order
// (six, or nine for the 9j symbol).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace tavrin {

template <std::size_t N>
using CoefficientKeyOf = std::array<std::int32_t, N>;
using CoefficientKey = CoefficientKeyOf<6>;

struct CoefficientKeyHash {
    template <std::size_t N>
    std::size_t operator()(const CoefficientKeyOf<N>& key) const noexcept {
        std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a over the values
        for (std::int32_t v : key) {
            h ^= static_cast<std::uint32_t>(v);
            h *= 0x100000001b3ULL;
        }
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

// One lock, held only for a lookup or an insertion, never while a value is computed. Inserting
// past `capacity` entries is skipped (the value is then computed again when asked for again).
template <std::size_t N>
class BasicCoefficientMemo {
public:
    using Key = CoefficientKeyOf<N>;

    explicit BasicCoefficientMemo(
        std::size_t capacity = std::numeric_limits<std::size_t>::max())
        : capacity_(capacity) {}

    std::optional<double> find(const Key& key) {
        const std::lock_guard guard(lock_);
        if (auto it = values_.find(key); it != values_.end()) return it->second;
        return std::nullopt;
    }
    // A value computed by another thread meanwhile is replaced by this one, which is identical.
    void insert(const Key& key, double value) {
        const std::lock_guard guard(lock_);
        if (values_.size() < capacity_) values_.insert_or_assign(key, value);
    }
    std::size_t size() {
        const std::lock_guard guard(lock_);
        return values_.size();
    }

private:
    std::mutex lock_;
    std::unordered_map<Key, double, CoefficientKeyHash> values_;
    std::size_t capacity_;
};

using CoefficientMemo = BasicCoefficientMemo<6>;
using NineJMemo = BasicCoefficientMemo<9>;

}  // namespace tavrin
