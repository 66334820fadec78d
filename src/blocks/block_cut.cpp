#include "blocks/block_cut.hpp"

#include <algorithm>
#include <cmath>
#include <map>

#include "coupling/om_configurations.hpp"

namespace tavrin::blocks {

namespace {

constexpr std::uint64_t kMaxSideTuples = std::uint64_t{1} << 24;

std::uint64_t multiplets_of(std::span<const Leg> legs, const SectorTuple& sectors) {
    std::uint64_t count = 1;
    for (std::size_t k = 0; k < legs.size(); ++k) count *= legs[k].multiplicity(sectors[k]);
    return count;
}

const CutGroup* find_group(const CutSpin& spin, std::span<const std::uint32_t> sectors) {
    const auto at = std::lower_bound(
        spin.groups.begin(), spin.groups.end(), sectors,
        [](const CutGroup& g, std::span<const std::uint32_t> key) {
            return std::ranges::lexicographical_compare(g.sectors, key);
        });
    if (at == spin.groups.end() || !std::ranges::equal(at->sectors, sectors)) return nullptr;
    return &*at;
}

std::uint64_t configuration_index(const CutGroup& group, std::span<const std::int32_t> config) {
    const std::size_t length = config.size();
    for (std::uint64_t a = 0; a < group.om_dimension; ++a) {
        if (std::equal(config.begin(), config.end(),
                       group.configurations.begin() + static_cast<std::ptrdiff_t>(a * length))) {
            return a;
        }
    }
    return group.om_dimension;  // not reached for configurations of the same spins
}

}  // namespace

double dimension_root(std::int32_t twice_k) { return std::sqrt(double(twice_k) + 1.0); }

const CutSpin* find_spin(const std::vector<CutSpin>& side, std::int32_t twice_k) {
    const auto at = std::ranges::lower_bound(side, twice_k, {}, &CutSpin::twice_k);
    return at != side.end() && at->twice_k == twice_k ? &*at : nullptr;
}

Result<std::vector<CutSpin>> cut_side(std::span<const Leg> legs, bool bond_last) {
    std::uint64_t tuples = 1;
    for (const Leg& leg : legs) {
        tuples *= leg.sector_count();
        if (tuples > kMaxSideTuples) {
            return fail(TavrinError::invalid_block_tensor(
                "one side of the cut has more than 2^24 sector tuples"));
        }
    }
    std::map<std::int32_t, CutSpin> by_spin;
    const std::size_t n = legs.size();
    SectorTuple tuple(n, 0);
    std::vector<std::int32_t> spins(n + 1);
    for (std::uint64_t visited = 0; visited < tuples; ++visited) {
        std::int64_t total = 0;
        for (std::size_t k = 0; k < n; ++k) {
            spins[bond_last ? k : k + 1] = legs[k].twice_j(tuple[k]);
            total += legs[k].twice_j(tuple[k]);
        }
        for (std::int64_t twice_k = total % 2; twice_k <= total; twice_k += 2) {
            spins[bond_last ? n : 0] = static_cast<std::int32_t>(twice_k);
            if (!admits_invariant(spins)) continue;
            auto configurations = enumerate_om_configurations(spins);
            if (!configurations) return fail(std::move(configurations.error()));
            CutSpin& spin = by_spin[static_cast<std::int32_t>(twice_k)];
            spin.twice_k = static_cast<std::int32_t>(twice_k);
            const std::uint64_t multiplets = multiplets_of(legs, tuple);
            spin.groups.push_back({tuple, multiplets, configurations->count,
                                   std::move(configurations->flat), spin.size});
            spin.size += multiplets * spin.groups.back().om_dimension;
        }
        for (std::size_t k = n; k-- > 0;) {
            if (++tuple[k] < legs[k].sector_count()) break;
            tuple[k] = 0;
        }
    }
    std::vector<CutSpin> side;
    for (auto& [k, spin] : by_spin) side.push_back(std::move(spin));
    return side;
}

namespace {

// Calls visit(matrix, row, column, entry) for every entry of every block of the tensor's
// structure: where it sits in the matrices across the cut.
template <class Blocks, class Visit>
Status for_each_cut_entry(std::span<const Leg> legs, Blocks& blocks,
                          std::size_t cut, const CutMatrices& form, Visit&& visit) {
    const std::size_t n = legs.size();
    const std::size_t length = n > 2 ? n - 2 : 0;
    std::vector<std::int32_t> spins(n);
    for (auto& block : blocks) {
        for (std::size_t k = 0; k < n; ++k) spins[k] = legs[k].twice_j(block.sectors[k]);
        auto configurations = enumerate_om_configurations(spins);
        if (!configurations) return fail(std::move(configurations.error()));
        const std::span<const std::uint32_t> row_sectors(block.sectors.data(), cut);
        const std::span<const std::uint32_t> column_sectors(block.sectors.data() + cut, n - cut);
        const std::uint64_t row_multiplets = multiplets_of(legs.first(cut), block.sectors);
        const std::uint64_t om = configurations->count;
        const std::uint64_t column_multiplets = block.data.size() / (row_multiplets * om);
        auto* values = block.data.data().data();
        for (std::uint64_t a = 0; a < om; ++a) {
            const std::span<const std::int32_t> config(configurations->flat.data() + a * length,
                                                       length);
            const std::int32_t twice_k = cut == 1 ? spins[0] : config[cut - 2];
            const auto row_spin =
                std::ranges::lower_bound(form.rows, twice_k, {}, &CutSpin::twice_k);
            const CutSpin* column_spin = find_spin(form.columns, twice_k);
            const CutGroup* row = find_group(*row_spin, row_sectors);
            const CutGroup* column = find_group(*column_spin, column_sectors);
            const std::uint64_t left = configuration_index(*row, config.first(cut - 1));
            const std::uint64_t right = configuration_index(*column, config.subspan(cut - 1));
            const auto matrix = static_cast<std::size_t>(row_spin - form.rows.begin());
            for (std::uint64_t t = 0; t < row_multiplets; ++t) {
                const std::uint64_t r = row->offset + t * row->om_dimension + left;
                for (std::uint64_t u = 0; u < column_multiplets; ++u) {
                    const std::uint64_t c = column->offset + u * column->om_dimension + right;
                    visit(matrix, r, c, values[(t * column_multiplets + u) * om + a]);
                }
            }
        }
    }
    return {};
}

}  // namespace

Result<CutMatrices> cut_matrices(const BlockTensor& tensor, std::size_t cut) {
    const std::span<const Leg> legs(tensor.legs());
    CutMatrices form;
    auto rows = cut_side(legs.first(cut), true);
    if (!rows) return fail(std::move(rows.error()));
    auto columns = cut_side(legs.subspan(cut), false);
    if (!columns) return fail(std::move(columns.error()));
    form.rows = std::move(*rows);
    form.columns = std::move(*columns);
    for (const CutSpin& row : form.rows) {
        const CutSpin* column = find_spin(form.columns, row.twice_k);
        form.matrices.emplace_back(column ? row.size : 0, column ? column->size : 0);
    }
    auto read = for_each_cut_entry(legs, tensor.blocks(), cut, form,
                                   [&](std::size_t m, std::uint64_t r, std::uint64_t c,
                                       double entry) { form.matrices[m](r, c) = entry; });
    if (!read) return fail(std::move(read.error()));
    return form;
}

BlockTensor from_cut_matrices(std::vector<Leg> legs, std::size_t cut, const CutMatrices& form) {
    BlockTensor tensor = *BlockTensor::zeros(std::move(legs));
    const std::vector<Leg> copy = tensor.legs();
    (void)for_each_cut_entry(copy, tensor.blocks(), cut, form,
                             [&](std::size_t m, std::uint64_t r, std::uint64_t c, double& entry) {
                                 const Matrix& matrix = form.matrices[m];
                                 if (r < matrix.rows && c < matrix.cols) entry = matrix(r, c);
                             });
    return tensor;
}

BlockTensor left_factor(std::span<const Leg> row_legs, const Leg& bond,
                        const std::vector<CutSpin>& rows, std::span<const Matrix> factors) {
    std::vector<Leg> legs(row_legs.begin(), row_legs.end());
    legs.push_back(bond);
    BlockTensor factor = *BlockTensor::zeros(legs);
    for (std::size_t i = 0; i < bond.sector_count(); ++i) {
        const CutSpin* spin = find_spin(rows, bond.twice_j(i));
        const Matrix& f = factors[i];
        const double scale = dimension_root(bond.twice_j(i));
        for (const CutGroup& group : spin->groups) {
            SectorTuple sectors = group.sectors;
            sectors.push_back(static_cast<std::uint32_t>(i));
            double* out = factor.find(sectors)->data.data().data();
            const std::uint64_t om = group.om_dimension;
            for (std::uint64_t t = 0; t < group.multiplets; ++t) {
                for (std::uint64_t chi = 0; chi < f.cols; ++chi) {
                    for (std::uint64_t l = 0; l < om; ++l) {
                        out[(t * f.cols + chi) * om + l] =
                            scale * f(group.offset + t * om + l, chi);
                    }
                }
            }
        }
    }
    return factor;
}

BlockTensor right_factor(const Leg& bond, std::span<const Leg> column_legs,
                         const std::vector<CutSpin>& columns, std::span<const Matrix> factors,
                         bool scaled) {
    std::vector<Leg> legs{bond};
    legs.insert(legs.end(), column_legs.begin(), column_legs.end());
    BlockTensor factor = *BlockTensor::zeros(legs);
    for (std::size_t i = 0; i < bond.sector_count(); ++i) {
        const CutSpin* spin = find_spin(columns, bond.twice_j(i));
        if (spin == nullptr) continue;  // no block couples to this spin
        const Matrix& f = factors[i];
        const double scale = scaled ? dimension_root(bond.twice_j(i)) : 1.0;
        for (const CutGroup& group : spin->groups) {
            SectorTuple sectors{static_cast<std::uint32_t>(i)};
            sectors.insert(sectors.end(), group.sectors.begin(), group.sectors.end());
            double* out = factor.find(sectors)->data.data().data();
            const std::uint64_t om = group.om_dimension;
            for (std::uint64_t chi = 0; chi < f.rows; ++chi) {
                for (std::uint64_t t = 0; t < group.multiplets; ++t) {
                    for (std::uint64_t r = 0; r < om; ++r) {
                        out[(chi * group.multiplets + t) * om + r] =
                            scale * f(chi, group.offset + t * om + r);
                    }
                }
            }
        }
    }
    return factor;
}

}  // namespace tavrin::blocks
