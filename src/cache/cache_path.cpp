#include "cache/cache_path.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <utility>

#include "support/bytes_and_text.hpp"
#include "support/process_mutex.hpp"

namespace tavrin {

std::filesystem::path cache_path_for(const char* variable_value) {
    if (variable_value == nullptr || !is_valid_utf8(variable_value)) {
        return std::filesystem::path(kDefaultCacheFile);
    }
    return std::filesystem::path(variable_value) / kCacheFileName;
}

namespace {

std::string absolute_database(const std::filesystem::path& path) {
    if (path.string().starts_with("file:") || path.is_absolute()) return path.string();
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path.string() : absolute.string();
}

// The value resolved last and its database.
struct LastResolution {
    ProcessMutex mutex;
    std::optional<std::optional<std::string>> value;
    std::shared_ptr<const std::string> database;
};

LastResolution& last_resolution() {
    static LastResolution* const last = new LastResolution;  // never destroyed
    return *last;
}

// What is in the way of a directory that exists as something else: a symbolic link that leads
// back to itself reads as what it is, anything else "File exists".
std::error_code in_the_way(const std::filesystem::path& directory, std::error_code exists) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 && errno == ELOOP) {
        return std::make_error_code(std::errc::too_many_symbolic_link_levels);
    }
    return exists;
}

// Like mkdir -p, but reports the error of the system call that failed, so that an existing
// regular file in the way reads "File exists", a file used as an ancestor "Not a directory"
// and a symbolic link loop "Too many levels of symbolic links".
std::error_code create_directory_tree(const std::filesystem::path& directory) {
    std::error_code error;
    // create_directory treats an existing directory as success.
    std::filesystem::create_directory(directory, error);
    if (error == std::errc::file_exists) return in_the_way(directory, error);
    if (!error || error != std::errc::no_such_file_or_directory) return error;

    const std::filesystem::path parent = directory.parent_path();
    if (parent.empty() || parent == directory) return error;
    if (const std::error_code parent_error = create_directory_tree(parent)) return parent_error;

    error.clear();
    std::filesystem::create_directory(directory, error);
    if (error == std::errc::file_exists) return in_the_way(directory, error);
    return error;
}

}  // namespace

std::shared_ptr<const std::string> resolve_cache_database(
    std::optional<std::string_view> variable_value) {
    LastResolution& last = last_resolution();
    const std::lock_guard guard(last.mutex);
    if (last.value && *last.value == variable_value) return last.database;
    // The variable's text ends at its first NUL, as the environment's does.
    const std::optional<std::string> value =
        variable_value ? std::optional<std::string>(std::string(*variable_value)) : std::nullopt;
    auto database = std::make_shared<const std::string>(
        absolute_database(cache_path_for(value ? value->c_str() : nullptr)));
    last.value.emplace(value);
    last.database = database;
    return database;
}

std::error_code create_cache_directory(const std::filesystem::path& database_path) {
    const std::filesystem::path directory = database_path.parent_path();
    if (directory.empty()) return {};
    return create_directory_tree(directory);
}

}  // namespace tavrin
