// The value X = sign * 2^b * Num * sqrt(Rad) / Den, split from the exponents (b the halved
// exponent of 2, Rad the product of the primes of odd exponent), is first approximated in long
// double from the leading limbs of Num, Rad and Den: relative error below 2^-61 with a 64-bit
// significand, so where X * (1 -+ 2^-58) round to the same double, that double is X's. Else
// (about one value in twenty, and always where long double has no 64-bit significand) the exact
// comparison of X^2 with the squares of the midpoints between neighbouring doubles picks the
// correctly rounded one: Num^2 Rad against m^2 Den^2 4^(g - b) for a midpoint m 2^g.
#include "coupling/prime_root_rounding.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tavrin {
namespace {

// A positive double as significand * 2^exponent with an integer significand.
struct Dyadic {
    std::uint64_t significand;
    std::int64_t exponent;
};

Dyadic dyadic(double x) {
    int e = 0;
    const double fraction = std::frexp(x, &e);  // in [0.5, 1)
    return {static_cast<std::uint64_t>(std::ldexp(fraction, 53)), std::int64_t{e} - 53};
}

// The midpoint of two positive adjacent doubles low < high.
Dyadic midpoint(double low, double high) {
    Dyadic a = dyadic(low);
    Dyadic b = dyadic(high);
    const std::int64_t e = std::min(a.exponent, b.exponent);
    a.significand <<= (a.exponent - e);
    b.significand <<= (b.exponent - e);
    return {a.significand + b.significand, e - 1};
}

struct SplitValue {
    FixedNatural numerator;    // Num
    FixedNatural radicand;     // Rad
    FixedNatural denominator;  // Den
    std::int64_t binary_exponent = 0;  // b
};

// The sign of X - m 2^g, or nothing when it does not fit.
class ExactComparison {
public:
    explicit ExactComparison(const SplitValue& value) : value_(value) {}

    std::optional<int> compare_with(const Dyadic& m) {
        if (!squared_ && !square()) return std::nullopt;
        // X^2 vs m^2 4^g  <=>  Num^2 Rad vs m^2 Den^2 4^(g - b)
        FixedNatural right(m.significand);
        if (!right.multiply_by_limb(m.significand)) return std::nullopt;
        FixedNatural scaled;
        if (!scaled.assign_product(right, den_squared_)) return std::nullopt;
        FixedNatural left = numerator_squared_;
        const std::int64_t shift = 2 * (m.exponent - value_.binary_exponent);
        if (shift >= 0) {
            if (!scaled.shift_left(static_cast<std::uint64_t>(shift))) return std::nullopt;
        } else {
            if (!left.shift_left(static_cast<std::uint64_t>(-shift))) return std::nullopt;
        }
        return left.compare(scaled);
    }

private:
    bool square() {
        squared_ = numerator_squared_.assign_square(value_.numerator) &&
                   numerator_squared_.assign_product(numerator_squared_, value_.radicand) &&
                   den_squared_.assign_square(value_.denominator);
        return squared_;
    }

