#include "support/process_store.hpp"

#include <algorithm>
#include <charconv>

namespace tavrin {
namespace {

struct StoreRegistry {
    ProcessMutex mutex;
    std::vector<ProcessStore*> stores;
};

StoreRegistry& registry() {
    static StoreRegistry* const stores = new StoreRegistry;  // never destroyed
    return *stores;
}

}  // namespace

std::uint64_t bound_from_text(std::optional<std::string_view> text, std::uint64_t default_bound) {
    if (!text || text->empty()) return default_bound;
    std::uint64_t bytes = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, bytes);
    if (error != std::errc{} || stop != end) return default_bound;
    return bytes;
}

ProcessStore::ProcessStore(std::string name, std::string bound_variable,
                           std::uint64_t default_bound)
    : name_(std::move(name)), bound_variable_(std::move(bound_variable)),
      default_bound_(default_bound) {
    StoreRegistry& stores = registry();
    const std::lock_guard guard(stores.mutex);
    stores.stores.push_back(this);
}

ProcessStore::~ProcessStore() {
    StoreRegistry& stores = registry();
    const std::lock_guard guard(stores.mutex);
    std::erase(stores.stores, this);
}

std::vector<ProcessStore*> process_stores() {
    StoreRegistry& stores = registry();
    const std::lock_guard guard(stores.mutex);
    return stores.stores;
}

ProcessStore* find_process_store(std::string_view name) {
    StoreRegistry& stores = registry();
    const std::lock_guard guard(stores.mutex);
    const auto found = std::ranges::find(stores.stores, name, &ProcessStore::name);
    return found != stores.stores.end() ? *found : nullptr;
}

}  // namespace tavrin
