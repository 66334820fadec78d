// SipHash-1-3 with an all-zero key: the hash of the value classes' byte layouts.
#pragma once

#include <cstdint>
#include <span>

namespace tavrin {

// One compression round per 8-byte block, three finalisation rounds, k0 = k1 = 0; the final
// block carries the message length modulo 256 in its top byte.
std::uint64_t siphash13_zero_key(std::span<const std::uint8_t> message) noexcept;

}  // namespace tavrin
