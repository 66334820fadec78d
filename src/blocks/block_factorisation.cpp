#include "blocks/block_factorisation.hpp"

#include <algorithm>
#include <numeric>
#include <string>

#include "blocks/block_contraction.hpp"
#include "blocks/block_cut.hpp"
#include "blocks/block_timing.hpp"
#include "blocks/leg_fusion.hpp"
#include "blocks/matrix.hpp"

namespace tavrin::blocks {

namespace {

Matrix leading_columns(const Matrix& m, std::size_t count) {
    Matrix out(m.rows, count);
    for (std::size_t i = 0; i < m.rows; ++i) {
        for (std::size_t j = 0; j < count; ++j) out(i, j) = m(i, j);
    }
    return out;
}

Matrix leading_rows(const Matrix& m, std::size_t count) {
    Matrix out(count, m.cols);
    std::copy_n(m.values.begin(), count * m.cols, out.values.begin());
    return out;
}

struct Multiplet {
    double value;  // the dense singular value
    double weight;
    std::size_t spin;
};

// How many multiplets of each spin the truncation keeps, and the weight it discards.
std::pair<std::vector<std::size_t>, double> kept_counts(
    const std::vector<std::vector<double>>& values, const std::vector<std::int32_t>& spins,
    const Truncation& truncation) {
    std::vector<Multiplet> all;
    for (std::size_t i = 0; i < values.size(); ++i) {
        for (const double s : values[i]) all.push_back({s, (spins[i] + 1.0) * s * s, i});
    }
    std::ranges::stable_sort(all, std::greater<>{}, &Multiplet::value);
    std::size_t keep = all.size();
    if (truncation.max_multiplets) keep = std::min<std::size_t>(keep, *truncation.max_multiplets);
    if (truncation.max_discarded_weight) {
        double tail = 0.0;
        std::size_t needed = all.size();
        while (needed > 0 && tail + all[needed - 1].weight <= *truncation.max_discarded_weight) {
            tail += all[--needed].weight;
        }
        keep = std::min(keep, needed);
    }
    keep = std::max<std::size_t>(keep, std::min<std::size_t>(all.size(), 1));
    std::vector<std::size_t> counts(values.size(), 0);
    double discarded = 0.0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i < keep) {
            ++counts[all[i].spin];
        } else {
            discarded += all[i].weight;
        }
    }
    return {counts, discarded};
}

Result<Leg> bond_leg(Direction direction, const std::vector<std::int32_t>& spins,
                     const std::vector<std::size_t>& counts) {
    std::vector<Sector> sectors;
    for (std::size_t i = 0; i < spins.size(); ++i) {
        if (counts[i] > 0) sectors.push_back({spins[i], counts[i]});
    }
    return Leg::create(direction, std::move(sectors));
}

std::span<const Leg> first_legs(const BlockTensor& t, std::size_t cut) {
    return std::span<const Leg>(t.legs()).first(cut);
}
std::span<const Leg> last_legs(const BlockTensor& t, std::size_t cut) {
    return std::span<const Leg>(t.legs()).subspan(cut);
}

}  // namespace

Status check_cut(const BlockTensor& tensor, std::size_t cut) {
    if (cut == 0 || cut >= tensor.rank()) {
        return fail(TavrinError::invalid_block_tensor(
            "a cut of a tensor of " + std::to_string(tensor.rank()) +
            " legs leaves at least one leg on either side; got " + std::to_string(cut) +
            " legs before it"));
    }
    return {};
}

Result<SingularValueFactors> singular_value_decomposition(const BlockTensor& tensor,
                                                          std::size_t cut,
                                                          const Truncation& truncation) {
    if (auto checked = check_cut(tensor, cut); !checked) return fail(std::move(checked.error()));
    const TimedSection timed(TimedWork::BlockLoop);
    auto form = cut_matrices(tensor, cut);
    if (!form) return fail(std::move(form.error()));
    std::vector<std::int32_t> spins;
    std::vector<tavrin::blocks::SingularValueDecomposition> parts;
    std::vector<std::vector<double>> dense_values;
    for (std::size_t i = 0; i < form->rows.size(); ++i) {
        const Matrix& m = form->matrices[i];
        if (m.rows == 0 || m.cols == 0) continue;
        spins.push_back(form->rows[i].twice_k);
        parts.push_back(tavrin::blocks::singular_value_decomposition(m));
        std::vector<double> values = parts.back().s;
        for (double& s : values) s /= dimension_root(spins.back());
        dense_values.push_back(std::move(values));
    }
    const auto [counts, discarded] = kept_counts(dense_values, spins, truncation);
    auto out_bond = bond_leg(Direction::outgoing(), spins, counts);
    if (!out_bond) return fail(std::move(out_bond.error()));
    std::vector<Matrix> left, right;
    std::vector<SpinValues> values;
    std::vector<Block> diagonal;
    for (std::size_t i = 0, sector = 0; i < spins.size(); ++i) {
        if (counts[i] == 0) continue;
        left.push_back(leading_columns(parts[i].u, counts[i]));
        right.push_back(leading_rows(parts[i].vt, counts[i]));
        values.push_back({spins[i], {dense_values[i].begin(),
                                     dense_values[i].begin() + static_cast<long>(counts[i])}});
        Tensor s = Tensor::zeros({counts[i], counts[i], 1});
        for (std::size_t c = 0; c < counts[i]; ++c) s.data()[c * counts[i] + c] = parts[i].s[c];
        const auto index = static_cast<std::uint32_t>(sector++);
        diagonal.push_back({{index, index}, std::move(s)});
    }
    const Leg in_bond = out_bond->flipped();
    auto s = BlockTensor::from_blocks({in_bond, *out_bond}, std::move(diagonal));
    if (!s) return fail(std::move(s.error()));
    return SingularValueFactors{
        left_factor(first_legs(tensor, cut), *out_bond, form->rows, left), std::move(*s),
        right_factor(in_bond, last_legs(tensor, cut), form->columns, right, true),
        std::move(values), discarded};
}

