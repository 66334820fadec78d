// Double-double numbers: the unevaluated sum high + low of two doubles, about 106 significant
// bits. A computation carried in them and rounded once at its end (high + low) is correctly
// rounded unless its exact value lies within about 2^-100 of it of a midpoint between doubles.
//
// Products use Dekker's splitting, which gives the exact rounding error of a product without a
// fused multiply-add: the same bits as one, on every machine. Callers on hot paths may supply a
// fused multiply-add through the Product parameter (see tree_program.cpp); the results do not
// change. Everything is inlined, so that code built for a processor with fused multiply-adds
// gets them throughout.
#pragma once

namespace tavrin {

struct DoubleDouble {
    double high = 0.0;
    double low = 0.0;
    friend bool operator==(const DoubleDouble&, const DoubleDouble&) = default;
};

// a + b as high + low, exactly.
[[gnu::always_inline]] inline DoubleDouble two_sum(double a, double b) {
    const double sum = a + b;
    const double b_part = sum - a;
    return {sum, (a - (sum - b_part)) + (b - b_part)};
}

// a + b exactly, for |a| >= |b| (or a = 0).
[[gnu::always_inline]] inline DoubleDouble fast_two_sum(double a, double b) {
    const double sum = a + b;
    return {sum, b - (sum - a)};
}

// a * b as high + low, exactly (no overflow for the magnitudes used here, far below 2^996).
struct SplitProduct {
    [[gnu::always_inline]] static DoubleDouble two_product(double a, double b) {
        constexpr double kSplitter = 134217729.0;  // 2^27 + 1
        const double a_scaled = kSplitter * a;
        const double a_high = a_scaled - (a_scaled - a);
        const double a_low = a - a_high;
        const double b_scaled = kSplitter * b;
        const double b_high = b_scaled - (b_scaled - b);
        const double b_low = b - b_high;
        const double product = a * b;
        const double error =
            ((a_high * b_high - product) + a_high * b_low + a_low * b_high) + a_low * b_low;
        return {product, error};
    }
};

// x * y, to about 2^-104 relative.
template <class Product = SplitProduct>
[[gnu::always_inline]] inline DoubleDouble multiply(DoubleDouble x, DoubleDouble y) {
    DoubleDouble p = Product::two_product(x.high, y.high);
    const double cross = x.high * y.low + x.low * y.high;
    return fast_two_sum(p.high, p.low + cross);
}

// x + y, to about 2^-104 of the larger.
[[gnu::always_inline]] inline DoubleDouble add(DoubleDouble x, DoubleDouble y) {
    const DoubleDouble s = two_sum(x.high, y.high);
    return fast_two_sum(s.high, s.low + (x.low + y.low));
}

// sum + x * y.
template <class Product = SplitProduct>
[[gnu::always_inline]] inline DoubleDouble multiply_add(DoubleDouble sum, DoubleDouble x,
                                                       DoubleDouble y) {
    return add(sum, multiply<Product>(x, y));
}

inline DoubleDouble negated(DoubleDouble x) { return {-x.high, -x.low}; }

// The double nearest to high + low.
inline double rounded(DoubleDouble x) { return x.high + x.low; }

}  // namespace tavrin
