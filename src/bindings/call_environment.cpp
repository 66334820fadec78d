#include "bindings/call_environment.hpp"

#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "cache/cache_path.hpp"
#include "support/process_store.hpp"

extern char** environ;

namespace tavrin::bindings {
namespace {

constexpr std::string_view kPrefix = "TAVRIN_";

// The stores and their variables, listed once: every store is made with the library.
struct Followed {
    std::vector<ProcessStore*> stores;
    std::vector<std::string_view> names;  // [0]: the cache path; then one per store
};

const Followed& followed() {
    static const Followed* const list = [] {
        auto* made = new Followed{process_stores(), {kCachePathVariable}};
        for (ProcessStore* store : made->stores) made->names.push_back(store->bound_variable());
        return made;
    }();
    return *list;
}

// The value of each name, or nothing, from one pass over the environment.
void read_values(const std::vector<std::string_view>& names,
                 std::vector<std::optional<std::string_view>>& values) {
    values.assign(names.size(), std::nullopt);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with(kPrefix)) continue;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (text.size() > names[i].size() && text.starts_with(names[i]) &&
                text[names[i].size()] == '=') {
                if (!values[i]) values[i] = text.substr(names[i].size() + 1);  // first wins
                break;
            }
        }
    }
}

}  // namespace

std::shared_ptr<const std::string> follow_call_environment() {
    const Followed& list = followed();
    thread_local std::vector<std::optional<std::string_view>> values;
    // The texts this thread saw last, so that an unchanged variable costs no store's lock.
    thread_local std::vector<std::optional<std::optional<std::string>>> seen;
    read_values(list.names, values);
    seen.resize(list.stores.size());
    for (std::size_t k = 0; k < list.stores.size(); ++k) {
        const std::optional<std::string_view>& value = values[k + 1];
        if (seen[k] && *seen[k] == value) continue;
        list.stores[k]->follow_bound_variable(value);
        seen[k].emplace(value ? std::optional<std::string>(*value) : std::nullopt);
    }
    return resolve_cache_database(values[0]);
}

}  // namespace tavrin::bindings
