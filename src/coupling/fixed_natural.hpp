// Natural numbers of a bounded width held on the stack, with GMP's low-level (mpn) arithmetic:
// the integers of the coefficients' fixed-width exact evaluation. No operation allocates; one
// whose result would not fit reports it, and the caller falls back to the unbounded evaluation.
#pragma once

#include <gmp.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrin {

class FixedNatural {
public:
    static constexpr mp_size_t kCapacity = 40;  // limbs: 2560 bits

    FixedNatural() = default;  // zero
    explicit FixedNatural(mp_limb_t value) : size_(value == 0 ? 0 : 1) { limbs_[0] = value; }
    // Copies only the limbs in use.
    FixedNatural(const FixedNatural& other) : size_(other.size_) { copy_limbs(other); }
    FixedNatural& operator=(const FixedNatural& other) {
        size_ = other.size_;
        copy_limbs(other);
        return *this;
    }

    bool is_zero() const { return size_ == 0; }
    mp_size_t size() const { return size_; }
    const mp_limb_t* limbs() const { return limbs_.data(); }
    std::uint64_t bit_length() const;

    // Each returns false, leaving the value unspecified, when the result needs more than
    // kCapacity limbs.
    [[nodiscard]] bool multiply_by_limb(mp_limb_t factor);
    [[nodiscard]] bool shift_left(std::uint64_t bits);
    [[nodiscard]] bool add(const FixedNatural& other);
    [[nodiscard]] bool assign_product(const FixedNatural& a, const FixedNatural& b);
    [[nodiscard]] bool assign_square(const FixedNatural& a);

    // this -= other, for other <= this.
    void subtract(const FixedNatural& other);
    // this / divisor, which must divide it exactly.
    void divide_exactly(mp_limb_t divisor);

    // <0, 0, >0 as this is below, equal to or above other.
    int compare(const FixedNatural& other) const;

    // The value as mantissa * 2^exponent, the mantissa in [1, 2^128) from the two leading limbs
    // (relative error below 2^-63 where long double has a 64-bit significand). For a non-zero
    // value.
    long double approximate(std::int64_t& exponent) const;

private:
    void trim();
    void copy_limbs(const FixedNatural& other) {
        for (mp_size_t i = 0; i < size_; ++i) {
            limbs_[static_cast<std::size_t>(i)] = other.limbs_[static_cast<std::size_t>(i)];
        }
    }

    std::array<mp_limb_t, kCapacity> limbs_;  // the first size_ in use
    mp_size_t size_ = 0;
};

// A signed sum of natural numbers, kept as the sums of the positive and the negative terms.
class SignedSum {
public:
    [[nodiscard]] bool add(const FixedNatural& term, bool negative) {
        return (negative ? negative_ : positive_).add(term);
    }
    // The sum as magnitude and sign (-1, 0, +1); the accumulators are consumed.
    int take(FixedNatural& magnitude);

private:
    FixedNatural positive_;
    FixedNatural negative_;
};

}  // namespace tavrin
