// A process-wide memo of coefficients keyed by their doubled quantum numbers in argument order
// (six, or nine for the 9j symbol).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "support/process_store.hpp"

namespace tavrin {

template <std::size_t N>
using CoefficientKeyOf = std::array<std::int32_t, N>;
using CoefficientKey = CoefficientKeyOf<6>;

struct CoefficientKeyHash {
    template <std::size_t N>
    std::size_t operator()(const CoefficientKeyOf<N>& key) const noexcept {
        std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a over the values
        for (std::int32_t v : key) {
            h ^= static_cast<std::uint32_t>(v);
            h *= 0x100000001b3ULL;
        }
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

// Its lock is held only for a lookup or an insertion, never while a value is computed. A value
// that had to leave is computed again when asked for again, to the same bits.
template <std::size_t N>
using BasicCoefficientMemo = BoundedStore<CoefficientKeyOf<N>, double, CoefficientKeyHash>;

using CoefficientMemo = BasicCoefficientMemo<6>;
using NineJMemo = BasicCoefficientMemo<9>;

// The value kept for the key, or compute()'s, kept from now on.
template <std::size_t N, class Compute>
double find_or_compute(BasicCoefficientMemo<N>& memo, const CoefficientKeyOf<N>& key,
                       Compute&& compute) {
    if (const auto known = memo.find(key)) return *known;
    const double value = compute();
    memo.insert(key, value, 0);
    return value;
}

}  // namespace tavrin
