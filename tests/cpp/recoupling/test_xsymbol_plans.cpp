// The two ways of recoupling an X-symbol -- A and B rearranged each on its own, or the moves on
// the product of their trees -- give the same entries, on contractions where the pairs nest,
// cross, or leave A or B without free edges, and where pairs join edges of equal directions.
// With opposite pairs only, each entry is in double-double and rounded once both ways.
#include "recoupling/xsymbol_by_recoupling.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "test_support.hpp"

namespace tavrin::recoupling {
namespace {

struct PlanCase {
    std::vector<std::int32_t> spins_a;
    std::vector<int> signs_a;
    std::vector<std::int32_t> spins_b;
    std::vector<int> signs_b;
    std::vector<std::uint64_t> axes_a;
    std::vector<std::uint64_t> axes_b;
};

CGSpec contracted(const CGSpec& a, const CGSpec& b, const PlanCase& c) {
    std::vector<Edge> edges;
    for (std::size_t e = 0; e < a.num_external(); ++e) {
        if (std::find(c.axes_a.begin(), c.axes_a.end(), e) == c.axes_a.end()) {
            edges.push_back(a.edges()[e]);
        }
    }
    for (std::size_t e = 0; e < b.num_external(); ++e) {
        if (std::find(c.axes_b.begin(), c.axes_b.end(), e) == c.axes_b.end()) {
            edges.push_back(b.edges()[e]);
        }
    }
    return *CGSpec::from_edges(edges);
}

Tensor recoupled(const CGSpec& a, const CGSpec& b, const Contraction& pairs, const CGSpec& c,
                 bool factorised) {
    CallContext context;
    auto plan = plan_xsymbol_by_recoupling(a, b, pairs, c, context, factorised);
    EXPECT_TRUE(plan);
    EXPECT_EQ((*plan)->factorised, factorised);
    return *xsymbol_by_recoupling(**plan, context);
}

class FactorisedPlan : public ::testing::TestWithParam<PlanCase> {};

// Pairs of equal directions are summed over their magnetic numbers in double precision.
double tolerance(double expected, const PlanCase& p) {
    bool opposite = true;
    for (std::size_t i = 0; i < p.axes_a.size(); ++i) {
        opposite = opposite && p.signs_a[p.axes_a[i]] != p.signs_b[p.axes_b[i]];
    }
    return opposite ? std::abs(expected) * 2.3e-16 : 1e-15;
}

TEST_P(FactorisedPlan, AgreesWithTheProductOfTrees) {
    const PlanCase& p = GetParam();
    const CGSpec a = testing::spec_of(p.spins_a, p.signs_a);
    const CGSpec b = testing::spec_of(p.spins_b, p.signs_b);
    const Contraction pairs = *Contraction::create(p.axes_a, p.axes_b);
    const CGSpec c = contracted(a, b, p);
    const Tensor factorised = recoupled(a, b, pairs, c, true);
    const Tensor product = recoupled(a, b, pairs, c, false);
    ASSERT_EQ(factorised.shape(), product.shape());
    int nonzero = 0;
    for (std::size_t i = 0; i < product.size(); ++i) {
        const double expected = product.data()[i];
        EXPECT_NEAR(factorised.data()[i], expected, tolerance(expected, p)) << "at " << i;
        nonzero += expected != 0.0;
    }
    EXPECT_GT(nonzero, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Contractions, FactorisedPlan,
    ::testing::Values(
        // A matrix-product-state tensor with the next one over the bond: no move at all.
        PlanCase{{6, 1, 5}, {1, 1, -1}, {5, 1, 4}, {1, 1, -1}, {2}, {0}},
        // The same over the physical edges, with an operator tensor: moves on both sides.
        PlanCase{{6, 1, 5}, {1, 1, -1}, {2, 1, 1, 2}, {1, -1, 1, -1}, {1}, {1}},
        // Nested pairs, the mirror image of A contracted with A.
        PlanCase{{2, 2, 2, 2}, {1, 1, -1, -1}, {2, 2, 2, 2}, {1, 1, -1, -1}, {2, 3}, {1, 0}},
        // Crossing pairs: A's last two edges with B's first two in the same order.
        PlanCase{{1, 2, 3, 2}, {1, 1, -1, -1}, {3, 2, 1, 2}, {1, 1, -1, 1}, {2, 3}, {0, 1}},
        // Every edge of A contracted; B keeps two.
        PlanCase{{1, 1, 2}, {1, -1, 1}, {2, 1, 1, 3, 3}, {-1, 1, -1, 1, -1}, {0, 1, 2}, {2, 1, 0}},
        // Every edge of B contracted.
        PlanCase{{4, 3, 1, 2, 4}, {1, 1, -1, -1, -1}, {2, 1, 3}, {1, 1, -1}, {3, 2, 1}, {0, 1, 2}},
        // No pair: the outer product.
        PlanCase{{1, 1}, {1, -1}, {2, 2, 2}, {1, 1, -1}, {}, {}},
        // Larger spins, pairs scattered over both edge lists.
        PlanCase{{12, 9, 7, 6}, {-1, 1, 1, -1}, {7, 2, 12, 9}, {-1, 1, 1, 1}, {2, 0}, {0, 2}},
        // Two outgoing edges paired.
        PlanCase{{1, 1, 2}, {1, 1, -1}, {2, 1, 1}, {-1, -1, -1}, {2}, {0}},
        // Two spin-1 pairs of incoming edges, and a pair of each kind with a half-integer spin.
        PlanCase{{2, 2, 2, 2}, {1, 1, 1, -1}, {2, 2, 2, 2}, {1, 1, 1, -1}, {0, 1}, {0, 1}},
        PlanCase{{1, 1, 1, 1, 2}, {1, 1, -1, 1, -1}, {1, 1, 1, 1, 2}, {1, -1, -1, 1, 1},
                 {0, 1, 2}, {0, 1, 2}},
        // Four pairs of mixed spins, every edge outgoing.
        PlanCase{{1, 1, 2, 2, 2}, {-1, -1, -1, -1, -1}, {2, 2, 1, 1, 2}, {-1, -1, -1, -1, -1},
                 {0, 1, 2, 3}, {2, 3, 0, 1}}));

}  // namespace
}  // namespace tavrin
