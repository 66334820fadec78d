#include "cache/cache_path.hpp"

#include <cstdint>
#include <cstdlib>

#include "support/bytes_and_text.hpp"

namespace tavrin {

std::filesystem::path cache_path_for(const char* variable_value) {
    if (variable_value == nullptr || !is_valid_utf8(variable_value)) {
        return std::filesystem::path(kDefaultCacheFile);
    }
    return std::filesystem::path(variable_value) / kCacheFileName;
}

std::filesystem::path current_cache_path() {
    return cache_path_for(std::getenv(kCachePathVariable));
}

namespace {

// Like mkdir -p, but reports the error of the system call that failed, so that an existing
// regular file in the way reads "File exists" and a file used as an ancestor "Not a directory".
std::error_code create_directory_tree(const std::filesystem::path& directory) {
    std::error_code error;
    // create_directory treats an existing directory as success.
    std::filesystem::create_directory(directory, error);
    if (!error || error != std::errc::no_such_file_or_directory) return error;

    const std::filesystem::path parent = directory.parent_path();
    if (parent.empty() || parent == directory) return error;
    if (const std::error_code parent_error = create_directory_tree(parent)) return parent_error;

    error.clear();
    std::filesystem::create_directory(directory, error);
    return error;
}

}  // namespace

std::error_code create_cache_directory(const std::filesystem::path& database_path) {
    const std::filesystem::path directory = database_path.parent_path();
    if (directory.empty()) return {};
    return create_directory_tree(directory);
}

}  // namespace tavrin
