// SipHash-1-3 with an all-zero key, and the little-endian byte strings it is applied to.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tavrin::bindings {

// One compression round per 8-byte block, three finalisation rounds, k0 = k1 = 0.
std::uint64_t siphash13_zero_key(std::span<const std::uint8_t> message) noexcept;

// Fields appended one after another in little-endian byte order, whatever the host's order.
class LittleEndianBytes {
public:
    void append_i32(std::int32_t value) { append(static_cast<std::uint32_t>(value), 4); }
    void append_u64(std::uint64_t value) { append(value, 8); }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    void append(std::uint64_t value, int byte_count) {
        for (int i = 0; i < byte_count; ++i) {
            bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    std::vector<std::uint8_t> bytes_;
};

}  // namespace tavrin::bindings
