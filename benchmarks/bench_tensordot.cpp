// Times tensordot of two [n, n] tensors over one axis pair and prints the rate in GFLOP/s
// (2 n^3 floating-point operations per contraction). Usage: bench_tensordot [n] [repeats]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "tensor/tensor.hpp"

namespace {

tavrin::Tensor random_matrix(std::uint64_t n, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    tavrin::Tensor t = tavrin::Tensor::zeros({n, n});
    for (double& x : t.data()) x = uniform(rng);
    return t;
}

// Best of `repeats` runs, in seconds.
double best_time(const tavrin::Tensor& a, const tavrin::Tensor& b, std::size_t axis_a,
                 std::size_t axis_b, int repeats) {
    const std::array<std::size_t, 1> axes_a{axis_a};
    const std::array<std::size_t, 1> axes_b{axis_b};
    double best = 1e300;
    double checksum = 0.0;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const tavrin::Tensor c = tavrin::tensordot(a, b, axes_a, axes_b);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
        checksum += c.data()[0];
    }
    std::printf("  (checksum %g)\n", checksum);
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    std::mt19937_64 rng(12345);
    const tavrin::Tensor a = random_matrix(n, rng);
    const tavrin::Tensor b = random_matrix(n, rng);
    const double flops = 2.0 * static_cast<double>(n) * static_cast<double>(n) *
                         static_cast<double>(n);

    struct Case {
        const char* name;
        std::size_t axis_a;
        std::size_t axis_b;
    };
    const std::array<Case, 2> cases{{
        {"axes in place (a axis 1 with b axis 0)", 1, 0},
        {"both operands permuted (a axis 0 with b axis 1)", 0, 1},
    }};
    for (const Case& c : cases) {
        const double seconds = best_time(a, b, c.axis_a, c.axis_b, repeats);
        std::printf("tensordot [%llu, %llu] x [%llu, %llu], %s: %.4f s, %.2f GFLOP/s\n",
                    static_cast<unsigned long long>(n), static_cast<unsigned long long>(n),
                    static_cast<unsigned long long>(n), static_cast<unsigned long long>(n),
                    c.name, seconds, flops / seconds * 1e-9);
    }
    return 0;
}
