#include "basis/basis_builder.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <span>
#include <tuple>
#include <vector>

#include "basis/fusion_tree.hpp"
#include "support/assertion.hpp"
#include "tensor/matmul.hpp"
#include "specs/cg_spec.hpp"

namespace tavrin {

namespace {

std::vector<Edge> canonical_edges(std::span<const std::int32_t> spins) {
    std::vector<Edge> edges;
    edges.reserve(spins.size());
    for (std::size_t k = 0; k < spins.size(); ++k) {
        const Spin j = *Spin::create(spins[k]);
        edges.push_back(k + 1 < spins.size() ? Edge::incoming(j) : Edge::outgoing(j));
    }
    return edges;
}

// Builds the OM tensors of consecutive configurations of one spin list. Configurations come
// in lexicographic order, so neighbours share leading internal spins: the partial trees of a
// shared prefix are kept and vertex tensors are made once per call. Every tensor is computed
// by exactly the operations of build_om_tensor, so the results are the same to the bit.
class FusionTreeBuilder {
public:
    explicit FusionTreeBuilder(std::span<const std::int32_t> spins) : spins_(spins) {}

    // The partial tree of the configuration prefix (n >= 3; up to n - 2 entries). A prefix
    // that changes early rebuilds several large trees: the stop request is asked before each.
    Result<const Tensor*> build(std::span<const std::int32_t> config, CallContext& context) {
        if (spins_.size() == 3) {
            return &vertex(spins_[0], spins_[1], spins_[2]);
        }
        std::size_t keep = 0;
        while (keep < partial_.size() && keep < config.size() && previous_[keep] == config[keep]) {
            ++keep;
        }
        partial_.erase(partial_.begin() + static_cast<std::ptrdiff_t>(keep), partial_.end());
        previous_.assign(config.begin(), config.end());
        for (std::size_t d = keep; d < config.size(); ++d) {
            if (context.should_stop()) {
                return fail(TavrinError::interrupted());
            }
            if (d == 0) {
                partial_.push_back(vertex(spins_[0], spins_[1], config[0]));
                continue;
            }
            auto next = contract_last_first(partial_[d - 1],
                                            vertex(config[d - 1], spins_[d + 1], config[d]));
            if (!next) {
                return fail(std::move(next.error()));
            }
            partial_.push_back(std::move(*next));
        }
        return &partial_.back();
    }

