#include "cache/sqlite_library.hpp"

#include <atomic>
#include <utility>

#include "support/assertion.hpp"

namespace tavrin {
namespace {

std::string version_text(int number) {
    return std::to_string(number / 1000000) + "." + std::to_string(number / 1000 % 1000) + "." +
           std::to_string(number % 1000);
}

// Set once, never freed: readers on any thread see either nothing or the whole table.
std::atomic<const SqliteLibrary*> process_library{nullptr};

}  // namespace

SqliteLibrary sqlite_library_from(FunctionLookup lookup, void* handle, std::string_view library) {
    SqliteApi api;
#define TAVRIN_SQLITE_LOOKUP(name)                                                            \
    api.name = reinterpret_cast<decltype(api.name)>(lookup(handle, "sqlite3_" #name));        \
    if (api.name == nullptr) {                                                                \
        return std::unexpected(std::string(library) + " has no function sqlite3_" #name);    \
    }
    TAVRIN_SQLITE_FUNCTIONS(TAVRIN_SQLITE_LOOKUP)
#undef TAVRIN_SQLITE_LOOKUP
    return checked_sqlite_library(api, library);
}

SqliteLibrary checked_sqlite_library(SqliteApi api, std::string_view library) {
    const int version = api.libversion_number();
    if (version < kOldestUsableSqlite) {
        return std::unexpected(std::string(library) + " is SQLite " + version_text(version) +
                               ", older than the " + version_text(kOldestUsableSqlite) +
                               " the cache needs");
    }
    if (api.threadsafe() == 0) {
        return std::unexpected(std::string(library) + " is built without thread safety");
    }
    return api;
}

void use_sqlite_library(SqliteLibrary library) {
    auto* candidate = new SqliteLibrary(std::move(library));
    const SqliteLibrary* expected = nullptr;
    if (!process_library.compare_exchange_strong(expected, candidate, std::memory_order_acq_rel)) {
        delete candidate;
    }
}

const SqliteLibrary& sqlite_library() {
    static const SqliteLibrary none =
        std::unexpected(std::string("no SQLite library was given to the cache"));
    const SqliteLibrary* library = process_library.load(std::memory_order_acquire);
    return library != nullptr ? *library : none;
}

const SqliteApi& sqlite() {
    const SqliteLibrary& library = sqlite_library();
    check_invariant(library.has_value(), "the SQLite library is usable");
    return *library;
}

}  // namespace tavrin
