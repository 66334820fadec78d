#include "support/bytes_and_text.hpp"

namespace tavrin {

std::optional<std::pair<char32_t, std::size_t>> decode_utf8(std::string_view text,
                                                            std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return std::pair{static_cast<char32_t>(lead), std::size_t{1}};
    std::size_t length = 0;
    char32_t code_point = 0;
    char32_t smallest = 0;  // below it the sequence is an overlong form
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1Fu, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0Fu, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code_point = lead & 0x07u, smallest = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - pos < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return std::nullopt;
        code_point = (code_point << 6) | (byte(i) & 0x3Fu);
    }
    if (code_point < smallest || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF)) {
        return std::nullopt;
    }
    return std::pair{code_point, length};
}

std::optional<std::size_t> find_invalid_utf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const auto decoded = decode_utf8(text, pos);
        if (!decoded) return pos;
        pos += decoded->second;
    }
    return std::nullopt;
}

}  // namespace tavrin
