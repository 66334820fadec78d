#include "builders/builders.hpp"

#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "builders/cache.hpp"
#include "primitives/cg.hpp"
#include "tensor/matmul.hpp"

namespace tavrin {

namespace {

std::uint64_t dim(std::int32_t two_j) { return static_cast<std::uint64_t>(two_j) + 1; }

std::vector<Edge> canonical_edges(std::span<const std::int32_t> spins) {
    std::vector<Edge> edges;
    edges.reserve(spins.size());
    for (std::size_t k = 0; k < spins.size(); ++k) {
        const Spin j = *Spin::create(spins[k]);
        edges.push_back(k + 1 < spins.size() ? Edge::incoming(j) : Edge::outgoing(j));
    }
    return edges;
}

Shape basis_shape(std::span<const std::int32_t> spins, std::size_t om_dimension) {
    Shape shape;
    for (std::int32_t s : spins) {
        shape.push_back(dim(s));
    }
    shape.push_back(om_dimension);
    return shape;
}

std::string shape_text(const Shape& shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(shape[i]);
    }
    return text + "]";
}

TavrinError two_edge_spin_mismatch(std::int32_t a, std::int32_t b) {
    return TavrinError::invalid_cgt_spec("Two-edge CG tensor requires equal spins, got j=" +
                                         std::to_string(a) + "/2 and j=" + std::to_string(b) +
                                         "/2");
}

// Builds the OM tensors of consecutive configurations of one spin list. Configurations come
// in lexicographic order, so neighbours share leading internal spins: the partial trees of a
// shared prefix are kept and vertex tensors are made once per call. Every tensor is computed
// by exactly the operations of build_om_tensor, so the results are the same to the bit.
class FusionTreeBuilder {
public:
    explicit FusionTreeBuilder(std::span<const std::int32_t> spins) : spins_(spins) {}

