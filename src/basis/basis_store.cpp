#include "basis/basis_store.hpp"

#include <algorithm>
#include <array>
#include <functional>

namespace tavrin {

std::size_t BasisStore::KeyHash::operator()(const KeyView& key) const noexcept {
    std::uint64_t h = key.database_hash;
    for (const std::int32_t spin : key.spins) {
        h = (h ^ static_cast<std::uint32_t>(spin)) * 0x100000001b3ULL;  // FNV-1a step
    }
    return static_cast<std::size_t>(h ^ (h >> 32));
}

BasisStore::BasisStore(std::uint64_t bound_bytes)
    : entries_(kBasisStoreName, kBasisStoreBytesVariable, kDefaultBasisStoreBytes) {
    entries_.set_bound(bound_bytes);
}

std::uint64_t BasisStore::owned_bytes(const Tensor& basis) {
    // make_shared: one block for the control block and the tensor.
    return heap_block_bytes(2 * sizeof(void*) + sizeof(Tensor)) +
           heap_block_bytes(basis.shape().capacity() * sizeof(std::uint64_t)) +
           heap_block_bytes(basis.size() * sizeof(double));
}

std::uint64_t BasisStore::key_bytes(const Key& key) {
    // Strings of up to 15 characters live inside the string object.
    const std::uint64_t text = key.database.capacity() > 15
                                   ? heap_block_bytes(key.database.capacity() + 1)
                                   : 0;
    return text + heap_block_bytes(key.spins.capacity() * sizeof(std::int32_t));
}

SharedBasis BasisStore::find(std::string_view database, std::span<const std::int32_t> spins) {
    auto kept = entries_.find(KeyView{database, spins, database_hash(database)},
                              [](const SharedBasis& basis) { return basis != nullptr; });
    return kept ? *kept : nullptr;
}

bool BasisStore::touch_all(std::string_view database,
                           std::span<const std::span<const std::int32_t>> spin_lists,
                           Found* found) {
    std::array<KeyView, kMaxTouched> keys;
    if (spin_lists.size() > keys.size()) return false;
    const std::size_t hash = database_hash(database);
    for (std::size_t k = 0; k < spin_lists.size(); ++k) {
        keys[k] = KeyView{database, spin_lists[k], hash};
    }
    return entries_.touch_all(std::span<const KeyView>(keys.data(), spin_lists.size()),
                              [](const SharedBasis& basis) { return basis != nullptr; }, found);
}

void BasisStore::insert(std::string_view database, std::span<const std::int32_t> spins,
                        SharedBasis basis) {
    Key key = key_of(database, spins);
    const std::uint64_t bytes = key_bytes(key) + owned_bytes(*basis);
    entries_.insert(std::move(key), std::move(basis), bytes);
}

bool BasisStore::has_room_for(const Tensor& basis) {
    return owned_bytes(basis) <= entries_.statistics().bound;
}

bool BasisStore::requested_before(std::string_view database,
                                  std::span<const std::int32_t> spins) {
    Key key = key_of(database, spins);
    const std::uint64_t bytes = key_bytes(key);
    return !entries_.insert_if_absent(std::move(key), nullptr, bytes);
}

BasisStore& process_basis_store() {
    // Never destroyed: bases may still be handed out while the process ends.
    static BasisStore* const store = new BasisStore(kDefaultBasisStoreBytes);
    return *store;
}

namespace {
// Made with the library, so that the store is listed before its first use.
[[maybe_unused]] const bool made_at_start = (process_basis_store(), true);
}  // namespace

}  // namespace tavrin
