// The SQLite library the cache calls: a table of its functions, filled once per process by
// whoever knows which library that is (the module, from the library of Python's own sqlite3
// module, so that the process holds one SQLite and one table of file locks; the C++ tests, from
// the library they link). Nothing below links SQLite: sqlite3.h gives the types and constants.
#pragma once

#include <sqlite3.h>

#include <expected>
#include <string>
#include <string_view>

namespace tavrin {

// Every SQLite function the cache calls, by its name without the prefix sqlite3_.
#define TAVRIN_SQLITE_FUNCTIONS(X)                                                               \
    X(libversion_number) X(threadsafe) X(errmsg) X(errstr) X(extended_errcode)     \
    X(open_v2) X(close_v2) X(busy_handler) X(prepare_v3) X(finalize) X(reset) X(clear_bindings)  \
    X(bind_parameter_count) X(bind_blob) X(bind_blob64) X(bind_zeroblob) X(bind_int64) X(step)   \
    X(column_type) X(column_int64) X(column_text) X(column_blob) X(changes) X(last_insert_rowid) \
    X(get_autocommit) X(blob_open) X(blob_read) X(blob_write) X(blob_close)                      \
    X(wal_checkpoint_v2)

struct SqliteApi {
#define TAVRIN_SQLITE_MEMBER(name) decltype(&::sqlite3_##name) name = nullptr;
    TAVRIN_SQLITE_FUNCTIONS(TAVRIN_SQLITE_MEMBER)
#undef TAVRIN_SQLITE_MEMBER
};

// The library found, or why the cache has none (the text of its warnings).
using SqliteLibrary = std::expected<SqliteApi, std::string>;

// The oldest SQLite with everything the cache uses (prepare_v3 and persistent statements).
inline constexpr int kOldestUsableSqlite = 3020000;

// Fills the table through `lookup`, which returns the address of a function by its full name or
// null. Fails naming the first function missing from `library` (a description for the message),
// and for a library too old or built without thread safety: Python's connections may use it
// from other threads while the cache does.
using FunctionLookup = void* (*)(void* handle, const char* name);
SqliteLibrary sqlite_library_from(FunctionLookup lookup, void* handle, std::string_view library);

// Checks what sqlite_library_from checks of a table filled otherwise.
SqliteLibrary checked_sqlite_library(SqliteApi api, std::string_view library);

// Sets the process's library. The first call wins: later ones (a module executed again in
// another interpreter) change nothing, so that the table stays the same for the life of the
// process and is read without a lock.
void use_sqlite_library(SqliteLibrary library);

// The process's library, or why there is none (nothing was set: not expected outside tests).
const SqliteLibrary& sqlite_library();

// The table itself, for code that runs after sqlite_library() was found usable (every cache
// operation checks it first).
const SqliteApi& sqlite();

}  // namespace tavrin
