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
        // The prefix first: most entries are not the library's and need no length.
        if (std::strncmp(*entry, kPrefix.data(), kPrefix.size()) != 0) continue;
        const std::string_view text(*entry);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (text.size() > names[i].size() && text.starts_with(names[i]) &&
                text[names[i].size()] == '=') {
                if (!values[i]) values[i] = text.substr(names[i].size() + 1);  // first wins
                break;
            }
        }
    }
}

// Whether the environment holds the same entries as `entries`, in the same order. setenv and
// unsetenv (and Python's os.environ through them) replace or remove an entry and never rewrite
// its text, so the same entries hold the same values: only a program that rewrites a buffer it
// gave putenv goes unseen.
bool same_entries(const std::vector<const char*>& entries) {
    char** const entry = environ;
    if (entry == nullptr) return entries.empty();
    // No entry is read past the end: every kept one is a text, never the closing null.
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (entry[k] != entries[k]) return false;
    }
    return entry[entries.size()] == nullptr;
}

void record_entries(std::vector<const char*>& entries) {
    entries.clear();
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        entries.push_back(*entry);
    }
}

}  // namespace

std::shared_ptr<const std::string> follow_call_environment() {
    const Followed& list = followed();
    struct ThreadState {
        // The environment this thread read last, and the values it found there.
        std::vector<const char*> entries;
        std::vector<std::optional<std::string_view>> values;
        // The texts this thread saw last, so that an unchanged variable costs no store's lock.
        std::vector<std::optional<std::optional<std::string>>> seen;
        bool read = false;
    };
    thread_local ThreadState state;  // one lookup of the thread's storage per call
    auto& [entries, values, seen, read] = state;
    if (!read || !same_entries(entries)) {
        read_values(list.names, values);
        record_entries(entries);
        read = true;
        seen.resize(list.stores.size());
        for (std::size_t k = 0; k < list.stores.size(); ++k) {
            const std::optional<std::string_view>& value = values[k + 1];
            if (seen[k] && *seen[k] == value) continue;
            list.stores[k]->follow_bound_variable(value);
            seen[k].emplace(value ? std::optional<std::string>(*value) : std::nullopt);
        }
    }
    return resolve_cache_database(values[0]);
}

}  // namespace tavrin::bindings