Result<QrFactors> qr_decomposition(const BlockTensor& tensor, std::size_t cut) {
    if (auto checked = check_cut(tensor, cut); !checked) return fail(std::move(checked.error()));
    const TimedSection timed(TimedWork::BlockLoop);
    auto form = cut_matrices(tensor, cut);
    if (!form) return fail(std::move(form.error()));
    std::vector<std::int32_t> spins;
    std::vector<std::size_t> counts;
    std::vector<Matrix> left, right;
    for (std::size_t i = 0; i < form->rows.size(); ++i) {
        const Matrix& m = form->matrices[i];
        if (m.rows == 0 || m.cols == 0) continue;
        QrDecomposition qr = tavrin::blocks::qr_decomposition(m);
        spins.push_back(form->rows[i].twice_k);
        counts.push_back(qr.q.cols);
        left.push_back(std::move(qr.q));
        right.push_back(std::move(qr.r));
    }
    auto out_bond = bond_leg(Direction::outgoing(), spins, counts);
    if (!out_bond) return fail(std::move(out_bond.error()));
    return QrFactors{left_factor(first_legs(tensor, cut), *out_bond, form->rows, left),
                     right_factor(out_bond->flipped(), last_legs(tensor, cut), form->columns,
                                  right, false)};
}

Result<Eigensystem> hermitian_eigensystem(const BlockTensor& h, CallContext& context) {
    const std::size_t n = h.rank();
    const std::size_t m = n / 2;
    bool paired = n % 2 == 0 && n > 0;
    for (std::size_t i = 0; paired && i < m; ++i) {
        paired = h.legs()[m + i] == h.legs()[i].flipped();
    }
    if (!paired) {
        return fail(TavrinError::invalid_block_tensor(
            "an operator's legs are rows then columns, column leg i the row leg i with its "
            "direction reversed"));
    }
    const std::span<const Leg> rows(h.legs().data(), m);
    auto isometry = fusion_isometry(rows);
    if (!isometry) return fail(std::move(isometry.error()));
    std::vector<std::size_t> columns(m), row_axes(m);
    std::iota(columns.begin(), columns.end(), m);
    std::iota(row_axes.begin(), row_axes.end(), 0);
    // H W: the operator's columns taken into the fused basis, whose blocks across the cut before
    // the bond are the matrices per spin, times sqrt(2k + 1).
    auto applied = contract(h, isometry->tensor, columns, row_axes, context);
    if (!applied) return fail(std::move(applied.error()));
    const TimedSection timed(TimedWork::BlockLoop);
    auto form = cut_matrices(*applied, m);
    if (!form) return fail(std::move(form.error()));
    std::vector<SpinValues> eigenvalues;
    std::vector<Matrix> vectors;
    const Leg& bond = isometry->tensor.legs().back();
    for (std::size_t i = 0; i < bond.sector_count(); ++i) {
        const std::int32_t twice_k = bond.twice_j(i);
        const CutSpin* spin = find_spin(form->rows, twice_k);
        const auto at = static_cast<std::size_t>(spin - form->rows.data());
        const CutSpin* fused = find_spin(form->columns, twice_k);
        // The bond's only column group is the bond sector itself: columns are its multiplets.
        Matrix matrix(spin->size, spin->size);
        const Matrix& read = form->matrices[at];
        for (std::size_t r = 0; r < matrix.rows; ++r) {
            for (std::size_t c = 0; c < matrix.cols; ++c) {
                matrix(r, c) = read(r, fused->groups[0].offset + c) / dimension_root(twice_k);
            }
        }
        SymmetricEigensystem system = symmetric_eigensystem(matrix);
        eigenvalues.push_back({twice_k, std::move(system.w)});
        vectors.push_back(std::move(system.v));
    }
    return Eigensystem{std::move(eigenvalues), left_factor(rows, bond, form->rows, vectors)};
}

}  // namespace tavrin::blocks
