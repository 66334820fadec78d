// The library's single error type and the result type built on it.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace tavrin {

enum class ErrorKind {
    InvalidSpin,
    InvalidContraction,
    IncompatibleEdges,
    InvalidCGTSpec,
    IndexOutOfBounds,
    CacheError,
    // Not an input error: the caller asked the computation to stop (see CallContext).
    Interrupted,
    // Legs, blocks or arguments of a block tensor operation that do not fit together.
    InvalidBlockTensor,
};

class TavrinError {
public:
    static TavrinError invalid_spin(std::int32_t twice);
    static TavrinError invalid_contraction(std::string text);
    static TavrinError incompatible_edges(std::int32_t j1, std::int32_t j2);
    static TavrinError invalid_cgt_spec(std::string text);
    static TavrinError index_out_of_bounds(std::uint64_t index, std::uint64_t count);
    static TavrinError cache_error(std::string text);
    static TavrinError interrupted();
    static TavrinError invalid_block_tensor(std::string text);

    ErrorKind kind() const { return kind_; }
    // The payload text of the text-carrying kinds; empty for the others.
    const std::string& text() const { return text_; }

    // The text form, e.g. "Invalid spin quantum number: -1".
    std::string to_string() const;
    // The message of the Python exception this error becomes.
    std::string python_message() const;
    // True when the Python exception is ValueError, false for RuntimeError.
    bool is_value_error() const;

    friend bool operator==(const TavrinError&, const TavrinError&) = default;

private:
    TavrinError(ErrorKind kind, std::int64_t first, std::int64_t second, std::uint64_t index,
                std::uint64_t count, std::string text);

    ErrorKind kind_;
    std::int64_t first_ = 0;   // signed payloads: 2j of InvalidSpin, J1 of IncompatibleEdges
    std::int64_t second_ = 0;  // J2 of IncompatibleEdges
    std::uint64_t index_ = 0;  // IndexOutOfBounds
    std::uint64_t count_ = 0;
    std::string text_;
};

template <class T>
using Result = std::expected<T, TavrinError>;

using Status = std::expected<void, TavrinError>;

inline std::unexpected<TavrinError> fail(TavrinError error) {
    return std::unexpected<TavrinError>(std::move(error));
}

}  // namespace tavrin