    const Tensor& vertex(std::int32_t a, std::int32_t b, std::int32_t c) {
        auto key = std::make_tuple(a, b, c);
        auto found = vertices_.find(key);
        if (found == vertices_.end()) {
            found = vertices_.emplace(key, cg_tensor(a, b, c)).first;
        }
        return found->second;
    }

private:
    std::span<const std::int32_t> spins_;
    std::map<std::tuple<std::int32_t, std::int32_t, std::int32_t>, Tensor> vertices_;
    std::vector<Tensor> partial_;  // partial_[d]: edges 0 ... d+1 fused into internal spin u_d
    std::vector<std::int32_t> previous_;
};

// Writes t / norm into slot a of the last axis of basis (t has the basis' other axes).
void store_normalised_slice(Tensor& basis, std::size_t a, const Tensor& t, double norm) {
    const std::uint64_t om = basis.shape().back();
    std::span<double> out = basis.data();
    std::span<const double> in = t.data();
    for (std::size_t i = 0; i < in.size(); ++i) {
        out[i * om + a] = in[i] / norm;
    }
}

// Writes (left contracted with vertex over left's last axis) / norm into slot a of the basis
// without making the tree tensor: each row of the product is accumulated as
// contract_last_first would (from 0.0, ascending in the shared index) and divided straight into
// its place, so the entries are the same to the bit.
void store_normalised_final_contraction(Tensor& basis, std::size_t a, const Tensor& left,
                                        const Tensor& vertex, double norm,
                                        std::vector<double>& row) {
    const std::uint64_t k = left.shape().back();
    check_invariant(vertex.rank() == 3 && vertex.shape().front() == k,
                    "the last vertex continues the partial tree");
    const std::uint64_t rows = left.size() / k;
    const std::uint64_t width = vertex.size() / k;
    const std::uint64_t om = basis.shape().back();
    check_invariant(rows * width * om == basis.size(), "the tree fills one slot of the basis");
    row.resize(width);
    double* out = basis.data().data() + a;
    for (std::uint64_t p = 0; p < rows; ++p) {
        std::fill(row.begin(), row.end(), 0.0);
        matmul_accumulate_ascending_k(left.data().data() + p * k, vertex.data().data(),
                                      row.data(), 1, k, width);
        for (std::uint64_t q = 0; q < width; ++q) out[(p * width + q) * om] = row[q] / norm;
    }
}

// The first configuration's slots are spread over the whole basis, so its writes would fault
// in every page of a large basis at once with no stop request asked meanwhile (a third of a
// second for 285 MB here): the pages are faulted in first, in pieces, one byte per page (the
// values are written in full later).
Status fault_in(Tensor& basis, CallContext& context) {
    constexpr std::size_t kPiece = std::size_t{32} << 20;
    constexpr std::size_t kPage = 4096;
    const std::span<std::byte> bytes = std::as_writable_bytes(basis.data());
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        if (context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        const std::size_t end = std::min(bytes.size(), at + kPiece);
        for (std::size_t page = at; page < end; page += kPage) {
            bytes[page] = std::byte{0};
        }
    }
    return {};
}

}  // namespace

Shape basis_shape(std::span<const std::int32_t> spins, std::size_t om_dimension) {
    Shape shape;
    shape.reserve(spins.size() + 1);
    for (std::int32_t s : spins) {
        shape.push_back(static_cast<std::uint64_t>(s) + 1);
    }
    shape.push_back(om_dimension);
    return shape;
}

Result<Tensor> build_canonical_basis(std::span<const std::int32_t> spins, CallContext& context) {
    auto fresh = CGSpec::from_edges(canonical_edges(spins));
    if (!fresh) {
        return fail(std::move(fresh.error()));
    }
    const std::size_t n = spins.size();
    if (n == 2) {
        // The identity, or the error for two different spins, before any basis is allocated.
        auto identity = build_om_tensor(fresh->edges(), {});
        if (!identity) {
            return identity;
        }
        Tensor basis = Tensor::uninitialised(basis_shape(spins, 1));
        store_normalised_slice(basis, 0, *identity, std::sqrt(static_cast<double>(spins[1]) + 1.0));
        return basis;
    }
    // Every slot is written in full below, so the storage needs no zero fill.
    Tensor basis = Tensor::uninitialised(basis_shape(spins, fresh->om_dimension()));
    if (auto faulted = fault_in(basis, context); !faulted) {
        return fail(std::move(faulted.error()));
    }
    const double norm = std::sqrt(static_cast<double>(spins[n - 1]) + 1.0);
    FusionTreeBuilder builder(spins);
    std::vector<double> row;
    for (std::size_t a = 0; a < fresh->om_dimension(); ++a) {
        if (context.should_stop()) {
            return fail(TavrinError::interrupted());
        }
        const std::span<const std::int32_t> config = fresh->config(a);
        if (n == 3) {
            store_normalised_slice(basis, a, builder.vertex(spins[0], spins[1], spins[2]), norm);
            continue;
        }
        // The last contraction goes straight into the basis; only the trees before it are made.
        const std::size_t last = config.size() - 1;
        auto left = builder.build(config.first(last), context);
        if (!left) {
            return fail(std::move(left.error()));
        }
        store_normalised_final_contraction(
            basis, a, **left, builder.vertex(config[last - 1], spins[n - 2], config[last]), norm,
            row);
    }
    return basis;
}

}  // namespace tavrin
