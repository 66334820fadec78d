// Spins, directions and edges: small immutable values.
#pragma once

#include <cstdint>
#include <string>

#include "core/error.hpp"

namespace tavrin {

class Spin {
public:
    // Fails with InvalidSpin when twice < 0.
    static Result<Spin> create(std::int32_t twice);

    std::int32_t twice() const { return twice_; }
    double value() const { return twice_ * 0.5; }
    std::uint64_t dimension() const { return static_cast<std::uint64_t>(twice_) + 1; }
    bool is_integer() const { return twice_ % 2 == 0; }
    bool is_half_integer() const { return twice_ % 2 != 0; }
    // "0", "1", "1/2", "3/2", ...
    std::string to_string() const;

    friend auto operator<=>(const Spin&, const Spin&) = default;

private:
    explicit Spin(std::int32_t twice) : twice_(twice) {}
    std::int32_t twice_;
};

class Direction {
public:
    static Direction incoming() { return Direction(0); }
    static Direction outgoing() { return Direction(1); }
    // +1 gives incoming, -1 outgoing; anything else fails with InvalidCGTSpec.
    static Result<Direction> from_sign(std::int32_t sign);

    int sign() const { return code_ == 0 ? 1 : -1; }
    Direction flip() const { return Direction(code_ == 0 ? 1 : 0); }
    bool is_incoming() const { return code_ == 0; }
    bool is_outgoing() const { return code_ != 0; }
    // 0 for incoming, 1 for outgoing.
    std::uint8_t code() const { return code_; }

    friend bool operator==(const Direction&, const Direction&) = default;

private:
    explicit Direction(std::uint8_t code) : code_(code) {}
    std::uint8_t code_;
};

struct Edge {
    Spin j;
    Direction dir;

    static Edge incoming(Spin spin) { return {spin, Direction::incoming()}; }
    static Edge outgoing(Spin spin) { return {spin, Direction::outgoing()}; }
    bool is_incoming() const { return dir.is_incoming(); }
    bool is_outgoing() const { return dir.is_outgoing(); }
    Edge flipped() const { return {j, dir.flip()}; }

    friend bool operator==(const Edge&, const Edge&) = default;
};

}  // namespace tavrin
