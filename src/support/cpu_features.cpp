#include "support/cpu_features.hpp"

#if defined(__x86_64__)
#include <cpuid.h>

#include <cstdint>
#endif

namespace tavrin {

#if defined(__x86_64__)

namespace {

struct CpuidBit {
    unsigned leaf;
    enum Register { ebx, ecx } in;
    unsigned bit;
};

// x86-64-v2: CMPXCHG16B, LAHF-SAHF, POPCNT, SSE3, SSE4.1, SSE4.2, SSSE3; x86-64-v3 adds AVX,
// AVX2, BMI1, BMI2, F16C, FMA, LZCNT, MOVBE and XSAVE (with OSXSAVE: the system saves them).
constexpr CpuidBit kX86_64V3[] = {
    {1, CpuidBit::ecx, 0},            // SSE3
    {1, CpuidBit::ecx, 9},            // SSSE3
    {1, CpuidBit::ecx, 12},           // FMA
    {1, CpuidBit::ecx, 13},           // CMPXCHG16B
    {1, CpuidBit::ecx, 19},           // SSE4.1
    {1, CpuidBit::ecx, 20},           // SSE4.2
    {1, CpuidBit::ecx, 22},           // MOVBE
    {1, CpuidBit::ecx, 23},           // POPCNT
    {1, CpuidBit::ecx, 26},           // XSAVE
    {1, CpuidBit::ecx, 27},           // OSXSAVE
    {1, CpuidBit::ecx, 28},           // AVX
    {1, CpuidBit::ecx, 29},           // F16C
    {7, CpuidBit::ebx, 3},            // BMI1
    {7, CpuidBit::ebx, 5},            // AVX2
    {7, CpuidBit::ebx, 8},            // BMI2
    {0x80000001, CpuidBit::ecx, 0},   // LAHF-SAHF
    {0x80000001, CpuidBit::ecx, 5},   // LZCNT
};

bool has(const CpuidBit& wanted) {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_count(wanted.leaf, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    const unsigned word = wanted.in == CpuidBit::ebx ? ebx : ecx;
    return ((word >> wanted.bit) & 1U) != 0;
}

// The register state the operating system saves on a switch (XCR0): SSE and AVX both needed.
bool system_saves_vector_registers() {
    std::uint32_t low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    constexpr std::uint32_t kSseAndAvxState = 0b110;
    return (low & kSseAndAvxState) == kSseAndAvxState;
}

bool detect_x86_64_v3() {
    for (const CpuidBit& wanted : kX86_64V3) {
        if (!has(wanted)) return false;
    }
    return system_saves_vector_registers();  // xgetbv exists: OSXSAVE was checked above
}

}  // namespace

bool runs_x86_64_v3() noexcept {
    static const bool runs = detect_x86_64_v3();
    return runs;
}

#else

bool runs_x86_64_v3() noexcept { return false; }

#endif

}  // namespace tavrin
