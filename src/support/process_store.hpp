// Process-wide memos: each has its own lock, a bound on the bytes it really holds (the least
// recently used entry out first), hit and miss counters, can be emptied and rebounded, and is
// safe across fork(). Every store is known by name, so that callers can list and steer them all.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/process_mutex.hpp"

namespace tavrin {

struct StoreStatistics {
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
    std::uint64_t bytes = 0;  // held now
    std::uint64_t bound = 0;
    friend bool operator==(const StoreStatistics&, const StoreStatistics&) = default;
};

// What the system's allocator takes for a block of `requested` bytes (glibc: 8 bytes of header,
// 16-byte granules, 32 at least); 0 for none.
constexpr std::uint64_t heap_block_bytes(std::uint64_t requested) {
    if (requested == 0) return 0;
    const std::uint64_t with_header = requested + 8;
    return with_header <= 32 ? 32 : (with_header + 15) / 16 * 16;
}

// The bound a variable's text gives: a decimal count of bytes; anything else (nothing, empty,
// signs, suffixes, overflow) gives `default_bound`.
std::uint64_t bound_from_text(std::optional<std::string_view> text, std::uint64_t default_bound);

// What every store shows and lets do, whatever it keeps.
class ProcessStore {
public:
    // `bound_variable`: the environment variable the caller's boundary follows for the bound.
    ProcessStore(std::string name, std::string bound_variable, std::uint64_t default_bound);
    virtual ~ProcessStore();
    ProcessStore(const ProcessStore&) = delete;
    ProcessStore& operator=(const ProcessStore&) = delete;

    const std::string& name() const { return name_; }
    const std::string& bound_variable() const { return bound_variable_; }
    std::uint64_t default_bound() const { return default_bound_; }

    virtual StoreStatistics statistics() = 0;
    // Empties the store and resets its counters.
    virtual void clear() = 0;
    // A smaller bound evicts at once; 0 empties the store and keeps nothing afterwards.
    virtual void set_bound(std::uint64_t bytes) = 0;
    // Sets the bound from the variable's text (nothing: unset) when the text differs from the
    // one followed last, so that an unchanged variable leaves a bound set by set_bound alone.
    virtual void follow_bound_variable(std::optional<std::string_view> text) = 0;

private:
    std::string name_;
    std::string bound_variable_;
    std::uint64_t default_bound_;
};

// Every store made so far, in the order they were made. Stores are never destroyed but in
// tests, which must not list them meanwhile.
std::vector<ProcessStore*> process_stores();
ProcessStore* find_process_store(std::string_view name);

// A bounded map from Key to Value, the least recently used entry evicted first. Values are
// handed out by copy (a shared pointer for anything large). Lookups may use any type the hash
// and the equality take (both transparent), so that finding needs no copy of the key.
template <class Key, class Value, class Hash, class Equal = std::equal_to<>>
class BoundedStore final : public ProcessStore {
    struct Slot;

public:
    // An entry is kept only while its bytes stay within bound / `largest_share`.
    BoundedStore(std::string name, std::string bound_variable, std::uint64_t default_bound,
                 std::uint64_t largest_share = 1)
        : ProcessStore(std::move(name), std::move(bound_variable), default_bound),
          bound_(default_bound),
          largest_share_(largest_share) {}

    // The value kept for the key, which becomes the most recently used. A hit or a miss is
    // counted unless `counts` says the value is only a placeholder (counted a miss then).
    template <class K, class Counts>
    std::optional<Value> find(const K& key, Counts&& counts) {
        const std::lock_guard guard(mutex_);
        const auto found = entries_.find(key);
        if (found == entries_.end()) {
            ++misses_;
            return std::nullopt;
        }
        Slot& slot = found->second;
        make_newest(slot);
        ++(counts(slot.value) ? hits_ : misses_);
        return slot.value;
    }
    template <class K>
    std::optional<Value> find(const K& key) {
        return find(key, [](const Value&) { return true; });
    }

    // Finds every key in turn, as find would, when each is kept with a value `counts` takes
    // for a hit; otherwise nothing changes and nothing is counted. True when all were found.
    // For a caller that needs only the effects of the lookups, not the values. At most
    // kMaxTouched keys.
    //
    // `found`, when given, remembers where the entries are, so that the next touch_all with
    // the same keys and the same `found` goes straight to them (their keys compared, no hash
    // or bucket) while no entry has left the store. It is read and written only under the
    // store's lock: several threads may share one.
    static constexpr std::size_t kMaxTouched = 4;
    class Found {
        friend class BoundedStore;
        std::uint64_t departures_ = ~std::uint64_t{0};
        std::array<Slot*, kMaxTouched> slots_{};
        std::size_t count_ = 0;
    };
    template <class K, class Counts>
    bool touch_all(std::span<const K> keys, Counts&& counts, Found* found = nullptr) {
        if (keys.size() > kMaxTouched) return false;
        const std::lock_guard guard(mutex_);
        Found here;
        if (found == nullptr || !still_there(*found, keys, counts)) {
            for (std::size_t k = 0; k < keys.size(); ++k) {
                const auto at = entries_.find(keys[k]);
                if (at == entries_.end() || !counts(at->second.value)) return false;
                here.slots_[k] = &at->second;
            }
            here.departures_ = departures_;
            here.count_ = keys.size();
            if (found != nullptr) *found = here;
        }
        const Found& slots = found != nullptr ? *found : here;
        for (std::size_t k = 0; k < keys.size(); ++k) make_newest(*slots.slots_[k]);
        hits_ += keys.size();
        return true;
    }

