// The fixed-width exact evaluation: the same bits as the GMP evaluation wherever it gives a
// value, nothing where its integers or the double range do not suffice, and its one rounding.
#include "coupling/clebsch_gordan_exact.hpp"
#include "coupling/coupling_rule.hpp"
#include "coupling/factorial_primes.hpp"
#include "coupling/fixed_natural.hpp"
#include "coupling/prime_root_rounding.hpp"
#include "coupling/wigner_6j.hpp"
#include "coupling/wigner_9j.hpp"

#include <gmp.h>
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <utility>
#include <vector>

namespace tavrin {
namespace {

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

std::int32_t draw(std::mt19937& rng, std::int32_t limit) {
    return static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(limit + 1));
}

std::int32_t coupled(std::mt19937& rng, std::int32_t a, std::int32_t b) {
    return std::abs(a - b) + 2 * draw(rng, std::min(a, b));
}

// How many of the cases the fixed-width evaluation answered.
struct Tally {
    int answered = 0;
    int total = 0;
};

template <class Fixed, class Gmp>
void expect_same_bits(Tally& tally, Fixed&& fixed, Gmp&& gmp) {
    ++tally.total;
    const std::optional<double> value = fixed();
    if (!value) return;
    ++tally.answered;
    ASSERT_EQ(bits(*value), bits(gmp()));
}

TEST(FixedWidthEvaluation, ClebschGordanHasTheGmpBits) {
    std::mt19937 rng(11);
    Tally tally;
    for (int trial = 0; trial < 20000; ++trial) {
        const std::int32_t limit = trial < 15000 ? 12 : 160;
        const std::int32_t j1 = draw(rng, limit), j2 = draw(rng, limit);
        const std::int32_t j = coupled(rng, j1, j2);
        const std::int32_t m1 = 2 * draw(rng, j1) - j1, m2 = 2 * draw(rng, j2) - j2;
        if (std::abs(m1 + m2) > j) continue;
        for (CgValue form : {CgValue::coefficient, CgValue::three_j}) {
            expect_same_bits(
                tally, [&] { return clebsch_gordan_fixed_width(j1, m1, j2, m2, j, m1 + m2, form); },
                [&] { return clebsch_gordan_gmp(j1, m1, j2, m2, j, m1 + m2, form); });
        }
    }
    EXPECT_GT(tally.answered, tally.total * 9 / 10);
}

TEST(FixedWidthEvaluation, SixJHasTheGmpBits) {
    std::mt19937 rng(12);
    Tally tally;
    while (tally.total < 6000) {
        const std::int32_t limit = tally.total < 5000 ? 14 : 120;
        const std::int32_t a = draw(rng, limit), b = draw(rng, limit), e = draw(rng, limit);
        const std::int32_t c = coupled(rng, a, b), f = coupled(rng, a, e), d = coupled(rng, b, f);
        if (!couples(d, e, c)) continue;
        expect_same_bits(tally, [&] { return wigner_6j_fixed_width(a, b, c, d, e, f); },
                         [&] { return wigner_6j_gmp(a, b, c, d, e, f); });
    }
    EXPECT_GT(tally.answered, tally.total * 9 / 10);
}

TEST(FixedWidthEvaluation, NineJHasTheGmpBits) {
    std::mt19937 rng(13);
    Tally tally;
    while (tally.total < 600) {
        const std::int32_t limit = tally.total < 500 ? 10 : 30;
        NineSpins j{};
        j[0] = draw(rng, limit), j[1] = draw(rng, limit), j[3] = draw(rng, limit);
        j[4] = draw(rng, limit);
        j[2] = coupled(rng, j[0], j[1]), j[5] = coupled(rng, j[3], j[4]);
        j[6] = coupled(rng, j[0], j[3]), j[7] = coupled(rng, j[1], j[4]);
        j[8] = coupled(rng, j[2], j[5]);
        if (!nine_j_triads_hold(j)) continue;
        expect_same_bits(tally, [&] { return wigner_9j_fixed_width(j); },
                         [&] { return wigner_9j_gmp(j); });
    }
    EXPECT_GT(tally.answered, tally.total * 9 / 10);
}

// Factorials beyond the table: the fixed-width evaluation declines, the exact one still has
// the value.
TEST(FixedWidthEvaluation, DeclinesBeyondTheTable) {
    EXPECT_FALSE(clebsch_gordan_fixed_width(300, 0, 300, 0, 300, 0, CgValue::coefficient));
    EXPECT_EQ(bits(clebsch_gordan_exact(300, 0, 300, 0, 300, 0)),
              bits(clebsch_gordan_gmp(300, 0, 300, 0, 300, 0, CgValue::coefficient)));
    EXPECT_FALSE(wigner_6j_fixed_width(400, 400, 400, 400, 400, 400));
    EXPECT_EQ(bits(wigner_6j_exact(400, 400, 400, 400, 400, 400)),
              bits(wigner_6j_gmp(400, 400, 400, 400, 400, 400)));
}

// ---------------------------------------------------------------------------------------------
// The rounding: magnitude * sqrt(prod p^e).

struct RootCase {
    std::uint64_t magnitude;
    std::vector<std::pair<std::size_t, std::int32_t>> exponents;  // (prime index, exponent)
    std::optional<double> expected;
};

class PrimeRoot : public ::testing::TestWithParam<RootCase> {};

TEST_P(PrimeRoot, RoundsOnceToNearestEven) {
    PrimeExponents e{};
    for (const auto& [i, exponent] : GetParam().exponents) e[i] = exponent;
    const auto value =
        round_prime_root(1, FixedNatural(GetParam().magnitude), e, kExponentSlots);
    ASSERT_EQ(value.has_value(), GetParam().expected.has_value());
    if (value) {
        EXPECT_EQ(bits(*value), bits(*GetParam().expected));
    }
}

constexpr std::uint64_t kTwo53 = std::uint64_t{1} << 53;

INSTANTIATE_TEST_SUITE_P(
    Table, PrimeRoot,
    ::testing::Values(
        RootCase{1, {}, 1.0}, RootCase{1, {{0, -2}}, 0.5},
        RootCase{1, {{0, 1}}, 1.4142135623730951},   // sqrt 2
        RootCase{1, {{1, -1}}, 0.5773502691896257},  // 1 / sqrt 3: the midpoint lies above
        RootCase{3, {{1, -1}}, 1.7320508075688772},  // 3 / sqrt 3
        RootCase{5, {{0, -2}, {2, -1}}, 1.118033988749895},  // sqrt 5 / 2
        // Exact midpoints between neighbouring doubles: the even one.
        RootCase{kTwo53 + 1, {}, 9007199254740992.0},
        RootCase{kTwo53 + 3, {}, 9007199254740996.0},
        // Below and above the normal range (left to the GMP evaluation).
        RootCase{1, {{0, -2 * 1030}}, std::nullopt},
        RootCase{1, {{0, 2 * 1030}}, std::nullopt},
        // An integer beyond FixedNatural's width.
        RootCase{1, {{1, 2 * 64 * 41}}, std::nullopt}));

// ---------------------------------------------------------------------------------------------

class Natural {
public:
    Natural() { mpz_init(value_); }
    ~Natural() { mpz_clear(value_); }
    Natural(const Natural&) = delete;
    Natural& operator=(const Natural&) = delete;
    mpz_ptr get() { return value_; }

