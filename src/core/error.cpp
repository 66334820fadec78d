#include "core/error.hpp"

#include <utility>

namespace tavrin {

TavrinError::TavrinError(ErrorKind kind, std::int64_t first, std::int64_t second,
                         std::uint64_t index, std::uint64_t count, std::string text)
    : kind_(kind), first_(first), second_(second), index_(index), count_(count),
      text_(std::move(text)) {}

TavrinError TavrinError::invalid_spin(std::int32_t twice) {
    return {ErrorKind::InvalidSpin, twice, 0, 0, 0, {}};
}
TavrinError TavrinError::invalid_contraction(std::string text) {
    return {ErrorKind::InvalidContraction, 0, 0, 0, 0, std::move(text)};
}
TavrinError TavrinError::incompatible_edges(std::int32_t j1, std::int32_t j2) {
    return {ErrorKind::IncompatibleEdges, j1, j2, 0, 0, {}};
}
TavrinError TavrinError::invalid_cgt_spec(std::string text) {
    return {ErrorKind::InvalidCGTSpec, 0, 0, 0, 0, std::move(text)};
}
TavrinError TavrinError::index_out_of_bounds(std::uint64_t index, std::uint64_t count) {
    return {ErrorKind::IndexOutOfBounds, 0, 0, index, count, {}};
}
TavrinError TavrinError::cache_error(std::string text) {
    return {ErrorKind::CacheError, 0, 0, 0, 0, std::move(text)};
}
TavrinError TavrinError::interrupted() { return {ErrorKind::Interrupted, 0, 0, 0, 0, {}}; }
TavrinError TavrinError::invalid_block_tensor(std::string text) {
    return {ErrorKind::InvalidBlockTensor, 0, 0, 0, 0, std::move(text)};
}

std::string TavrinError::to_string() const {
    switch (kind_) {
    case ErrorKind::InvalidSpin:
        return "Invalid spin quantum number: " + std::to_string(first_);
    case ErrorKind::InvalidContraction:
        return "Invalid contraction: " + text_;
    case ErrorKind::IncompatibleEdges:
        return "Incompatible edge spins for contraction: J1=" + std::to_string(first_) +
               ", J2=" + std::to_string(second_);
    case ErrorKind::InvalidCGTSpec:
        return "Invalid CG specification: " + text_;
    case ErrorKind::IndexOutOfBounds:
        return "Edge index " + std::to_string(index_) + " out of bounds (number of edges: " +
               std::to_string(count_) + ")";
    case ErrorKind::CacheError:
        return "Cache error: " + text_;
    case ErrorKind::Interrupted:
        return "Interrupted";
    case ErrorKind::InvalidBlockTensor:
        return "Invalid block tensor: " + text_;
    }
    return {};
}

std::string TavrinError::python_message() const {
    switch (kind_) {
    case ErrorKind::InvalidSpin:
        return "Invalid spin value: " + std::to_string(first_);
    case ErrorKind::InvalidContraction:
        return "Invalid contraction: " + text_;
    case ErrorKind::InvalidCGTSpec:
        return "Invalid CGSpec: " + text_;
    case ErrorKind::CacheError:
        return "Cache error: " + text_;
    case ErrorKind::IncompatibleEdges:
    case ErrorKind::IndexOutOfBounds:
        return "Tavrin error: " + to_string();
    case ErrorKind::Interrupted:
        return to_string();
    case ErrorKind::InvalidBlockTensor:
        return text_;  // says itself what is wrong with which argument
    }
    return {};
}

bool TavrinError::is_value_error() const {
    return kind_ == ErrorKind::InvalidSpin || kind_ == ErrorKind::InvalidContraction ||
           kind_ == ErrorKind::InvalidCGTSpec || kind_ == ErrorKind::InvalidBlockTensor;
}

}  // namespace tavrin
