// The 3j symbol is a Clebsch-Gordan coefficient divided by sqrt(2 j3 + 1), up to a phase: the
// exact evaluation of the coefficient leaves the factor 2 j3 + 1 out of its square root and
// applies the phase to the exact value, so the symbol is rounded once.
#include "coupling/wigner_3j.hpp"

#include "coupling/clebsch_gordan_exact.hpp"
#include "coupling/coefficient_memo.hpp"
#include "coupling/coupling_rule.hpp"

namespace tavrin {
namespace {

// Never destroyed, so it outlives every thread that may call in; made with the library, so
// that it is listed before its first use.
CoefficientMemo& three_j_memo() {
    static CoefficientMemo* const memo =
        new CoefficientMemo(kThreeJMemoName, kThreeJMemoBytesVariable, kDefaultThreeJMemoBytes);
    return *memo;
}
[[maybe_unused]] const bool made_at_start = (three_j_memo(), true);

bool fails_selection_rules(std::int64_t two_j1, std::int64_t two_j2, std::int64_t two_j3,
                           std::int64_t two_m1, std::int64_t two_m2, std::int64_t two_m3) {
    const auto outside = [](std::int64_t two_m, std::int64_t two_j) {
        return two_m > two_j || -two_m > two_j;
    };
    return two_m1 + two_m2 + two_m3 != 0 || !couples(two_j1, two_j2, two_j3) ||
           outside(two_m1, two_j1) || outside(two_m2, two_j2) || outside(two_m3, two_j3);
}

}  // namespace

double wigner_3j_exact(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                       std::int32_t two_m1, std::int32_t two_m2, std::int32_t two_m3) {
    if (fails_selection_rules(two_j1, two_j2, two_j3, two_m1, two_m2, two_m3)) return 0.0;
    return clebsch_gordan_exact(two_j1, two_m1, two_j2, two_m2, two_j3, -two_m3,
                                CgValue::three_j);
}

double wigner_3j(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j3,
                 std::int32_t two_m1, std::int32_t two_m2, std::int32_t two_m3) {
    if (fails_selection_rules(two_j1, two_j2, two_j3, two_m1, two_m2, two_m3)) return 0.0;
    return find_or_compute(three_j_memo(), {two_j1, two_j2, two_j3, two_m1, two_m2, two_m3}, [&] {
        return wigner_3j_exact(two_j1, two_j2, two_j3, two_m1, two_m2, two_m3);
    });
}

}  // namespace tavrin
