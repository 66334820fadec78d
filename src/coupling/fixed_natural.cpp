#include "coupling/fixed_natural.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavrin {

std::uint64_t FixedNatural::bit_length() const {
    if (size_ == 0) return 0;
    return static_cast<std::uint64_t>(mpn_sizeinbase(limbs_.data(), size_, 2));
}

void FixedNatural::trim() {
    while (size_ > 0 && limbs_[static_cast<std::size_t>(size_ - 1)] == 0) --size_;
}

bool FixedNatural::multiply_by_limb(mp_limb_t factor) {
    if (size_ == 0) return true;
    const mp_limb_t carry = mpn_mul_1(limbs_.data(), limbs_.data(), size_, factor);
    if (carry != 0) {
        if (size_ == kCapacity) return false;
        limbs_[static_cast<std::size_t>(size_++)] = carry;
    }
    trim();  // factor 0
    return true;
}

bool FixedNatural::shift_left(std::uint64_t bits) {
    if (size_ == 0 || bits == 0) return true;
    const auto whole = static_cast<mp_size_t>(bits / GMP_NUMB_BITS);
    const auto rest = static_cast<unsigned>(bits % GMP_NUMB_BITS);
    if (size_ + whole > kCapacity) return false;
    mp_limb_t carry = 0;
    if (rest != 0) carry = mpn_lshift(limbs_.data(), limbs_.data(), size_, rest);
    if (whole != 0) {
        std::copy_backward(limbs_.begin(), limbs_.begin() + size_,
                           limbs_.begin() + size_ + whole);
        std::fill(limbs_.begin(), limbs_.begin() + whole, mp_limb_t{0});
        size_ += whole;
    }
    if (carry != 0) {
        if (size_ == kCapacity) return false;
        limbs_[static_cast<std::size_t>(size_++)] = carry;
    }
    return true;
}

bool FixedNatural::add(const FixedNatural& other) {
    if (other.size_ == 0) return true;
    mp_limb_t carry = 0;
    if (size_ >= other.size_) {
        carry = mpn_add(limbs_.data(), limbs_.data(), size_, other.limbs_.data(), other.size_);
    } else {
        carry = mpn_add(limbs_.data(), other.limbs_.data(), other.size_, limbs_.data(), size_);
        size_ = other.size_;
    }
    if (carry != 0) {
        if (size_ == kCapacity) return false;
        limbs_[static_cast<std::size_t>(size_++)] = carry;
    }
    return true;
}

bool FixedNatural::assign_product(const FixedNatural& a, const FixedNatural& b) {
    if (a.size_ == 0 || b.size_ == 0) {
        size_ = 0;
        return true;
    }
    if (a.size_ + b.size_ > kCapacity) return false;
    // mpn_mul wants the longer operand first and a destination apart from both.
    const FixedNatural& longer = a.size_ >= b.size_ ? a : b;
    const FixedNatural& shorter = a.size_ >= b.size_ ? b : a;
    std::array<mp_limb_t, kCapacity> product;
    mpn_mul(product.data(), longer.limbs_.data(), longer.size_, shorter.limbs_.data(),
            shorter.size_);
    size_ = a.size_ + b.size_;
    std::copy(product.begin(), product.begin() + size_, limbs_.begin());
    trim();
    return true;
}

bool FixedNatural::assign_square(const FixedNatural& a) {
    if (a.size_ == 0) {
        size_ = 0;
        return true;
    }
    if (2 * a.size_ > kCapacity) return false;
    std::array<mp_limb_t, kCapacity> square;
    mpn_sqr(square.data(), a.limbs_.data(), a.size_);
    size_ = 2 * a.size_;
    std::copy(square.begin(), square.begin() + size_, limbs_.begin());
    trim();
    return true;
}

void FixedNatural::subtract(const FixedNatural& other) {
    if (other.size_ == 0) return;
    mpn_sub(limbs_.data(), limbs_.data(), size_, other.limbs_.data(), other.size_);
    trim();
}

void FixedNatural::divide_exactly(mp_limb_t divisor) {
    if (size_ == 0) return;
    mpn_divexact_1(limbs_.data(), limbs_.data(), size_, divisor);
    trim();
}

int FixedNatural::compare(const FixedNatural& other) const {
    if (size_ != other.size_) return size_ < other.size_ ? -1 : 1;
    return mpn_cmp(limbs_.data(), other.limbs_.data(), size_);
}

long double FixedNatural::approximate(std::int64_t& exponent) const {
    const auto top = static_cast<std::size_t>(size_ - 1);
    const auto high = static_cast<long double>(limbs_[top]);
    if (size_ == 1) {
        exponent = 0;
        return high;
    }
    exponent = (size_ - 2) * std::int64_t{GMP_NUMB_BITS};
    return std::ldexp(high, GMP_NUMB_BITS) + static_cast<long double>(limbs_[top - 1]);
}

int SignedSum::take(FixedNatural& magnitude) {
    const int order = positive_.compare(negative_);
    if (order == 0) {
        magnitude = FixedNatural();
        return 0;
    }
    if (order > 0) {
        positive_.subtract(negative_);
        magnitude = positive_;
        return 1;
    }
    negative_.subtract(positive_);
    magnitude = negative_;
    return -1;
}

}  // namespace tavrin