    // Valid for n >= 3; config has n - 2 entries.
    Result<const Tensor*> build(std::span<const std::int32_t> config) {
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

private:
    const Tensor& vertex(std::int32_t a, std::int32_t b, std::int32_t c) {
        auto key = std::make_tuple(a, b, c);
        auto found = vertices_.find(key);
        if (found == vertices_.end()) {
            found = vertices_.emplace(key, cg_tensor(a, b, c)).first;
        }
        return found->second;
    }

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

// Applies X'[..., i, ...] = (-1)^(s - i) X[..., s - i, ...] on the axis of every edge whose
// direction differs from the canonical pattern. Slices are multiplied by +1.0 or -1.0 as a
// whole, so zeros of a negated slice become -0.0.
void apply_direction_phases(Tensor& basis, const std::vector<Edge>& edges) {
    const std::size_t n = edges.size();
    for (std::size_t k = 0; k < n; ++k) {
        const bool canonical_incoming = k + 1 < n;
        if (edges[k].is_incoming() == canonical_incoming) {
            continue;
        }
        const std::int32_t s = edges[k].j.twice();
        basis.reverse_axis(k);
        for (std::int64_t i = 0; i <= s; ++i) {
            basis.scale_slice(k, static_cast<std::uint64_t>(i), (s - i) % 2 == 0 ? 1.0 : -1.0);
        }
    }
}

Status check_stored_shape(const Tensor& stored, std::span<const std::int32_t> spins,
                          std::size_t om_dimension) {
    const Shape expected = basis_shape(spins, om_dimension);
    if (stored.shape() == expected) {
        return {};
    }
    return fail(TavrinError::cache_error("Stored basis has shape " + shape_text(stored.shape()) +
                                         " but the spins require " + shape_text(expected) +
                                         "; the row was not written by this library"));
}

// The canonical-pattern basis from the cache, or built and stored on a miss.
Result<Tensor> load_or_build(const std::vector<std::int32_t>& spins, std::size_t om_dimension) {
    auto cached = load_cached_basis(spins);
    if (!cached) {
        return fail(std::move(cached.error()));
    }
    if (cached->has_value()) {
        if (auto shape_ok = check_stored_shape(**cached, spins, om_dimension); !shape_ok) {
            return fail(std::move(shape_ok.error()));
        }
        return std::move(**cached);
    }
    auto built = build_canonical_basis(spins);
    if (!built) {
        return built;
    }
    if (auto stored = store_cached_basis(spins, *built); !stored) {
        return fail(std::move(stored.error()));
    }
    return built;
}

}  // namespace

Tensor cg_tensor(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j) {
    Tensor t = Tensor::zeros({dim(two_j1), dim(two_j2), dim(two_j)});
    std::span<double> out = t.data();
    const std::int64_t d2 = dim(two_j2);
    const std::int64_t d3 = dim(two_j);
    // Only elements with m1 + m2 = M can be non-zero; all others are zero by the selection
    // rule and stay as zeros() made them.
    for (std::int64_t i1 = 0; i1 <= two_j1; ++i1) {
        const std::int64_t two_m1 = 2 * i1 - two_j1;
        for (std::int64_t i2 = 0; i2 <= two_j2; ++i2) {
            const std::int64_t two_m = two_m1 + 2 * i2 - two_j2;
            const std::int64_t twice_i3 = two_m + two_j;
            if (twice_i3 < 0 || twice_i3 > 2 * two_j || twice_i3 % 2 != 0) {
                continue;
            }
            const std::int64_t i3 = twice_i3 / 2;
            out[static_cast<std::size_t>((i1 * d2 + i2) * d3 + i3)] = clebsch_gordan(
                two_j1, static_cast<std::int32_t>(two_m1), two_j2,
                static_cast<std::int32_t>(2 * i2 - two_j2), two_j, static_cast<std::int32_t>(two_m));
        }
    }
    return t;
}

Result<Tensor> contract_last_first(const Tensor& a, const Tensor& b) {
    if (a.rank() == 0 || b.rank() == 0) {
        return fail(TavrinError::invalid_contraction("Cannot contract scalar tensors"));
    }
    const std::uint64_t k = a.shape().back();
    if (k != b.shape().front()) {
        return fail(TavrinError::invalid_contraction("Incompatible contraction dimensions: " +
                                                     std::to_string(k) + " vs " +
                                                     std::to_string(b.shape().front())));
    }
    Shape shape(a.shape().begin(), a.shape().end() - 1);
    shape.insert(shape.end(), b.shape().begin() + 1, b.shape().end());
    Tensor result = Tensor::zeros(std::move(shape));
    if (result.size() > 0 && k > 0) {
        const std::uint64_t p = a.size() / k;
        const std::uint64_t q = b.size() / k;
        matmul_accumulate_ascending_k(a.data().data(), b.data().data(), result.data().data(), p,
                                      k, q);
    }
    return result;
}

Result<Tensor> build_fusion_tree_recursive(std::span<const Edge> edges, std::size_t n,
                                           std::span<const std::int32_t> config) {
    if (n < 4) {
        return fail(TavrinError::invalid_cgt_spec(
            "build_fusion_tree_recursive requires n >= 4, got n = " + std::to_string(n)));
    }
    Result<Tensor> left = n == 4 ? Result<Tensor>(cg_tensor(edges[0].j.twice(),
                                                           edges[1].j.twice(), config[0]))
                                 : build_fusion_tree_recursive(edges, n - 1, config.first(n - 3));
    if (!left) {
        return left;
    }
    const Tensor vertex = cg_tensor(config[n - 4], edges[n - 2].j.twice(), config[n - 3]);
    return contract_last_first(*left, vertex);
}

Result<Tensor> build_om_tensor(std::span<const Edge> edges, std::span<const std::int32_t> config) {
    const std::size_t n = edges.size();
    if (n == 1) {
        return fail(TavrinError::invalid_cgt_spec("Cannot build OM tensor with " +
                                                  std::to_string(n) +
                                                  " external edges (minimum is 2)"));
    }
    if (n == 2) {
        const std::int32_t a = edges[0].j.twice();
        const std::int32_t b = edges[1].j.twice();
        if (a != b) {
            return fail(two_edge_spin_mismatch(a, b));
        }
        return Tensor::identity(dim(a));
    }
    if (n == 3) {
        return cg_tensor(edges[0].j.twice(), edges[1].j.twice(), edges[2].j.twice());
    }
    return build_fusion_tree_recursive(edges, n, config);
}

Result<Tensor> build_canonical_basis(std::span<const std::int32_t> spins) {
    auto fresh = CGSpec::from_edges(canonical_edges(spins));
    if (!fresh) {
        return fail(std::move(fresh.error()));
    }
    const std::size_t n = spins.size();
    if (n == 2 && spins[0] != spins[1]) {
        return fail(two_edge_spin_mismatch(spins[0], spins[1]));
    }
    Tensor basis = Tensor::zeros(basis_shape(spins, fresh->om_dimension()));
    const double norm = std::sqrt(static_cast<double>(spins[n - 1]) + 1.0);
    if (n == 2) {
        store_normalised_slice(basis, 0, Tensor::identity(dim(spins[0])), norm);
        return basis;
    }
    FusionTreeBuilder builder(spins);
    for (std::size_t a = 0; a < fresh->om_dimension(); ++a) {
        auto tree = builder.build(fresh->config(a));
        if (!tree) {
            return fail(std::move(tree.error()));
        }
        store_normalised_slice(basis, a, **tree, norm);
    }
    return basis;
}

Result<Tensor> canonical_basis(const CGSpec& spec) {
    const std::size_t n = spec.num_external();
    if (n < 2) {
        return fail(TavrinError::invalid_cgt_spec("Cannot build canonical basis with " +
                                                  std::to_string(n) +
                                                  " external edges (minimum is 2)"));
    }
    auto basis = load_or_build(spec.spins(), spec.om_dimension());
    if (!basis) {
        return basis;
    }
    apply_direction_phases(*basis, spec.edges());
    return basis;
}

}  // namespace tavrin
