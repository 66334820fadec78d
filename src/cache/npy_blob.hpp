// Array blobs: tensors encoded in the NPY format with 64-bit float elements.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "tensor/tensor.hpp"

namespace tavrin {

// Version 1.0 ('<f8', C order, header padded to a multiple of 64 bytes); version 2.0 only when
// the header does not fit a 16-bit length. Fails with a message only for a header too long
// for version 2.0.
std::expected<std::vector<std::uint8_t>, std::string> write_npy_blob(const Tensor& t);

// Accepts versions 1.0, 2.0 and 3.0 with '<f8' or '>f8' elements in C or Fortran order.
// Fails with a message naming the first problem found; never reads outside the blob.
std::expected<Tensor, std::string> read_npy_blob(std::span<const std::uint8_t> blob);

}  // namespace tavrin