    const SplitValue& value_;
    bool squared_ = false;
    FixedNatural numerator_squared_;  // Num^2 Rad
    FixedNatural den_squared_;        // Den^2
};

double even_of(double a, double b) {
    return (std::bit_cast<std::uint64_t>(a) & 1) == 0 ? a : b;
}

// 2^k for |k| <= 1022.
double power_of_two(std::int64_t k) {
    return std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
}

bool is_normal_positive(double x) {
    return x >= std::numeric_limits<double>::min() && x <= std::numeric_limits<double>::max();
}

// e = 2 q + r with r in {0, 1}: Num = M prod_{q > 0} p^q, Den = prod_{q < 0} p^-q over the odd
// primes, Rad = prod_{r = 1} p, b = q_0.
bool split(const FixedNatural& magnitude, const PrimeExponents& e, std::size_t count,
           SplitValue& out) {
    PrimeExponents up;
    PrimeExponents down;
    std::fill_n(up.begin(), count, 0);
    std::fill_n(down.begin(), count, 0);
    mp_limb_t radicand_word = 1;
    out.radicand = FixedNatural(1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t q = e[i] >> 1;  // floor(e / 2)
        if ((e[i] & 1) != 0) {
            const mp_limb_t p = table_prime(i);
            mp_limb_t product = 0;
            if (__builtin_mul_overflow(radicand_word, p, &product)) {
                if (!out.radicand.multiply_by_limb(radicand_word)) return false;
                product = p;
            }
            radicand_word = product;
        }
        if (i == 0) continue;
        if (q > 0) up[i] = q;
        if (q < 0) down[i] = -q;
    }
    out.binary_exponent = count > 0 ? (e[0] >> 1) : 0;
    out.numerator = magnitude;
    out.denominator = FixedNatural(1);
    return out.radicand.multiply_by_limb(radicand_word) &&
           multiply_by_prime_powers(out.numerator, up, count) &&
           multiply_by_prime_powers(out.denominator, down, count);
}

// X as mantissa * 2^exponent, relative error below 2^-61 (see the top of the file).
long double approximate(const SplitValue& value, std::int64_t& exponent) {
    std::int64_t n_exponent = 0;
    std::int64_t r_exponent = 0;
    std::int64_t d_exponent = 0;
    const long double n = value.numerator.approximate(n_exponent);
    long double r = value.radicand.approximate(r_exponent);
    const long double d = value.denominator.approximate(d_exponent);
    if (r_exponent % 2 != 0) {
        r *= 2.0L;
        r_exponent -= 1;
    }
    exponent = n_exponent + r_exponent / 2 - d_exponent + value.binary_exponent;
    return n * std::sqrt(r) / d;
}

}  // namespace

bool multiply_by_prime_powers(FixedNatural& magnitude, const PrimeExponents& d,
                              std::size_t count) {
    if (count > 0 && d[0] > 0 && !magnitude.shift_left(static_cast<std::uint64_t>(d[0]))) {
        return false;
    }
    mp_limb_t word = 1;
    for (std::size_t i = 1; i < count; ++i) {
        const mp_limb_t p = table_prime(i);
        for (std::int32_t k = 0; k < d[i]; ++k) {
            mp_limb_t product = 0;
            if (__builtin_mul_overflow(word, p, &product)) {
                if (!magnitude.multiply_by_limb(word)) return false;
                product = p;
            }
            word = product;
        }
    }
    return magnitude.multiply_by_limb(word);
}

std::optional<double> round_prime_root(int sign, const FixedNatural& magnitude,
                                       const PrimeExponents& e, std::size_t count) {
    SplitValue value;
    if (!split(magnitude, e, count, value)) return std::nullopt;
    std::int64_t exponent = 0;
    const long double mantissa = approximate(value, exponent);  // in (2^-192, 2^192)
    if (exponent < -800 || exponent > 800) return std::nullopt;
    // Scaling a double by a power of two is exact while the result stays normal, so the one
    // rounding is the conversion of the mantissa.
    const double scale = power_of_two(exponent);
    if constexpr (std::numeric_limits<long double>::digits >= 64) {
        constexpr long double kSlack = 0x1p-58L;
        const double low = static_cast<double>(mantissa * (1.0L - kSlack)) * scale;
        const double high = static_cast<double>(mantissa * (1.0L + kSlack)) * scale;
        if (low == high && is_normal_positive(low)) return sign * low;
    }
    double y = static_cast<double>(mantissa) * scale;
    if (!is_normal_positive(y)) return std::nullopt;

    // Walk to the double whose rounding interval holds X; a step or two at most.
    ExactComparison exact(value);
    constexpr int kMaxSteps = 16;
    const double start = y;
    for (int step = 0; step < kMaxSteps; ++step) {
        const double next = std::nextafter(y, std::numeric_limits<double>::infinity());
        const auto order = exact.compare_with(midpoint(y, next));
        if (!order || !is_normal_positive(next)) return std::nullopt;
        if (*order == 0) return sign * even_of(y, next);
        if (*order > 0) {
            y = next;
            continue;
        }
        if (step > 0) return sign * y;  // X lies above the midpoint below y: y came from there
        break;
    }
    if (y != start) return std::nullopt;  // still below X after every step
    for (int step = 0; step < kMaxSteps; ++step) {
        const double previous = std::nextafter(y, 0.0);
        if (!is_normal_positive(previous)) return std::nullopt;
        const auto order = exact.compare_with(midpoint(previous, y));
        if (!order) return std::nullopt;
        if (*order == 0) return sign * even_of(previous, y);
        if (*order > 0) return sign * y;
        y = previous;
    }
    return std::nullopt;
}

}  // namespace tavrin
