// Where the basis cache keeps its database file, and the creation of its directory.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tavrin {

inline constexpr const char* kCachePathVariable = "TAVRIN_CACHE_PATH";
inline constexpr const char* kCacheFileName = "cgbasis.db";
inline constexpr const char* kDefaultCacheFile = ".tavrin/cgbasis.db";

// The database path for a value of TAVRIN_CACHE_PATH, nullptr standing for an unset variable:
// a valid UTF-8 value joined with the file name (an empty value gives the bare file name),
// otherwise the default relative path.
std::filesystem::path cache_path_for(const char* variable_value);

// The database for a value of TAVRIN_CACHE_PATH (nothing: unset), as cache_path_for gives it,
// with a relative path made absolute against the current directory when the value is first
// seen (or seen again after another value): a later chdir leaves the cache on the file it
// used, until the value changes. An SQLite URI, or a path whose directory cannot be known,
// stays as it is. The same value gives the same object.
std::shared_ptr<const std::string> resolve_cache_database(
    std::optional<std::string_view> variable_value);

// Creates the directory that holds `database_path` and every missing ancestor. An existing
// directory and a bare file name need nothing. The error is the operating system's own, for the
// directory whose creation failed.
std::error_code create_cache_directory(const std::filesystem::path& database_path);

}  // namespace tavrin
