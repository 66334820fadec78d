// The C++ tests link SQLite themselves: the cache calls that library, set before any test runs.
#include <sqlite3.h>

#include "cache/sqlite_library.hpp"

namespace {

tavrin::SqliteApi linked_sqlite_api() {
    tavrin::SqliteApi api;
#define TAVRIN_SQLITE_LINKED(name) api.name = &::sqlite3_##name;
    TAVRIN_SQLITE_FUNCTIONS(TAVRIN_SQLITE_LINKED)
#undef TAVRIN_SQLITE_LINKED
    return api;
}

[[maybe_unused]] const bool linked_sqlite_set = [] {
    tavrin::use_sqlite_library(
        tavrin::checked_sqlite_library(linked_sqlite_api(), "the linked SQLite"));
    return true;
}();

}  // namespace
