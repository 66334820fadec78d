// Double-double arithmetic: products split without a fused multiply-add give the exact error of
// the product (the same bits as one), and sums and products keep about 106 bits.
#include "support/double_double.hpp"

#include <gtest/gtest.h>
#include <gmp.h>

#include <cmath>
#include <random>

namespace tavrin {
namespace {

TEST(DoubleDouble, SplitProductsHaveTheExactError) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-60, 60);
    for (int trial = 0; trial < 100000; ++trial) {
        const double a = std::ldexp(mantissa(rng), exponent(rng));
        const double b = std::ldexp(mantissa(rng), exponent(rng));
        const DoubleDouble p = SplitProduct::two_product(a, b);
        ASSERT_EQ(p.high, a * b);
        ASSERT_EQ(p.low, std::fma(a, b, -(a * b))) << a << " * " << b;
    }
}

// An exact rational, owned.
class Rational {
public:
    Rational() { mpq_init(value_); }
    explicit Rational(DoubleDouble x) : Rational() {
        Rational low;
        mpq_set_d(value_, x.high);
        mpq_set_d(low.value_, x.low);
        mpq_add(value_, value_, low.value_);
    }
    ~Rational() { mpq_clear(value_); }
    Rational(const Rational&) = delete;
    Rational& operator=(const Rational&) = delete;
    mpq_ptr get() { return value_; }

private:
    mpq_t value_;
};

TEST(DoubleDouble, MultiplyAddKeepsAbout106Bits) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> uniform(0.1, 1.0);
    const auto random_dd = [&] {
        const double high = uniform(rng);
        return fast_two_sum(high, std::ldexp(uniform(rng), -60) * high);
    };
    for (int trial = 0; trial < 2000; ++trial) {
        const DoubleDouble sum = random_dd(), x = random_dd(), y = random_dd();
        Rational exact(x), factor(y), addend(sum), error(multiply_add(sum, x, y));
        mpq_mul(exact.get(), exact.get(), factor.get());
        mpq_add(exact.get(), exact.get(), addend.get());
        mpq_sub(error.get(), error.get(), exact.get());
        mpq_div(error.get(), error.get(), exact.get());
        EXPECT_LT(std::abs(mpq_get_d(error.get())), 0x1p-102);
    }
}

}  // namespace
}  // namespace tavrin
