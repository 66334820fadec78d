#include "basis/basis_store.hpp"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin {

namespace {

std::uint64_t bytes_of(const Tensor& basis) { return basis.size() * sizeof(double); }

}  // namespace

std::uint64_t basis_store_capacity_for(const char* variable_value) {
    if (variable_value == nullptr || *variable_value == '\0') {
        return kDefaultBasisStoreBytes;
    }
    const char* end = variable_value + std::strlen(variable_value);
    std::uint64_t bytes = 0;
    const auto [stop, error] = std::from_chars(variable_value, end, bytes);
    if (error != std::errc{} || stop != end) {
        return kDefaultBasisStoreBytes;
    }
    return bytes;
}

SharedBasis BasisStore::find(const std::string& cache_path, std::span<const std::int32_t> spins) {
    const std::lock_guard lock(mutex_);
    const auto found = index_.find(KeyView{cache_path, spins});
    if (found == index_.end()) {
        return nullptr;
    }
    recency_.splice(recency_.begin(), recency_, found->second);
    return found->second->basis;
}

void BasisStore::insert(const std::string& cache_path, std::span<const std::int32_t> spins,
                        SharedBasis basis) {
    const std::uint64_t bytes = bytes_of(*basis);
    Key key{cache_path, {spins.begin(), spins.end()}};
    const std::lock_guard lock(mutex_);
    if (const auto found = index_.find(key); found != index_.end()) {
        held_ -= found->second->bytes;
        recency_.erase(found->second);
        index_.erase(found);
    }
    if (bytes > capacity_ || capacity_ == 0) {
        return;
    }
    evict_to(capacity_ - bytes);
    recency_.push_front(Entry{key, std::move(basis), bytes});
    index_.emplace(std::move(key), recency_.begin());
    held_ += bytes;
}

bool BasisStore::has_room_for(const Tensor& basis) const {
    const std::lock_guard lock(mutex_);
    return bytes_of(basis) <= capacity_;
}

bool BasisStore::requested_before(const std::string& cache_path,
                                  std::span<const std::int32_t> spins) {
    const std::lock_guard lock(mutex_);
    if (requested_.contains(KeyView{cache_path, spins})) {
        return true;
    }
    if (request_order_.size() == kRememberedRequests) {
        requested_.erase(request_order_.front());
        request_order_.pop_front();
    }
    request_order_.push_back(
        requested_.insert(Key{cache_path, {spins.begin(), spins.end()}}).first);
    return false;
}

void BasisStore::set_capacity(std::uint64_t capacity_bytes) {
    const std::lock_guard lock(mutex_);
    capacity_ = capacity_bytes;
    follows_variable_ = false;
    evict_to(capacity_);
}

std::uint64_t BasisStore::bytes_held() const {
    const std::lock_guard lock(mutex_);
    return held_;
}

std::size_t BasisStore::size() const {
    const std::lock_guard lock(mutex_);
    return index_.size();
}

void BasisStore::evict_to(std::uint64_t limit) {
    while (held_ > limit) {
        const Entry& oldest = recency_.back();
        held_ -= oldest.bytes;
        index_.erase(oldest.key);
        recency_.pop_back();
    }
}

void BasisStore::follow_capacity_variable(const char* value) {
    const std::lock_guard lock(mutex_);
    if (follows_variable_ &&
        (value == nullptr ? !capacity_text_ : capacity_text_ == std::string_view(value))) {
        return;
    }
    capacity_ = basis_store_capacity_for(value);
    capacity_text_ = value == nullptr ? std::nullopt : std::optional<std::string>(value);
    follows_variable_ = true;
    evict_to(capacity_);
}

BasisStore& process_basis_store() {
    // Never destroyed: bases may still be handed out while the process ends.
    static BasisStore* const store = new BasisStore(kDefaultBasisStoreBytes);
    store->follow_capacity_variable(std::getenv(kBasisStoreBytesVariable));
    return *store;
}

}  // namespace tavrin
