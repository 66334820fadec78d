// Factorisations of a block tensor across the cut after its first m legs, one dense
// factorisation per spin k the first m legs couple to. The isometric factors carry the
// sqrt(2k + 1) that makes their dense tensors isometries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "blocks/block_tensor.hpp"
#include "core/call_context.hpp"
#include "core/error.hpp"

namespace tavrin::blocks {

// Which multiplets a truncated singular value decomposition keeps: the ones of largest
// singular values, at most `max_multiplets` of them, and no more than needed to keep the
// discarded weight (the sum of (2k + 1) s^2 over the discarded multiplets: the squared norm of
// what is cut off) within `max_discarded_weight`. At least one multiplet is kept.
struct Truncation {
    std::optional<std::uint64_t> max_multiplets;
    std::optional<double> max_discarded_weight;
};

// One spin of a bond and the values that belong to its multiplets (singular values or
// eigenvalues of the dense tensor, each (2k + 1) times degenerate), in their order on the bond.
struct SpinValues {
    std::int32_t twice_k;
    std::vector<double> values;
};

// T = U S V over the dense tensors: U (first m legs, bond outgoing) and V (bond incoming, other
// legs) isometric, S (bond incoming, bond outgoing) diagonal with the singular values.
struct SingularValueFactors {
    BlockTensor u;
    BlockTensor s;
    BlockTensor v;
    std::vector<SpinValues> singular_values;  // descending within each spin
    double discarded_weight;
};
Result<SingularValueFactors> singular_value_decomposition(const BlockTensor& tensor,
                                                          std::size_t cut,
                                                          const Truncation& truncation);

// T = Q R over the dense tensors: Q (first m legs, bond outgoing) isometric, R (bond incoming,
// other legs).
struct QrFactors {
    BlockTensor q;
    BlockTensor r;
};
Result<QrFactors> qr_decomposition(const BlockTensor& tensor, std::size_t cut);

// A Hermitian operator H with legs (rows..., columns...), column leg i the row leg i with its
// direction reversed: H = V diag(w) V^T over the dense tensors, V (rows..., bond outgoing)
// isometric. Eigenvalues ascending within each spin.
struct Eigensystem {
    std::vector<SpinValues> eigenvalues;
    BlockTensor vectors;
};
Result<Eigensystem> hermitian_eigensystem(const BlockTensor& operator_tensor,
                                          CallContext& context);

// InvalidBlockTensor unless 1 <= cut < rank.
Status check_cut(const BlockTensor& tensor, std::size_t cut);

}  // namespace tavrin::blocks
