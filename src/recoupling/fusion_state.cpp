#include "recoupling/fusion_state.hpp"

#include <algorithm>

#include "coupling/coupling_rule.hpp"
#include "recoupling/recoupling_coefficients.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

namespace {

using RowMap = std::unordered_map<Path, SparseRow, PathHash>;

// target += factor * source; both sorted by column, the result too (one merge, no sort).
void add_scaled(SparseRow& target, const SparseRow& source, double factor) {
    if (target.empty()) {
        target.reserve(source.size());
        for (const auto& [column, value] : source) target.emplace_back(column, factor * value);
        return;
    }
    SparseRow merged;
    merged.reserve(target.size() + source.size());
    auto t = target.begin();
    auto s = source.begin();
    while (t != target.end() || s != source.end()) {
        if (s == source.end() || (t != target.end() && t->first < s->first)) {
            merged.push_back(*t++);
        } else if (t == target.end() || s->first < t->first) {
            merged.emplace_back(s->first, factor * s->second);
            ++s;
        } else {
            merged.emplace_back(t->first, t->second + factor * s->second);
            ++t;
            ++s;
        }
    }
    target = std::move(merged);
}

Path interior(const std::vector<std::int32_t>& ext) {
    return Path(ext.begin() + 1, ext.end() - 1);
}

}  // namespace

std::size_t PathHash::operator()(const Path& path) const noexcept {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::int32_t v : path) {
        h ^= static_cast<std::uint32_t>(v);
        h *= 0x100000001b3ULL;
    }
    return static_cast<std::size_t>(h ^ (h >> 32));
}

std::vector<std::int32_t> extended_path(const Path& path, std::span<const std::int32_t> spins) {
    std::vector<std::int32_t> ext;
    ext.reserve(path.size() + 2);
    ext.push_back(spins.front());
    ext.insert(ext.end(), path.begin(), path.end());
    ext.push_back(0);
    return ext;
}

FusionState::FusionState(std::vector<std::int32_t> spins, std::vector<std::size_t> labels)
    : spins_(std::move(spins)), labels_(std::move(labels)) {
    check_invariant(spins_.size() >= 2 && spins_.size() == labels_.size(),
                    "a fusion state needs two or more labelled legs");
}

void FusionState::add(const Path& path, std::size_t column, double value) {
    add_scaled(rows_[path], SparseRow{{column, value}}, 1.0);
}

Status FusionState::exchange(std::size_t i, CallContext& context) {
    check_invariant(i + 1 < spins_.size(), "exchange of legs beyond the last");
    RowMap exchanged;
    for (const auto& [path, row] : rows_) {
        if (context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        std::vector<std::int32_t> ext = extended_path(path, spins_);
        if (i == 0) {
            add_scaled(exchanged[path], row,
                          first_vertex_exchange_phase(spins_[0], spins_[1], ext[1]));
            continue;
        }
        const std::int32_t a = ext[i - 1];
        const std::int32_t b = spins_[i];
        const std::int32_t c = spins_[i + 1];
        const std::int32_t e = ext[i];
        const std::int32_t big_k = ext[i + 1];
        const CouplingBounds bounds = coupling_bounds(a, c);
        for (std::int64_t e_new = bounds.low; e_new <= bounds.high; e_new += 2) {
            if (!couples(e_new, b, big_k)) {
                continue;
            }
            const auto k_new = static_cast<std::int32_t>(e_new);
            const double coefficient = exchange_coefficient(a, b, c, big_k, e, k_new);
            if (coefficient == 0.0) {
                continue;
            }
            ext[i] = k_new;
            add_scaled(exchanged[interior(ext)], row, coefficient);
        }
    }
    rows_ = std::move(exchanged);
    std::swap(spins_[i], spins_[i + 1]);
    std::swap(labels_[i], labels_[i + 1]);
    return {};
}

Status FusionState::move_leg(std::size_t from, std::size_t to, CallContext& context) {
    for (; from < to; ++from) {
        if (auto moved = exchange(from, context); !moved) return moved;
    }
    for (; from > to; --from) {
        if (auto moved = exchange(from - 1, context); !moved) return moved;
    }
    return {};
}

Status FusionState::arrange(std::span<const std::size_t> labels, CallContext& context) {
    check_invariant(labels.size() == labels_.size(), "arrangement of a different number of legs");
    for (std::size_t target = 0; target < labels.size(); ++target) {
        if (auto moved = move_leg(position_of(labels[target]), target, context); !moved) {
            return moved;
        }
    }
    return {};
}

Status FusionState::contract_singlet(std::size_t i, CallContext& context) {
    check_invariant(i + 1 < spins_.size() && spins_[i] == spins_[i + 1],
                    "singlet contraction of legs of different spins");
    check_invariant(spins_.size() >= 4, "singlet contraction would leave fewer than two legs");
    const std::int32_t s = spins_[i];
    RowMap contracted;
    for (const auto& [path, row] : rows_) {
        if (context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        std::vector<std::int32_t> ext = extended_path(path, spins_);
        // The two legs couple to 0 only where the spin before them comes back after them.
        const std::int32_t before = i == 0 ? 0 : ext[i - 1];
        if (ext[i + 1] != before) {
            continue;
        }
        const double coefficient =
            i == 0 ? 1.0 : associator(before, s, s, ext[i + 1], ext[i], 0);
        ext.erase(ext.begin() + static_cast<std::ptrdiff_t>(i),
                  ext.begin() + static_cast<std::ptrdiff_t>(i + 2));
        add_scaled(contracted[interior(ext)], row, coefficient);
    }
    rows_ = std::move(contracted);
    const auto first = static_cast<std::ptrdiff_t>(i);
    spins_.erase(spins_.begin() + first, spins_.begin() + first + 2);
    labels_.erase(labels_.begin() + first, labels_.begin() + first + 2);
    return {};
}

std::size_t FusionState::position_of(std::size_t label) const {
    const auto it = std::find(labels_.begin(), labels_.end(), label);
    check_invariant(it != labels_.end(), "no leg with this label");
    return static_cast<std::size_t>(it - labels_.begin());
}

}  // namespace tavrin::recoupling
