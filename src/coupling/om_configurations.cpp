#include "coupling/om_configurations.hpp"

#include <gmp.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

#include "core/spin.hpp"
#include "coupling/coupling_rule.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin {

namespace {

// Interval [lo, hi] of doubled spins stepping by 2.
struct SpinInterval {
    std::int64_t lo;
    std::int64_t hi;
    bool empty() const { return lo > hi; }
};

std::string spins_text(std::span<const std::int32_t> spins) {
    return bracketed_list(spins, [](std::int32_t twice) {
        return "\"j=" + Spin::create(twice)->to_string() + "\"";
    });
}

TavrinError not_coupleable(std::span<const std::int32_t> spins) {
    return TavrinError::invalid_cgt_spec(
        "Edge spins " + spins_text(spins) +
        " do not satisfy SU(2) angular momentum conservation. Cannot construct valid fusion "
        "tree coupling to j=0. Common causes: an odd number of half-integer spins or "
        "incompatible spin values.");
}

// The walk visits, at level i, internal spins k_i from coupling_range(k_(i-1), s_(i+1)) in
// ascending order. It keeps only those from which the remaining edges s_(i+2) ... s_(n-1) can
// still reach total spin 0: the spins reachable by coupling k with a set of spins of sum S and
// maximum M form the interval [max(0, 2M - S), S] (parity of S), so k must satisfy
// 2M - S <= k <= S with k + S even. Every kept branch ends in at least one configuration, and
// the order of the accepted configurations is that of the full walk.
class ConfigurationWalk {
public:
    explicit ConfigurationWalk(std::span<const std::int32_t> spins)
        : spins_(spins), levels_(spins.size() - 2), rest_sum_(levels_), rest_max_(levels_) {
        std::int64_t sum = 0;
        std::int64_t max = 0;
        for (std::size_t i = levels_; i-- > 0;) {
            sum += spins_[i + 2];
            max = std::max<std::int64_t>(max, spins_[i + 2]);
            rest_sum_[i] = sum;
            rest_max_[i] = max;
        }
    }

    Result<OmConfigurations> run() {
        std::vector<std::int64_t> current(levels_);
        std::vector<std::int64_t> high(levels_);
        SpinInterval first = feasible(0, spins_[0], spins_[1]);
        if (first.empty()) {
            return fail(not_coupleable(spins_));
        }
        current[0] = first.lo;
        high[0] = first.hi;
        std::size_t level = 0;
        while (true) {
            if (current[level] > high[level]) {
                if (level == 0) {
                    break;
                }
                --level;
                current[level] += 2;
                continue;
            }
            if (current[level] > std::numeric_limits<std::int32_t>::max()) {
                return fail(internal_spin_too_large(current[level]));
            }
            if (level + 1 == levels_) {
                if (auto accepted = accept(current); !accepted) {
                    return fail(std::move(accepted.error()));
                }
                current[level] += 2;
                continue;
            }
            SpinInterval next = feasible(level + 1, current[level], spins_[level + 2]);
            ++level;
            current[level] = next.lo;
            high[level] = next.hi;
        }
        return std::move(result_);
    }

private:
    SpinInterval feasible(std::size_t level, std::int64_t a, std::int64_t b) const {
        const std::int64_t sum = rest_sum_[level];
        if ((a + b + sum) % 2 != 0) {
            return {1, 0};
        }
        const CouplingBounds bounds = coupling_bounds(a, b);
        const std::int64_t lo = std::max(bounds.low, 2 * rest_max_[level] - sum);
        const std::int64_t hi = std::min(bounds.high, sum);
        return {lo, hi};
    }

    Status accept(const std::vector<std::int64_t>& current) {
        if (result_.count == kMaxOmConfigurations ||
            result_.flat.size() + levels_ > kMaxOmEntries) {
            return fail(too_many());
        }
        for (std::int64_t k : current) {
            result_.flat.push_back(static_cast<std::int32_t>(k));
        }
        ++result_.count;
        return {};
    }

