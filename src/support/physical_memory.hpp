// The physical memory of the machine: no allocation larger than it can be filled.
#pragma once

#include <cstdint>

namespace tavrin {

// The bytes of physical memory, read from the system once; the largest 64-bit value when the
// system does not say.
std::uint64_t physical_memory_bytes() noexcept;

}  // namespace tavrin