    static void from(const FixedNatural& n, Natural& out) {
        mpz_import(out.get(), static_cast<std::size_t>(n.size()), -1, sizeof(mp_limb_t), 0, 0,
                   n.limbs());
    }

private:
    mpz_t value_;
};

TEST(FixedNaturalArithmetic, AgreesWithGmpAndReportsOverflow) {
    std::mt19937_64 rng(5);
    FixedNatural a(1);
    FixedNatural b(7);
    Natural ref_a, ref_b, got;
    mpz_set_ui(ref_a.get(), 1);
    mpz_set_ui(ref_b.get(), 7);
    for (int step = 0; step < 14; ++step) {
        const mp_limb_t factor = rng() | 1;
        ASSERT_TRUE(a.multiply_by_limb(factor));
        mpz_mul_ui(ref_a.get(), ref_a.get(), factor);
        ASSERT_TRUE(b.shift_left(static_cast<std::uint64_t>(step)));
        mpz_mul_2exp(ref_b.get(), ref_b.get(), static_cast<mp_bitcnt_t>(step));
        ASSERT_TRUE(b.add(a));
        mpz_add(ref_b.get(), ref_b.get(), ref_a.get());
        Natural::from(b, got);
        ASSERT_EQ(mpz_cmp(got.get(), ref_b.get()), 0) << "step " << step;
    }
    FixedNatural product;
    ASSERT_TRUE(product.assign_product(a, b));
    FixedNatural difference = product;
    difference.subtract(a);
    Natural ref;
    mpz_mul(ref.get(), ref_a.get(), ref_b.get());
    mpz_sub(ref.get(), ref.get(), ref_a.get());
    Natural::from(difference, got);
    EXPECT_EQ(mpz_cmp(got.get(), ref.get()), 0);
    EXPECT_GT(product.compare(difference), 0);

    FixedNatural full(1);
    EXPECT_TRUE(full.shift_left(64 * (FixedNatural::kCapacity - 1)));
    EXPECT_FALSE(full.shift_left(64));
    FixedNatural square;
    EXPECT_FALSE(square.assign_square(full));
}

}  // namespace
}  // namespace tavrin