    static TavrinError internal_spin_too_large(std::int64_t k) {
        return TavrinError::invalid_cgt_spec(
            "Internal spin 2j=" + std::to_string(k) +
            " of the fusion tree exceeds the largest supported 2j=" +
            std::to_string(std::numeric_limits<std::int32_t>::max()));
    }

    TavrinError too_many() const {
        return TavrinError::invalid_cgt_spec(
            "The edge spins admit more OM configurations than one specification can hold "
            "(limits: " + std::to_string(kMaxOmConfigurations) + " configurations, " +
            std::to_string(kMaxOmEntries) + " internal spins in all)");
    }

    std::span<const std::int32_t> spins_;
    std::size_t levels_;
    std::vector<std::int64_t> rest_sum_;  // sum of s_(i+2) ... s_(n-1)
    std::vector<std::int64_t> rest_max_;  // max of s_(i+2) ... s_(n-1)
    OmConfigurations result_;
};

// Path counts by levels: count(k) of the paths k_1 ... k_p that end in internal spin k, for the
// k of one parity in [low, high] from which the remaining edges can still reach 0. A level
// follows from the one before by window sums: k_p ranges over |k_(p-1) - s|, ..., k_(p-1) + s,
// so k_(p-1) ranges over |k_p - s|, ..., k_p + s. Each level is kept as prefix sums; the first
// (one path per k_1) and the last (only k_(n-2) = s_(n-1)) need no array.
template <class Number>
class PathCounts {
public:
    // Number supports +=, -=, construction from an unsigned count and overflowed(), the check
    // of the last +=.
    static std::optional<Number> count(std::span<const std::int32_t> spins) {
        const std::size_t n = spins.size();
        if (n == 3) return Number{couples(spins[0], spins[1], spins[2]) ? 1u : 0u};
        std::vector<std::int64_t> rest_sum(n + 1, 0);
        std::vector<std::int64_t> rest_max(n + 1, 0);
        for (std::size_t i = n; i-- > 0;) {
            rest_sum[i] = rest_sum[i + 1] + spins[i];
            rest_max[i] = std::max<std::int64_t>(rest_max[i + 1], spins[i]);
        }
        Level level;
        if (!restrict_range(coupling_bounds(spins[0], spins[1]), rest_sum[2], rest_max[2],
                            level)) {
            return Number{};
        }
        for (std::size_t p = 2; p + 2 < n; ++p) {
            const std::int64_t s = spins[p];
            Level next;
            if (!restrict_range(reach(level, s), rest_sum[p + 1], rest_max[p + 1], next)) {
                return Number{};
            }
            const std::size_t size = width(next.low, next.high);
            if (size > kMaxCountWidth) return std::nullopt;
            next.ones = false;
            next.prefix.assign(size + 1, Number{});
            for (std::size_t i = 0; i < size; ++i) {
                const std::int64_t k = next.low + 2 * static_cast<std::int64_t>(i);
                next.prefix[i + 1] = next.prefix[i];
                next.prefix[i + 1] += window(level, std::abs(k - s), k + s);
                if (next.prefix[i + 1].overflowed()) return std::nullopt;
            }
            level = std::move(next);
        }
        const std::int64_t s = spins[n - 2];
        const std::int64_t last = spins[n - 1];
        return window(level, std::abs(last - s), last + s);
    }

private:
    struct Level {
        std::int64_t low = 0;
        std::int64_t high = 0;
        bool ones = true;            // one path for each k (the first level)
        std::vector<Number> prefix;  // otherwise prefix[i] = sum of the counts below low + 2i
    };

    static std::size_t width(std::int64_t low, std::int64_t high) {
        return static_cast<std::size_t>((high - low) / 2 + 1);
    }

    // The sum of the counts of the k in [from, to] (of the level's parity).
    static Number window(const Level& level, std::int64_t from, std::int64_t to) {
        from = std::max(from, level.low);
        to = std::min(to, level.high);
        if (from > to) return Number{};
        const std::size_t first = width(level.low, from) - 1;
        const std::size_t end = width(level.low, to);
        if (level.ones) return Number{end - first};
        Number sum = level.prefix[end];
        sum -= level.prefix[first];
        return sum;
    }

