// Byte and text helpers used across the library: little-endian integers, bracketed lists and
// strict UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin {

// Appends the low `width` bytes of value, least significant first (width <= 8).
inline void append_little_endian(std::vector<std::uint8_t>& out, std::uint64_t value,
                                 std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// The integer whose bytes, least significant first, are `bytes` (at most 8 of them).
inline std::uint64_t load_little_endian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        value |= std::uint64_t{bytes[i]} << (8 * i);
    }
    return value;
}

// "a, b, c": each item written by `text`, separated by ", ".
template <class Range, class Text>
std::string joined(const Range& items, Text&& text) {
    std::string out;
    bool first = true;
    for (const auto& item : items) {
        if (!first) out += ", ";
        out += text(item);
        first = false;
    }
    return out;
}

// "[a, b, c]".
template <class Range, class Text>
std::string bracketed_list(const Range& items, Text&& text) {
    std::string out = "[";
    out += joined(items, std::forward<Text>(text));
    out += ']';
    return out;
}

// Numbers in decimal: "2, 3" and "[2, 3]".
template <class Range>
std::string joined(const Range& items) {
    return joined(items, [](const auto& item) { return std::to_string(item); });
}
template <class Range>
std::string bracketed_list(const Range& items) {
    return bracketed_list(items, [](const auto& item) { return std::to_string(item); });
}

// Strict UTF-8 throughout: no overlong forms, no surrogates, nothing above U+10FFFF.

// The code point of the sequence starting at text[pos] (pos < text.size()) and its length in
// bytes; nullopt when no valid sequence starts there.
std::optional<std::pair<char32_t, std::size_t>> decode_utf8(std::string_view text,
                                                            std::size_t pos);

// Offset of the first byte that does not start a valid sequence; nullopt when all is valid.
std::optional<std::size_t> find_invalid_utf8(std::string_view text);

inline bool is_valid_utf8(std::string_view text) { return !find_invalid_utf8(text); }

}  // namespace tavrin
