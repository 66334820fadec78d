// A process-wide memo of coefficients keyed by six doubled quantum numbers in argument order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "support/process_store.hpp"

namespace tavrin {

using CoefficientKey = std::array<std::int32_t, 6>;

struct CoefficientKeyHash {
    std::size_t operator()(const CoefficientKey& key) const noexcept {
        std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a over the six values
        for (std::int32_t v : key) {
            h ^= static_cast<std::uint32_t>(v);
            h *= 0x100000001b3ULL;
        }
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

// Its lock is held only for a lookup or an insertion, never while a value is computed. A value
// that had to leave is computed again when asked for again, to the same bits.
using CoefficientMemo = BoundedStore<CoefficientKey, double, CoefficientKeyHash>;

}  // namespace tavrin