    // The internal spins that a level's spins couple to with a spin s.
    static CouplingBounds reach(const Level& level, std::int64_t s) {
        const std::int64_t low = s >= level.low && s <= level.high
                                     ? (level.low + s) % 2
                                     : std::min(std::abs(level.low - s), std::abs(level.high - s));
        return {low, level.high + s};
    }

    // The range reach intersected with the spins that edges of sum `sum` and largest spin `max`
    // couple to 0 with; false when empty.
    static bool restrict_range(CouplingBounds reach, std::int64_t sum, std::int64_t max,
                               Level& level) {
        if ((reach.low + sum) % 2 != 0) return false;
        level.low = std::max(reach.low, 2 * max - sum);
        level.high = std::min(reach.high, sum);
        return level.low <= level.high;
    }
};

// Exact 64-bit counts that notice when a sum leaves the range.
class Count64 {
public:
    Count64() = default;
    explicit Count64(std::size_t value) : value_(value) {}
    Count64& operator+=(const Count64& other) {
        overflowed_ = __builtin_add_overflow(value_, other.value_, &value_);
        return *this;
    }
    Count64& operator-=(const Count64& other) {
        value_ -= other.value_;
        return *this;
    }
    bool overflowed() const { return overflowed_; }
    std::uint64_t value() const { return value_; }

private:
    std::uint64_t value_ = 0;
    bool overflowed_ = false;
};

// Counts of any size.
class BigCount {
public:
    BigCount() { mpz_init(value_); }
    explicit BigCount(std::size_t value) { mpz_init_set_ui(value_, value); }
    BigCount(const BigCount& other) { mpz_init_set(value_, other.value_); }
    BigCount& operator=(const BigCount& other) {
        mpz_set(value_, other.value_);
        return *this;
    }
    ~BigCount() { mpz_clear(value_); }
    BigCount& operator+=(const BigCount& other) {
        mpz_add(value_, value_, other.value_);
        return *this;
    }
    BigCount& operator-=(const BigCount& other) {
        mpz_sub(value_, value_, other.value_);
        return *this;
    }
    bool overflowed() const { return false; }
    std::string decimal() const {
        std::string text(mpz_sizeinbase(value_, 10) + 2, '\0');
        mpz_get_str(text.data(), 10, value_);
        text.resize(std::char_traits<char>::length(text.c_str()));
        return text;
    }

private:
    mpz_t value_;
};

}  // namespace

TavrinError two_edge_spin_mismatch(std::int32_t a, std::int32_t b) {
    return TavrinError::invalid_cgt_spec("Two-edge CG tensor requires equal spins, got j=" +
                                         Spin::create(a)->to_string() + " and j=" +
                                         Spin::create(b)->to_string());
}

Result<OmConfigurations> enumerate_om_configurations(std::span<const std::int32_t> spins) {
    if (spins.size() == 2 && spins[0] != spins[1]) {
        return fail(two_edge_spin_mismatch(spins[0], spins[1]));
    }
    if (spins.size() <= 2) {
        return OmConfigurations{{}, 1};
    }
    return ConfigurationWalk(spins).run();
}

bool admits_invariant(std::span<const std::int32_t> spins) noexcept {
    std::int64_t sum = 0;
    std::int64_t max = 0;
    for (const std::int32_t s : spins) {
        sum += s;
        max = std::max<std::int64_t>(max, s);
    }
    return sum % 2 == 0 && 2 * max <= sum;
}

std::optional<std::uint64_t> count_invariants(std::span<const std::int32_t> spins) {
    // Without internal spins there is one tree, or none.
    if (!admits_invariant(spins)) return 0;
    if (spins.size() < 3) return 1;
    const auto count = PathCounts<Count64>::count(spins);
    if (!count) return std::nullopt;
    return count->value();
}

std::optional<std::string> count_invariants_decimal(std::span<const std::int32_t> spins) {
    if (spins.size() < 3 || !admits_invariant(spins)) {
        return std::to_string(admits_invariant(spins) ? 1 : 0);
    }
    const auto count = PathCounts<BigCount>::count(spins);
    if (!count) return std::nullopt;
    return count->decimal();
}

}  // namespace tavrin
