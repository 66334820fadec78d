// Plain matrix product with a fixed order of accumulation.
#pragma once

#include <cstdint>

namespace tavrin {

// c[p*Q + q] += sum over k of a[p*K + k] * b[k*Q + q], for row-major a [P, K], b [K, Q] and
// c [P, Q]. Each element of c receives its terms one at a time in ascending k; terms whose
// a-entry is 0.0 are skipped. With c all zeros on entry, every element is therefore the sum
// accumulated from 0.0 in ascending k. c must not overlap a or b.
void matmul_accumulate_ascending_k(const double* a, const double* b, double* c, std::uint64_t P,
                                   std::uint64_t K, std::uint64_t Q);

}  // namespace tavrin
