// Which instruction sets the processor running the library has, for code that picks a version
// of a loop at run time.
#pragma once

namespace tavrin {

// Whether this processor, with the operating system's support for its vector registers, runs
// code built for x86-64-v3 (AVX, AVX2, FMA, BMI1, BMI2, F16C, LZCNT, MOVBE on top of
// x86-64-v2). Always false off x86-64. Asked of the processor itself (cpuid, xgetbv), not of
// the compiler's runtime: the runtime the wheels are built with reports no features at all.
bool runs_x86_64_v3() noexcept;

}  // namespace tavrin
