// Array blobs: tensors encoded in the NPY format with 64-bit float elements.
#pragma once

#include <cstdint>
#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tensor/tensor.hpp"

namespace tavrin {

// Version 1.0 ('<f8', C order, header padded to a multiple of 64 bytes); version 2.0 only when
// the header does not fit a 16-bit length. Fails with a message only for a header too long
// for version 2.0.
std::expected<std::vector<std::uint8_t>, std::string> write_npy_blob(const Tensor& t);

// The part of write_npy_blob's blob before the data: magic, version, length, header text,
// padding and newline. The data follow as the tensor's elements, little-endian.
std::expected<std::vector<std::uint8_t>, std::string> npy_header(const Shape& shape);

// The smallest prefix of a blob from which npy_header_size can tell the header's size.
inline constexpr std::size_t kNpyHeaderSizePrefix = 12;

// The size of the header part of a blob whose first bytes are `prefix` (at least
// kNpyHeaderSizePrefix of them, or the whole blob), when they start like a version 1.0 or 2.0
// blob; nothing otherwise.
std::optional<std::uint64_t> npy_header_size(std::span<const std::uint8_t> prefix);

// The shape, when `header` is byte for byte what npy_header writes for it. Anything else (the
// headers of other writers, '>f8', Fortran order) is for read_npy_blob.
std::optional<Shape> shape_of_own_npy_header(std::span<const std::uint8_t> header);

// The shape a blob's header gives, after the checks read_npy_blob makes of the header (a blob
// starting with a whole header is enough: the data are not looked at). Nothing is allocated
// from the shape.
std::expected<Shape, std::string> npy_blob_shape(std::span<const std::uint8_t> blob);

// The element count of a stored shape, when a tensor can hold it: without overflow, and with
// the lengths other than zero multiplying to less than 2^63 even where an axis is empty.
std::optional<std::uint64_t> npy_element_count(const Shape& shape);

// Element bytes in the blob's little-endian order turned into native doubles, in place.
void little_endian_to_native(std::span<double> values);

// Accepts versions 1.0, 2.0 and 3.0 with '<f8' or '>f8' elements in C or Fortran order.
// Fails with a message naming the first problem found; never reads outside the blob.
std::expected<Tensor, std::string> read_npy_blob(std::span<const std::uint8_t> blob);

}  // namespace tavrin