    // Keeps the value under the key (replacing one kept before), evicting the least recently
    // used entries until everything fits. `owned_bytes`: the memory key and value own outside
    // themselves (heap blocks of strings, vectors, shared objects). False when not kept.
    bool insert(Key key, Value value, std::uint64_t owned_bytes) {
        const std::lock_guard guard(mutex_);
        if (const auto found = entries_.find(key); found != entries_.end()) erase(found);
        return insert_locked(std::move(key), std::move(value), owned_bytes);
    }
    // The same, but only when nothing is kept for the key yet (nothing changes then, and
    // nothing is counted). True when the value was kept.
    bool insert_if_absent(Key key, Value value, std::uint64_t owned_bytes) {
        const std::lock_guard guard(mutex_);
        if (entries_.contains(key)) return false;
        return insert_locked(std::move(key), std::move(value), owned_bytes);
    }

    // Whether insert would keep an entry owning that many bytes now (whatever it must evict).
    bool has_room_for(std::uint64_t owned_bytes) {
        const std::lock_guard guard(mutex_);
        return fits(kEntryBytes + owned_bytes);
    }

    std::size_t size() {
        const std::lock_guard guard(mutex_);
        return entries_.size();
    }

    StoreStatistics statistics() override {
        const std::lock_guard guard(mutex_);
        return {hits_, misses_, held_bytes(), bound_};
    }
    void clear() override {
        const std::lock_guard guard(mutex_);
        empty();
        hits_ = misses_ = 0;
    }
    void set_bound(std::uint64_t bytes) override {
        const std::lock_guard guard(mutex_);
        set_bound_locked(bytes);
    }
    void follow_bound_variable(std::optional<std::string_view> text) override {
        const std::lock_guard guard(mutex_);
        if (followed_ && *followed_ == text) return;
        followed_.emplace(text ? std::optional<std::string>(*text) : std::nullopt);
        set_bound_locked(bound_from_text(text, default_bound()));
    }

private:
    template <class K, class Counts>
    bool still_there(const Found& found, std::span<const K> keys, Counts& counts) const {
        if (found.departures_ != departures_ || found.count_ != keys.size()) return false;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const Slot& slot = *found.slots_[k];
            if (!Equal{}(*slot.key, keys[k]) || !counts(slot.value)) return false;
        }
        return true;
    }

    struct Slot {
        Slot(Value v, std::uint64_t b) : value(std::move(v)), bytes(b) {}
        Value value;
        std::uint64_t bytes;
        const Key* key = nullptr;
        Slot* newer = nullptr;
        Slot* older = nullptr;
    };
    using Map = std::unordered_map<Key, Slot, Hash, Equal>;
    // One node per entry: the link to the next node, a cached hash and the pair.
    static constexpr std::uint64_t kEntryBytes = heap_block_bytes(
        sizeof(void*) + sizeof(std::size_t) + sizeof(typename Map::value_type));

    bool insert_locked(Key key, Value value, std::uint64_t owned_bytes) {
        const std::uint64_t bytes = kEntryBytes + owned_bytes;
        if (!fits(bytes)) return false;
        evict_until(bytes);
        const auto at = entries_.try_emplace(std::move(key), std::move(value), bytes).first;
        Slot& slot = at->second;
        slot.key = &at->first;
        link_newest(slot);
        held_ += bytes;
        evict_until(0);  // a grown bucket array may need room as well (the new entry stays)
        return true;
    }

    bool fits(std::uint64_t bytes) const { return bound_ != 0 && bytes <= bound_ / largest_share_; }

    std::uint64_t held_bytes() const {
        return held_ + (entries_.empty() ? 0 : entries_.bucket_count() * sizeof(void*));
    }

    void set_bound_locked(std::uint64_t bytes) {
        bound_ = bytes;
        if (bound_ == 0) {
            empty();
        } else {
            evict_until(0);
        }
    }

    void link_newest(Slot& slot) {
        slot.older = newest_;
        slot.newer = nullptr;
        if (newest_ != nullptr) newest_->newer = &slot;
        newest_ = &slot;
        if (oldest_ == nullptr) oldest_ = &slot;
    }
    void unlink(Slot& slot) {
        (slot.newer != nullptr ? slot.newer->older : newest_) = slot.older;
        (slot.older != nullptr ? slot.older->newer : oldest_) = slot.newer;
    }
    void make_newest(Slot& slot) {
        if (newest_ == &slot) return;
        unlink(slot);
        link_newest(slot);
    }
    void erase(typename Map::iterator at) {
        ++departures_;
        unlink(at->second);
        held_ -= at->second.bytes;
        entries_.erase(at);
    }
    // Evicts the oldest entries until `room` more bytes fit the bound (the newest entry stays).
    void evict_until(std::uint64_t room) {
        while (oldest_ != nullptr && oldest_ != newest_ && held_bytes() + room > bound_) {
            erase(entries_.find(*oldest_->key));
        }
        if (oldest_ != nullptr && held_bytes() + room > bound_ && room > 0) {
            erase(entries_.find(*oldest_->key));
        }
    }
    void empty() {
        ++departures_;
        Map().swap(entries_);  // the bucket array goes too
        held_ = 0;
        newest_ = oldest_ = nullptr;
    }

    ProcessMutex mutex_;
    Map entries_;
    Slot* newest_ = nullptr;
    Slot* oldest_ = nullptr;
    std::uint64_t held_ = 0;  // entries, without the bucket array
    std::uint64_t departures_ = 0;  // entries erased so far, any way
    std::uint64_t bound_;
    std::uint64_t largest_share_;
    std::uint64_t hits_ = 0;
    std::uint64_t misses_ = 0;
    std::optional<std::optional<std::string>> followed_;  // the variable's text followed last
};

}  // namespace tavrin
