#include "coupling/om_configurations.hpp"

#include <algorithm>
#include <limits>
#include <string>

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

}  // namespace

Result<OmConfigurations> enumerate_om_configurations(std::span<const std::int32_t> spins) {
    if (spins.size() <= 2) {
        return OmConfigurations{{}, 1};
    }
    return ConfigurationWalk(spins).run();
}

}  // namespace tavrin
