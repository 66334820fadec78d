#include "recoupling/tree_moves.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "coupling/coupling_rule.hpp"
#include "recoupling/recoupling_coefficients.hpp"
#include "support/assertion.hpp"

namespace tavrin::recoupling {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

std::uint64_t hash_values(std::span<const std::int32_t> values) {
    std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
    for (const std::int32_t v : values) {
        h ^= static_cast<std::uint32_t>(v);
        h *= 0x100000001b3ULL;
    }
    return h ^ (h >> 29);
}

enum CoefficientKind : std::int32_t { kExchange, kSinglet, kNegated };

DoubleDouble exchange_value(const std::array<std::int32_t, 7>& id) {
    return exchange_coefficient(id[1], id[2], id[3], id[4], id[5], id[6]);
}
DoubleDouble singlet_value(const std::array<std::int32_t, 7>& id) {
    return singlet_weight(id[1], id[2], id[3], static_cast<double>(id[4]));
}

}  // namespace

// The rows of a state being made, found by their paths: open addressing over row numbers, the
// paths themselves kept in the state's flat list.
class TreeMoves::PathIndex {
public:
    PathIndex(std::size_t length, std::vector<std::int32_t>& paths, std::size_t expected)
        : length_(length), paths_(paths) {
        std::size_t capacity = 16;
        while (capacity < 2 * expected) capacity *= 2;
        table_.assign(capacity, kNone);
    }

    // The row of the path, added at the end of the list when new.
    std::uint32_t find_or_add(std::span<const std::int32_t> path) {
        if (2 * (rows_ + 1) > table_.size()) grow();
        std::size_t at = hash_values(path) & (table_.size() - 1);
        while (table_[at] != kNone) {
            if (std::equal(path.begin(), path.end(), paths_.begin() + stored(table_[at]))) {
                return table_[at];
            }
            at = (at + 1) & (table_.size() - 1);
        }
        paths_.insert(paths_.end(), path.begin(), path.end());
        table_[at] = static_cast<std::uint32_t>(rows_);
        return static_cast<std::uint32_t>(rows_++);
    }

    std::size_t rows() const { return rows_; }

private:
    std::ptrdiff_t stored(std::uint32_t row) const {
        return static_cast<std::ptrdiff_t>(std::size_t{row} * length_);
    }

    void grow() {
        std::vector<std::uint32_t> old = std::move(table_);
        table_.assign(2 * old.size(), kNone);
        for (const std::uint32_t row : old) {
            if (row == kNone) continue;
            const std::span<const std::int32_t> path(paths_.data() + stored(row), length_);
            std::size_t at = hash_values(path) & (table_.size() - 1);
            while (table_[at] != kNone) at = (at + 1) & (table_.size() - 1);
            table_[at] = row;
        }
    }

    std::size_t length_;
    std::vector<std::int32_t>& paths_;
    std::vector<std::uint32_t> table_;
    std::size_t rows_ = 0;
};

std::size_t TreeMoves::CoefficientIdHash::operator()(const CoefficientId& id) const noexcept {
    return static_cast<std::size_t>(hash_values(id));
}

std::vector<std::int32_t> extended_path(std::span<const std::int32_t> path,
                                        std::span<const std::int32_t> spins) {
    std::vector<std::int32_t> ext;
    ext.reserve(path.size() + 2);
    ext.push_back(spins.front());
    ext.insert(ext.end(), path.begin(), path.end());
    ext.push_back(0);
    return ext;
}

TreeMoves::TreeMoves(std::vector<std::int32_t> spins, std::vector<std::size_t> labels)
    : spins_(std::move(spins)), labels_(std::move(labels)), row_begin_{0} {
    check_invariant(spins_.size() >= 2 && spins_.size() == labels_.size(),
                    "a fusion state needs two or more labelled legs");
}

void TreeMoves::add_initial(std::span<const std::int32_t> path, std::uint32_t column) {
    check_invariant(program_.step_slots.empty() && path.size() == path_length(),
                    "initial paths come before the moves and fit the legs");
    paths_.insert(paths_.end(), path.begin(), path.end());
    columns_.push_back(column);
    negated_.push_back(false);
    row_begin_.push_back(static_cast<std::uint32_t>(columns_.size()));
    program_.initial_slots = static_cast<std::uint32_t>(columns_.size());
}

