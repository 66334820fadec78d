#include "support/siphash.hpp"

#include <bit>
#include <cstddef>

#include "support/bytes_and_text.hpp"

namespace tavrin {

namespace {

struct SipState {
    // The initialisation constants ("somepseudorandomlygeneratedbytes") xor a zero key.
    std::uint64_t v0 = 0x736f6d6570736575ULL;
    std::uint64_t v1 = 0x646f72616e646f6dULL;
    std::uint64_t v2 = 0x6c7967656e657261ULL;
    std::uint64_t v3 = 0x7465646279746573ULL;

    void round() noexcept {
        v0 += v1;
        v1 = std::rotl(v1, 13);
        v1 ^= v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = std::rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = std::rotl(v1, 17);
        v1 ^= v2;
        v2 = std::rotl(v2, 32);
    }

    void compress(std::uint64_t block) noexcept {
        v3 ^= block;
        round();
        v0 ^= block;
    }

    std::uint64_t finish() noexcept {
        v2 ^= 0xff;
        round();
        round();
        round();
        return v0 ^ v1 ^ v2 ^ v3;
    }
};

}  // namespace

std::uint64_t siphash13_zero_key(std::span<const std::uint8_t> message) noexcept {
    SipState state;
    const std::size_t full_blocks = message.size() / 8;
    for (std::size_t b = 0; b < full_blocks; ++b) {
        state.compress(load_little_endian(message.subspan(8 * b, 8)));
    }
    // The last block: the remaining bytes, with the length modulo 256 in the top byte.
    const std::uint64_t length_byte = static_cast<std::uint64_t>(message.size() & 0xff) << 56;
    state.compress(length_byte | load_little_endian(message.subspan(8 * full_blocks)));
    return state.finish();
}

}  // namespace tavrin
