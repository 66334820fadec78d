#include "builders/cache_path.hpp"

#include <cstdint>
#include <cstdlib>

namespace tavrin {
namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the sequence starting with `lead` and the allowed range of its second byte, which
// is where overlong forms, surrogates and code points above U+10FFFF are excluded.
struct SequenceRule {
    std::size_t length;
    unsigned char second_min;
    unsigned char second_max;
};

SequenceRule rule_for(unsigned char lead) {
    if (lead < 0x80) return {1, 0, 0};
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const SequenceRule rule = rule_for(lead);
        if (rule.length == 0 || bytes.size() - i < rule.length) return false;
        if (rule.length > 1) {
            const auto second = static_cast<unsigned char>(bytes[i + 1]);
            if (second < rule.second_min || second > rule.second_max) return false;
            for (std::size_t k = 2; k < rule.length; ++k) {
                if (!is_continuation(static_cast<unsigned char>(bytes[i + k]))) return false;
            }
        }
        i += rule.length;
    }
    return true;
}

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