std::uint32_t TreeMoves::coefficient(const CoefficientId& id,
                                     DoubleDouble (*value)(const CoefficientId&)) {
    const auto [it, inserted] = coefficient_index_.try_emplace(
        id, static_cast<std::uint32_t>(program_.coefficients.size()));
    if (inserted) program_.coefficients.push_back(value(id));
    return it->second;
}

std::uint32_t TreeMoves::negated_coefficient(std::uint32_t index) {
    const CoefficientId id{kNegated, static_cast<std::int32_t>(index), 0, 0, 0, 0, 0};
    const auto [it, inserted] = coefficient_index_.try_emplace(
        id, static_cast<std::uint32_t>(program_.coefficients.size()));
    if (inserted) program_.coefficients.push_back(negated(program_.coefficients[index]));
    return it->second;
}

Status TreeMoves::exchange(std::size_t i, CallContext& context) {
    check_invariant(i + 1 < spins_.size(), "exchange of legs beyond the last");
    if (i == 0) {
        // Every path stays and changes sign, or not.
        for (std::size_t row = 0; row < row_count(); ++row) {
            const std::int32_t k1 = path_length() == 0 ? 0 : path(row)[0];
            if (first_vertex_exchange_phase(spins_[0], spins_[1], k1) > 0) continue;
            for (std::uint32_t slot = row_begin_[row]; slot < row_begin_[row + 1]; ++slot) {
                negated_[slot] = !negated_[slot];
            }
        }
        std::swap(spins_[0], spins_[1]);
        std::swap(labels_[0], labels_[1]);
        return {};
    }
    std::vector<std::int32_t> new_paths;
    new_paths.reserve(paths_.size());
    PathIndex index(path_length(), new_paths, row_count());
    std::vector<Contribution> contributions;
    std::vector<std::int32_t> ext;
    for (std::size_t row = 0; row < row_count(); ++row) {
        if (row % 256 == 0 && context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        ext = extended_path(path(row), spins_);
        const auto source = static_cast<std::uint32_t>(row);
        const std::int32_t a = ext[i - 1];
        const std::int32_t b = spins_[i];
        const std::int32_t c = spins_[i + 1];
        const std::int32_t e = ext[i];
        const std::int32_t big_k = ext[i + 1];
        const CouplingBounds bounds = coupling_bounds(a, c);
        for (std::int64_t e_new = bounds.low; e_new <= bounds.high; e_new += 2) {
            if (!couples(e_new, b, big_k)) continue;
            const auto k_new = static_cast<std::int32_t>(e_new);
            const std::uint32_t id =
                coefficient({kExchange, a, b, c, big_k, e, k_new}, exchange_value);
            if (program_.coefficients[id].high == 0.0) continue;
            ext[i] = k_new;
            contributions.push_back(
                {source, index.find_or_add({ext.data() + 1, path_length()}), id});
        }
    }
    std::swap(spins_[i], spins_[i + 1]);
    std::swap(labels_[i], labels_[i + 1]);
    record_step(std::move(new_paths), index.rows(), contributions);
    return {};
}

Status TreeMoves::move_leg(std::size_t from, std::size_t to, CallContext& context) {
    for (; from < to; ++from) {
        if (auto moved = exchange(from, context); !moved) return moved;
    }
    for (; from > to; --from) {
        if (auto moved = exchange(from - 1, context); !moved) return moved;
    }
    return {};
}

Status TreeMoves::arrange(std::span<const std::size_t> labels, CallContext& context) {
    check_invariant(labels.size() == labels_.size(), "arrangement of a different number of legs");
    for (std::size_t target = 0; target < labels.size(); ++target) {
        if (auto moved = move_leg(position_of(labels[target]), target, context); !moved) {
            return moved;
        }
    }
    return {};
}

Status TreeMoves::contract_singlet(std::size_t i, double reversal, CallContext& context) {
    check_invariant(i + 1 < spins_.size() && spins_[i] == spins_[i + 1],
                    "singlet contraction of legs of different spins");
    check_invariant(spins_.size() >= 4, "singlet contraction would leave fewer than two legs");
    const std::int32_t s = spins_[i];
    const std::size_t new_length = path_length() - 2;
    std::vector<std::int32_t> new_paths;
    PathIndex index(new_length, new_paths, row_count());
    std::vector<Contribution> contributions;
    std::vector<std::int32_t> ext;
    for (std::size_t row = 0; row < row_count(); ++row) {
        if (row % 256 == 0 && context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        ext = extended_path(path(row), spins_);
        // The two legs couple to 0 only where the spin before them comes back after them.
        const std::int32_t before = i == 0 ? 0 : ext[i - 1];
        if (ext[i + 1] != before) continue;
        const std::uint32_t id = coefficient(
            {kSinglet, before, s, ext[i], reversal < 0 ? -1 : 1, 0, 0}, singlet_value);
        ext.erase(ext.begin() + static_cast<std::ptrdiff_t>(i),
                  ext.begin() + static_cast<std::ptrdiff_t>(i + 2));
        contributions.push_back(
            {static_cast<std::uint32_t>(row), index.find_or_add({ext.data() + 1, new_length}),
             id});
    }
    const auto first = static_cast<std::ptrdiff_t>(i);
    spins_.erase(spins_.begin() + first, spins_.begin() + first + 2);
    labels_.erase(labels_.begin() + first, labels_.begin() + first + 2);
    record_step(std::move(new_paths), index.rows(), contributions);
    return {};
}

std::size_t TreeMoves::position_of(std::size_t label) const {
    const auto it = std::find(labels_.begin(), labels_.end(), label);
    check_invariant(it != labels_.end(), "no leg with this label");
    return static_cast<std::size_t>(it - labels_.begin());
}

void TreeMoves::record_step(std::vector<std::int32_t> new_paths, std::size_t new_rows,
                            const std::vector<Contribution>& contributions) {
    // The columns of every new row: those of all rows contributing to it.
    std::vector<std::vector<std::uint32_t>> row_columns(new_rows);
    for (const Contribution& c : contributions) {
        for (std::uint32_t slot = row_begin_[c.source_row]; slot < row_begin_[c.source_row + 1];
             ++slot) {
            row_columns[c.target_row].push_back(columns_[slot]);
        }
    }
    std::vector<std::uint32_t> new_row_begin{0};
    std::vector<std::uint32_t> new_columns;
    for (auto& columns : row_columns) {
        std::sort(columns.begin(), columns.end());
        columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
        new_columns.insert(new_columns.end(), columns.begin(), columns.end());
        new_row_begin.push_back(static_cast<std::uint32_t>(new_columns.size()));
    }
    // A source row with the columns of its target row moves as a whole; otherwise slot by slot.
    for (const Contribution& c : contributions) {
        const std::uint32_t source_begin = row_begin_[c.source_row];
        const std::uint32_t source_end = row_begin_[c.source_row + 1];
        const std::uint32_t target_begin = new_row_begin[c.target_row];
        const std::uint32_t target_end = new_row_begin[c.target_row + 1];
        const std::uint32_t length = source_end - source_begin;
        if (length > 1 && length == target_end - target_begin) {
            // The signs of a row's slots are those of its path: all alike.
            const std::uint32_t coefficient =
                negated_[source_begin] ? negated_coefficient(c.coefficient) : c.coefficient;
            program_.row_terms.push_back({target_begin, source_begin, length, coefficient});
            continue;
        }
        const auto first = new_columns.begin() + target_begin;
        const auto last = new_columns.begin() + target_end;
        for (std::uint32_t slot = source_begin; slot < source_end; ++slot) {
            const auto target =
                static_cast<std::uint32_t>(std::lower_bound(first, last, columns_[slot]) -
                                           new_columns.begin());
            const std::uint32_t coefficient =
                negated_[slot] ? negated_coefficient(c.coefficient) : c.coefficient;
            program_.slot_terms.push_back({target, slot, coefficient});
        }
    }
    program_.row_terms_end.push_back(static_cast<std::uint32_t>(program_.row_terms.size()));
    program_.slot_terms_end.push_back(static_cast<std::uint32_t>(program_.slot_terms.size()));
    program_.step_slots.push_back(static_cast<std::uint32_t>(new_columns.size()));
    paths_ = std::move(new_paths);
    row_begin_ = std::move(new_row_begin);
    negated_.assign(new_columns.size(), false);
    columns_ = std::move(new_columns);
}

}  // namespace tavrin::recoupling
