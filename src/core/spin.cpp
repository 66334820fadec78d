#include "core/spin.hpp"

namespace tavrin {

Result<Spin> Spin::create(std::int32_t twice) {
    if (twice < 0) {
        return fail(TavrinError::invalid_spin(twice));
    }
    return Spin(twice);
}

std::string Spin::to_string() const {
    if (is_integer()) {
        return std::to_string(twice_ / 2);
    }
    return std::to_string(twice_) + "/2";
}

Result<Direction> Direction::from_sign(std::int32_t sign) {
    if (sign == 1) {
        return incoming();
    }
    if (sign == -1) {
        return outgoing();
    }
    return fail(TavrinError::invalid_cgt_spec("Invalid direction sign: " + std::to_string(sign)));
}

}  // namespace tavrin
