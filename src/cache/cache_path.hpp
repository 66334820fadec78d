// Where the basis cache keeps its database file, and the creation of its directory.
#pragma once

#include <filesystem>
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

// The database path for the process environment as it is now.
std::filesystem::path current_cache_path();

// Creates the directory that holds `database_path` and every missing ancestor. An existing
// directory and a bare file name need nothing. The error is the operating system's own, for the
// directory whose creation failed.
std::error_code create_cache_directory(const std::filesystem::path& database_path);

}  // namespace tavrin
