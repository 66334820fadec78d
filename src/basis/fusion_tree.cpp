#include "basis/fusion_tree.hpp"

#include <string>

#include "coupling/clebsch_gordan.hpp"
#include "coupling/om_configurations.hpp"
#include "tensor/matmul.hpp"

namespace tavrin {

namespace {

std::uint64_t dim(std::int32_t two_j) { return static_cast<std::uint64_t>(two_j) + 1; }

}  // namespace

TavrinError too_few_edges_for_basis(std::size_t n) {
    return TavrinError::invalid_cgt_spec("Cannot build canonical basis with " + std::to_string(n) +
                                         " external edges (minimum is 2)");
}

Tensor cg_tensor(std::int32_t two_j1, std::int32_t two_j2, std::int32_t two_j) {
    Tensor t = Tensor::zeros({dim(two_j1), dim(two_j2), dim(two_j)});
    std::span<double> out = t.data();
    const std::int64_t d2 = std::int64_t{two_j2} + 1;
    const std::int64_t d3 = std::int64_t{two_j} + 1;
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

}  // namespace tavrin
