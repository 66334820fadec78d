// The in-process store of decoded canonical-pattern bases: repeated requests for the same spins
// under the same cache database neither query SQLite nor decode again. One of the process-wide
// stores: bounded in the bytes it holds (keys, bookkeeping and elements), the least recently
// used basis out first; the bases are shared and never modified.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/process_store.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

using SharedBasis = std::shared_ptr<const Tensor>;

inline constexpr const char* kBasisStoreName = "basis_store";
inline constexpr const char* kBasisStoreBytesVariable = "TAVRIN_BASIS_STORE_BYTES";
inline constexpr std::uint64_t kDefaultBasisStoreBytes = std::uint64_t{1} << 30;

class BasisStore {
    struct Key {
        std::string database;
        std::vector<std::int32_t> spins;
    };
    // With the hash of its database, which several lookups under one path share.
    struct KeyView {
        std::string_view database;
        std::span<const std::int32_t> spins;
        std::size_t database_hash;
    };
    static std::size_t database_hash(std::string_view database) noexcept {
        return std::hash<std::string_view>{}(database);
    }
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(const KeyView& key) const noexcept;
        std::size_t operator()(const Key& key) const noexcept {
            return (*this)(KeyView{key.database, key.spins, database_hash(key.database)});
        }
    };
    struct KeyEqual {
        using is_transparent = void;
        static KeyView view(const Key& key) { return {key.database, key.spins, 0}; }
        static KeyView view(const KeyView& key) { return key; }
        template <class L, class R>
        bool operator()(const L& left, const R& right) const {
            const KeyView l = view(left);
            const KeyView r = view(right);
            return l.database == r.database && std::ranges::equal(l.spins, r.spins);
        }
    };
    using Entries = BoundedStore<Key, SharedBasis, KeyHash, KeyEqual>;

public:
    explicit BasisStore(std::uint64_t bound_bytes);

    // The basis kept for the spins under the database path, or null; a hit becomes the most
    // recently used.
    SharedBasis find(std::string_view database, std::span<const std::int32_t> spins);
    // Whether a basis is kept for each list of spins under the database path; if so, each
    // becomes the most recently used in turn and counts a hit, as find would make it. Nothing
    // changes otherwise. At most kMaxTouched lists. `found` (see BoundedStore::touch_all) lets
    // a caller that touches the same bases again skip their lookups.
    using Found = Entries::Found;
    static constexpr std::size_t kMaxTouched = Entries::kMaxTouched;
    bool touch_all(std::string_view database,
                   std::span<const std::span<const std::int32_t>> spin_lists,
                   Found* found = nullptr);
    // Keeps the basis unless it alone exceeds the bound, evicting the least recently used
    // entries until the total fits. An entry already kept for the key is replaced.
    void insert(std::string_view database, std::span<const std::int32_t> spins,
                SharedBasis basis);
    // Whether insert would keep the basis (it fits the bound at all).
    bool has_room_for(const Tensor& basis);
    // Notes a request the store could not answer, and tells whether the same key was noted (or
    // a basis kept for it) before. A noted request costs its key and bookkeeping in the store's
    // bytes and leaves like a basis, the least recently used first.
    bool requested_before(std::string_view database, std::span<const std::int32_t> spins);

    void set_bound(std::uint64_t bytes) { entries_.set_bound(bytes); }
    ProcessStore& process_store() { return entries_; }
    std::uint64_t bytes_held() { return entries_.statistics().bytes; }
    std::size_t size() { return entries_.size(); }

    // The bytes one kept basis costs besides its store entry: the tensor, its shape and elements.
    static std::uint64_t owned_bytes(const Tensor& basis);

private:
    static Key key_of(std::string_view database, std::span<const std::int32_t> spins) {
        return Key{std::string(database), {spins.begin(), spins.end()}};
    }
    static std::uint64_t key_bytes(const Key& key);

    // A null basis marks a request noted by requested_before.
    Entries entries_;
};

// The process-wide store.
BasisStore& process_basis_store();

}  // namespace tavrin
