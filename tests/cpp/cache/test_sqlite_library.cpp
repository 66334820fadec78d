#include "cache/sqlite_library.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tavrin {
namespace {

// The process's own symbols: the SQLite the tests link. `hidden` names one function to leave
// out, as a library without it would.
void* linked_function_but(void* hidden, const char* name) {
    if (hidden != nullptr && std::strcmp(name, static_cast<const char*>(hidden)) == 0) {
        return nullptr;
    }
    return ::dlsym(RTLD_DEFAULT, name);
}

TEST(SqliteLibrary, EveryFunctionIsFoundByName) {
    const SqliteLibrary library = sqlite_library_from(&linked_function_but, nullptr, "linked");
    ASSERT_TRUE(library) << library.error();
    EXPECT_EQ(library->libversion_number(), sqlite3_libversion_number());
    sqlite3* connection = nullptr;
    ASSERT_EQ(library->open_v2(":memory:", &connection, SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    EXPECT_EQ(library->close_v2(connection), SQLITE_OK);
}

class MissingFunction : public ::testing::TestWithParam<const char*> {};

TEST_P(MissingFunction, IsNamed) {
    const SqliteLibrary library = sqlite_library_from(
        &linked_function_but, const_cast<char*>(GetParam()), "the SQLite of _sqlite3.so");
    ASSERT_FALSE(library);
    EXPECT_EQ(library.error(), std::string("the SQLite of _sqlite3.so has no function ") +
                                   GetParam());
}

// The first and the last of the table, and the ones old libraries lack.
INSTANTIATE_TEST_SUITE_P(SqliteLibrary, MissingFunction,
                         ::testing::Values("sqlite3_libversion_number", "sqlite3_prepare_v3",
                                           "sqlite3_bind_blob64", "sqlite3_wal_checkpoint_v2"));

int old_version() { return 3019004; }
int oldest_usable_version() { return kOldestUsableSqlite; }
int single_threaded() { return 0; }

SqliteApi linked_api() { return *sqlite_library_from(&linked_function_but, nullptr, "linked"); }

TEST(SqliteLibrary, TooOldIsRefusedWithBothVersions) {
    SqliteApi api = linked_api();
    api.libversion_number = &old_version;
    const SqliteLibrary library = checked_sqlite_library(api, "the SQLite of _sqlite3.so");
    ASSERT_FALSE(library);
    EXPECT_EQ(library.error(),
              "the SQLite of _sqlite3.so is SQLite 3.19.4, older than the 3.20.0 the cache needs");
    api.libversion_number = &oldest_usable_version;
    EXPECT_TRUE(checked_sqlite_library(api, "the SQLite of _sqlite3.so"));
}

TEST(SqliteLibrary, WithoutThreadSafetyIsRefused) {
    SqliteApi api = linked_api();
    api.threadsafe = &single_threaded;
    const SqliteLibrary library = checked_sqlite_library(api, "the SQLite of _sqlite3.so");
    ASSERT_FALSE(library);
    EXPECT_EQ(library.error(), "the SQLite of _sqlite3.so is built without thread safety");
}

TEST(SqliteLibrary, TheFirstLibraryGivenStays) {
    const SqliteApi* before = &sqlite();
    use_sqlite_library(std::unexpected(std::string("given too late")));
    ASSERT_TRUE(sqlite_library());
    EXPECT_EQ(&sqlite(), before);
}

}  // namespace
}  // namespace tavrin
