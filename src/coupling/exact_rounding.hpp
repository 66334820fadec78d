// Exact integers and rationals (GMP) and the one rounding step shared by the exactly evaluated coefficients.
#pragma once

#include <gmp.h>

#include "support/double_double.hpp"

namespace tavrin {

// An owned GMP integer, initialised to zero.
class BigInt {
public:
    BigInt() { mpz_init(value_); }
    ~BigInt() { mpz_clear(value_); }
    BigInt(const BigInt&) = delete;
    BigInt& operator=(const BigInt&) = delete;

    mpz_ptr get() { return value_; }
    mpz_srcptr get() const { return value_; }

private:
    mpz_t value_;
};

// An owned GMP rational, initialised to zero.
class BigRational {
public:
    BigRational() { mpq_init(value_); }
    ~BigRational() { mpq_clear(value_); }
    BigRational(const BigRational&) = delete;
    BigRational& operator=(const BigRational&) = delete;
    mpq_ptr get() { return value_; }
    mpq_srcptr get() const { return value_; }

private:
    mpq_t value_;
};

// The nearest double (ties to even) to sqrt(numerator / denominator) for positive integers
// whose quotient lies in (0, 1]; values below the double range round to zero.
double rounded_sqrt_of_quotient(mpz_srcptr numerator, mpz_srcptr denominator);

// sqrt(numerator / denominator) for positive integers whose quotient lies between 2^-900 and
// 2^900, as high + low: high the nearest double (ties to even), low the remainder high leaves,
// to 53 bits.
DoubleDouble double_double_sqrt_of_quotient(mpz_srcptr numerator, mpz_srcptr denominator);

}  // namespace tavrin
