#include "support/bytes_and_text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LittleEndian, AppendsLowBytesFirstAndLoadsThemBack) {
    Bytes bytes;
    append_little_endian(bytes, 0x0102030405060708ULL, 8);
    append_little_endian(bytes, 0xFFFFFFFFu, 4);
    append_little_endian(bytes, 0x1234, 2);
    EXPECT_EQ(bytes, (Bytes{8, 7, 6, 5, 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0x34, 0x12}));
    EXPECT_EQ(load_little_endian(std::span(bytes).first(8)), 0x0102030405060708ULL);
    EXPECT_EQ(load_little_endian(std::span(bytes).subspan(12, 2)), 0x1234u);
    EXPECT_EQ(load_little_endian({}), 0u);
}

TEST(ListText, BracketsAndSeparators) {
    EXPECT_EQ(bracketed_list(std::vector<int>{}), "[]");
    EXPECT_EQ(bracketed_list(std::vector<std::uint64_t>{2, 18446744073709551615ULL}),
              "[2, 18446744073709551615]");
    EXPECT_EQ(joined(std::vector<int>{-1}), "-1");
    EXPECT_EQ(bracketed_list(std::vector<std::string>{"a", "b"},
                             [](const std::string& s) { return "'" + s + "'"; }),
              "['a', 'b']");
}

struct Utf8Case {
    std::string text;
    std::optional<std::size_t> invalid_at;
};

class Utf8Validation : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validation, FindsTheFirstInvalidByte) {
    EXPECT_EQ(find_invalid_utf8(GetParam().text), GetParam().invalid_at);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Validation,
    ::testing::Values(Utf8Case{"", std::nullopt}, Utf8Case{"abc", std::nullopt},
                      Utf8Case{"a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", std::nullopt},
                      Utf8Case{"ab\x80", 2}, Utf8Case{"a\xc3", 1}, Utf8Case{"\xc0\x80", 0},
                      Utf8Case{"\xe0\x80\x80", 0}, Utf8Case{"x\xed\xa0\x80", 1},
                      Utf8Case{"\xf4\x90\x80\x80", 0}, Utf8Case{"\xf5", 0},
                      Utf8Case{"\xe2\x82", 0}, Utf8Case{"\xe2(\xac", 0}));

TEST(Utf8, DecodesCodePointsWithTheirLength) {
    const std::string text = "a\xc3\xa9\xf0\x9f\x98\x80";
    EXPECT_EQ(decode_utf8(text, 0), (std::pair<char32_t, std::size_t>{U'a', 1}));
    EXPECT_EQ(decode_utf8(text, 1), (std::pair<char32_t, std::size_t>{U'\u00e9', 2}));
    EXPECT_EQ(decode_utf8(text, 3), (std::pair<char32_t, std::size_t>{U'\U0001F600', 4}));
    EXPECT_FALSE(decode_utf8(text, 2));
    EXPECT_TRUE(is_valid_utf8(text));
    EXPECT_FALSE(is_valid_utf8("\xff"));
}

}  // namespace
}  // namespace tavrin
