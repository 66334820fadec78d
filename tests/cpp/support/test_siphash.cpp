#include "support/siphash.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tavrin {
namespace {

struct SipCase {
    std::vector<std::uint8_t> message;
    std::uint64_t hash;
};

class SipHash13 : public ::testing::TestWithParam<SipCase> {};

// Reference values from CPython, whose hash of a non-empty bytes object with PYTHONHASHSEED=0
// is SipHash-1-3 with a zero key; the empty message is the one CPython does not hash.
TEST_P(SipHash13, MatchesReferenceValues) {
    EXPECT_EQ(siphash13_zero_key(GetParam().message), GetParam().hash);
}

std::vector<std::uint8_t> counting(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

// Lengths around the 8-byte blocks, where the final block changes shape.
INSTANTIATE_TEST_SUITE_P(
    Messages, SipHash13,
    ::testing::Values(SipCase{{}, 15130871412783076140ULL},
                      SipCase{{0}, 7541581120933061747ULL},
                      SipCase{counting(7), 3389392686435873370ULL},
                      SipCase{counting(8), 16921169381604339434ULL},
                      SipCase{counting(9), 8471974163824919394ULL},
                      SipCase{counting(15), 17514137373579004394ULL},
                      SipCase{counting(16), 9904005486622393783ULL},
                      SipCase{counting(17), 5225236159122152477ULL},
                      SipCase{std::vector<std::uint8_t>(16, 0), 8556445246977061536ULL},
                      SipCase{counting(64), 8493894268803903686ULL}));

}  // namespace
}  // namespace tavrin
