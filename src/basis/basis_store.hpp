// The in-process store of decoded canonical-pattern bases: repeated requests for the same spins
// under the same cache path neither query SQLite nor decode again. Bounded in bytes, the least
// recently used basis leaves first; the bases are shared and never modified.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tensor/tensor.hpp"

namespace tavrin {

using SharedBasis = std::shared_ptr<const Tensor>;

// Bytes the process store may hold; read afresh at every request, 0 turns the store off.
inline constexpr const char* kBasisStoreBytesVariable = "TAVRIN_BASIS_STORE_BYTES";
inline constexpr std::uint64_t kDefaultBasisStoreBytes = std::uint64_t{1} << 30;

// The capacity for a value of TAVRIN_BASIS_STORE_BYTES, nullptr standing for an unset variable:
// a decimal count of bytes; anything else (empty, signs, suffixes, overflow) gives the default.
std::uint64_t basis_store_capacity_for(const char* variable_value);

class BasisStore {
public:
    explicit BasisStore(std::uint64_t capacity_bytes) : capacity_(capacity_bytes) {}
    BasisStore(const BasisStore&) = delete;
    BasisStore& operator=(const BasisStore&) = delete;

    // The basis kept for the spins under the cache path, or null; a hit becomes the most
    // recently used.
    SharedBasis find(const std::string& cache_path, std::span<const std::int32_t> spins);
    // Keeps the basis unless it alone exceeds the capacity, evicting the least recently used
    // bases until the total fits. An entry already kept for the key is replaced.
    void insert(const std::string& cache_path, std::span<const std::int32_t> spins,
                SharedBasis basis);
    // Whether insert would keep the basis (it fits the capacity at all).
    bool has_room_for(const Tensor& basis) const;
    // Notes a request the store could not answer, and tells whether the same key was noted
    // before. The last kRememberedRequests keys are remembered.
    bool requested_before(const std::string& cache_path, std::span<const std::int32_t> spins);
    static constexpr std::size_t kRememberedRequests = 4096;
    // Shrinking evicts at once; 0 empties the store and keeps nothing afterwards.
    void set_capacity(std::uint64_t capacity_bytes);
    // Sets the capacity from the variable's value (nothing: unset) when it differs from the
    // value last followed, so that a call pays no parsing for an unchanged variable.
    void follow_capacity_variable(const char* value);

    std::uint64_t bytes_held() const;
    std::size_t size() const;

private:
    using Key = std::pair<std::string, std::vector<std::int32_t>>;
    using KeyView = std::pair<std::string_view, std::span<const std::int32_t>>;
    // Orders keys and views alike, so that a lookup needs no copy of the key. Spins first: the
    // keys of one process nearly all share one path, which would be compared in full each time.
    struct KeyOrder {
        using is_transparent = void;
        static KeyView view(const Key& key) { return {key.first, key.second}; }
        static KeyView view(const KeyView& key) { return key; }
        template <class L, class R>
        bool operator()(const L& left, const R& right) const {
            const KeyView l = view(left);
            const KeyView r = view(right);
            if (std::ranges::lexicographical_compare(l.second, r.second)) {
                return true;
            }
            if (std::ranges::lexicographical_compare(r.second, l.second)) {
                return false;
            }
            return l.first < r.first;
        }
    };
    struct Entry {
        Key key;
        SharedBasis basis;
        std::uint64_t bytes;
    };

    void evict_to(std::uint64_t limit);

    mutable std::mutex mutex_;
    std::uint64_t capacity_;
    bool follows_variable_ = false;
    std::optional<std::string> capacity_text_;  // the variable's value followed last
    std::uint64_t held_ = 0;
    std::list<Entry> recency_;  // most recently used first
    std::map<Key, std::list<Entry>::iterator, KeyOrder> index_;
    std::set<Key, KeyOrder> requested_;
    std::deque<std::set<Key, KeyOrder>::iterator> request_order_;  // oldest first
};

// The process-wide store, its capacity set from the environment as it is now.
BasisStore& process_basis_store();

}  // namespace tavrin
