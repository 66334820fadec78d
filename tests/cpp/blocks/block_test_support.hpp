// Random block tensors and their dense counterparts for the block tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "blocks/block_tensor.hpp"
#include "blocks/dense_projection.hpp"
#include "test_support.hpp"

namespace tavrin::blocks::testing {

using namespace tavrin::testing;

inline Leg leg(int sign, std::vector<Sector> sectors) {
    return *Leg::create(sign > 0 ? Direction::incoming() : Direction::outgoing(),
                        std::move(sectors));
}

// A leg of some of the spins 0 ... widest (2j), multiplicities 1 to 3, at least one sector.
inline std::vector<Sector> random_sectors(std::mt19937& rng, std::int32_t widest) {
    std::vector<Sector> sectors;
    while (sectors.empty()) {
        for (std::int32_t j = 0; j <= widest; ++j) {
            if (std::bernoulli_distribution(0.6)(rng)) {
                sectors.push_back({j, std::uniform_int_distribution<std::uint64_t>(1, 3)(rng)});
            }
        }
    }
    return sectors;
}

inline std::vector<Leg> random_legs(std::mt19937& rng, const std::vector<int>& signs,
                                    std::int32_t widest) {
    std::vector<Leg> legs;
    for (const int sign : signs) legs.push_back(leg(sign, random_sectors(rng, widest)));
    return legs;
}

// Every direction pattern of n legs, as signs.
inline std::vector<std::vector<int>> direction_patterns(std::size_t n) {
    std::vector<std::vector<int>> patterns;
    for (std::uint32_t bits = 0; bits < (1u << n); ++bits) {
        std::vector<int> signs(n);
        for (std::size_t k = 0; k < n; ++k) signs[k] = (bits >> k) & 1u ? -1 : 1;
        patterns.push_back(signs);
    }
    return patterns;
}

inline double largest_difference(const Tensor& a, const Tensor& b) {
    EXPECT_EQ(a.shape(), b.shape());
    double largest = 0.0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        largest = std::max(largest, std::abs(a.data()[i] - b.data()[i]));
    }
    return largest;
}

// A tensor with some blocks, so that a comparison of dense tensors means something.
inline bool has_entries(const BlockTensor& t) { return t.element_count() > 0; }

}  // namespace tavrin::blocks::testing
