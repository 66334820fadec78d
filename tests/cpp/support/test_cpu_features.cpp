#include "support/cpu_features.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

namespace tavrin {
namespace {

// The flags Linux lists for the first processor: what the processor has and the kernel enables.
std::set<std::string> linux_cpu_flags() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.starts_with("flags")) {
            std::istringstream words(line.substr(line.find(':') + 1));
            return {std::istream_iterator<std::string>(words), {}};
        }
    }
    return {};
}

TEST(CpuFeatures, X86_64V3AsTheKernelSeesTheProcessor) {
#if defined(__x86_64__)
    const std::set<std::string> flags = linux_cpu_flags();
    if (flags.empty()) GTEST_SKIP() << "no processor flags in /proc/cpuinfo";
    // Linux's names: pni is SSE3, abm includes LZCNT, lahf_lm is LAHF-SAHF in 64-bit mode.
    const std::set<std::string> v3 = {"pni",   "ssse3", "fma",  "cx16", "sse4_1", "sse4_2",
                                      "movbe", "popcnt", "xsave", "avx", "f16c",   "bmi1",
                                      "avx2",  "bmi2",  "lahf_lm", "abm"};
    const bool listed = std::ranges::includes(flags, v3);
    EXPECT_EQ(runs_x86_64_v3(), listed);
#else
    EXPECT_FALSE(runs_x86_64_v3());
#endif
}

}  // namespace
}  // namespace tavrin
