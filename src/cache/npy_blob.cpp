#include "cache/npy_blob.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "cache/py_literal.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin {
namespace {

constexpr std::array<std::uint8_t, 6> kMagic{0x93, 'N', 'U', 'M', 'P', 'Y'};
constexpr std::size_t kElementBytes = 8;
// Element counts from here on would give byte counts beyond a signed 64-bit size.
constexpr std::uint64_t kCountLimit = std::uint64_t{1} << 60;

constexpr const char* kShortRead = "I/O error: failed to fill whole buffer";
constexpr const char* kCountOverflow = "overflow computing length from shape";

std::unexpected<std::string> header_error(const std::string& what) {
    return std::unexpected("error parsing header: " + what);
}

// ---- Writing ---------------------------------------------------------------------------

std::string header_text(const Shape& shape) {
    std::string text = "{'descr': '<f8', 'fortran_order': False, 'shape': (" + joined(shape);
    if (shape.size() == 1) text += ",";
    return text + ")}";
}

// ---- Reading ---------------------------------------------------------------------------

class BlobCursor {
public:
    explicit BlobCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t remaining() const { return bytes_.size() - pos_; }

    std::optional<std::span<const std::uint8_t>> take(std::uint64_t count) {
        if (count > remaining()) return std::nullopt;
        const auto taken = bytes_.subspan(pos_, static_cast<std::size_t>(count));
        pos_ += taken.size();
        return taken;
    }

    std::optional<std::uint64_t> take_little_endian(std::size_t width) {
        const auto bytes = take(width);
        if (!bytes) return std::nullopt;
        return load_little_endian(*bytes);
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Magic, version, length and the header itself; returns the header text without its newline.
std::expected<std::string_view, std::string> read_header_text(BlobCursor& cursor) {
    const auto magic = cursor.take(kMagic.size());
    if (!magic) return std::unexpected(kShortRead);
    if (!std::equal(magic->begin(), magic->end(), kMagic.begin())) {
        return header_error("start does not match magic string");
    }
    const auto version = cursor.take(2);
    if (!version) return std::unexpected(kShortRead);
    const std::uint8_t major = (*version)[0];
    const std::uint8_t minor = (*version)[1];
    if (major < 1 || major > 3 || minor != 0) {
        return header_error("unknown version number: " + std::to_string(major) + "." +
                            std::to_string(minor));
    }
    const auto length = cursor.take_little_endian(major == 1 ? 2 : 4);
    if (!length) return std::unexpected(kShortRead);
    const auto header = cursor.take(*length);
    if (!header) return std::unexpected(kShortRead);
    if (header->empty() || header->back() != '\n') {
        return header_error("newline missing at end of header");
    }
    const std::string_view text(reinterpret_cast<const char*>(header->data()), header->size() - 1);
    if (major < 3) {
        for (char c : text) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                return header_error(
                    "non-ascii in array format string; this is not supported in .npy format "
                    "versions 1.0 and 2.0");
            }
        }
    } else if (const auto bad = find_invalid_utf8(text)) {
        return header_error("error parsing array format string as UTF-8: invalid UTF-8 "
                            "sequence at offset " +
                            std::to_string(*bad));
    }
    return text;
}

struct HeaderFields {
    PyValue descr;
    bool fortran_order = false;
    Shape shape;
};

std::optional<std::uint64_t> to_uint64(const PyValue& value) {
    const auto* n = std::get_if<PyInt>(&value.value);
    if (!n || n->negative) return std::nullopt;
    std::uint64_t result = 0;
    const char* end = n->digits.data() + n->digits.size();
    const auto [ptr, ec] = std::from_chars(n->digits.data(), end, result);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return result;
}

std::optional<Shape> to_shape(const PyValue& value) {
    const auto* tuple = std::get_if<PyTuple>(&value.value);
    if (!tuple) return std::nullopt;
    Shape shape;
    for (const auto& item : tuple->items) {
        const auto length = to_uint64(item);
        if (!length) return std::nullopt;
        shape.push_back(*length);
    }
    return shape;
}

std::expected<HeaderFields, std::string> interpret_header(std::string_view text) {
    const auto parsed = parse_py_literal(text);
    if (!parsed) return header_error("error parsing metadata dict: " + parsed.error());
    const auto* dict = std::get_if<PyDict>(&parsed->value);
    if (!dict) return header_error("metadata is not a dict: " + to_py_literal(*parsed));

    std::optional<PyValue> descr;
    std::optional<bool> fortran_order;
    std::optional<Shape> shape;
    for (const auto& [key, value] : dict->entries) {
        const auto* name = std::get_if<PyStr>(&key.value);
        if (name && name->text == U"descr") {
            descr = value;
        } else if (name && name->text == U"fortran_order") {
            const auto* flag = std::get_if<PyBool>(&value.value);
            if (!flag) {
                return header_error("illegal value for key fortran_order: " +
                                    to_py_literal(value));
            }
            fortran_order = flag->value;
        } else if (name && name->text == U"shape") {
            shape = to_shape(value);
            if (!shape) {
                return header_error("illegal value for key shape: " + to_py_literal(value));
            }
        } else {
            return header_error("unknown key: " + to_py_literal(key));
        }
    }
    if (!descr) return header_error("missing key: descr");
    if (!fortran_order) return header_error("missing key: fortran_order");
    if (!shape) return header_error("missing key: shape");
    return HeaderFields{std::move(*descr), *fortran_order, std::move(*shape)};
}

// The element count, or nullopt when it overflows or reaches the count limit. Any zero-length
// axis makes the count 0 whatever the other lengths.
std::optional<std::uint64_t> checked_element_count(const Shape& shape) {
    std::uint64_t count = 1;
    for (std::uint64_t length : shape) {
        if (length == 0) return 0;
    }
    for (std::uint64_t length : shape) {
        if (count > UINT64_MAX / length) return std::nullopt;
        count *= length;
    }
    if (count >= kCountLimit) return std::nullopt;
    return count;
}

// A tensor can only hold shapes whose non-zero lengths multiply to less than 2^63.
bool shape_fits_tensor(const Shape& shape) {
    constexpr std::uint64_t limit = std::uint64_t{1} << 63;
    std::uint64_t product = 1;
    for (std::uint64_t length : shape) {
        if (length == 0) continue;
        if (product > (limit - 1) / length) return false;
        product *= length;
    }
    return true;
}

// Byte order of the element data is swapped in place when it differs from the host's.
void swap_bytes_unless(std::endian order, std::span<std::uint8_t> bytes) {
    if (order == std::endian::native) return;
    for (std::size_t at = 0; at + kElementBytes <= bytes.size(); at += kElementBytes) {
        std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + kElementBytes));
    }
}

void native_to_little_endian(std::span<std::uint8_t> bytes) {
    swap_bytes_unless(std::endian::little, bytes);
}

std::vector<double> decode_elements(std::span<const std::uint8_t> bytes, bool big_endian) {
    std::vector<double> values(bytes.size() / kElementBytes);
    if (!values.empty()) std::memcpy(values.data(), bytes.data(), bytes.size());
    swap_bytes_unless(big_endian ? std::endian::big : std::endian::little,
                      {reinterpret_cast<std::uint8_t*>(values.data()), bytes.size()});
    return values;
}

}  // namespace

std::expected<std::vector<std::uint8_t>, std::string> npy_header(const Shape& shape) {
    const std::string text = header_text(shape);
    const std::uint64_t n = text.size();
    int version = 1;
    std::uint64_t prefix = 10;
    std::uint64_t header_part = n + 75 - (n + 11) % 64;
    if (header_part - prefix > 0xFFFF) {
        version = 2;
        prefix = 12;
        header_part = n + 77 - (n + 13) % 64;
        if (header_part - prefix > 0xFFFFFFFF) {
            return std::unexpected("error formatting header: the header is too long");
        }
    }
    std::vector<std::uint8_t> header;
    header.reserve(static_cast<std::size_t>(header_part));
    header.insert(header.end(), kMagic.begin(), kMagic.end());
    header.push_back(static_cast<std::uint8_t>(version));
    header.push_back(0);
    append_little_endian(header, header_part - prefix, version == 1 ? 2u : 4u);
    header.insert(header.end(), text.begin(), text.end());
    header.resize(static_cast<std::size_t>(header_part) - 1, ' ');
    header.push_back('\n');
    return header;
}

std::expected<std::vector<std::uint8_t>, std::string> write_npy_blob(const Tensor& t) {
    auto blob = npy_header(t.shape());
    if (!blob) return blob;
    const auto values = t.data();
    const std::size_t header_size = blob->size();
    blob->resize(header_size + values.size() * kElementBytes);
    if (!values.empty()) {
        std::memcpy(blob->data() + header_size, values.data(), values.size() * kElementBytes);
        native_to_little_endian({blob->data() + header_size, values.size() * kElementBytes});
    }
    return blob;
}

std::optional<std::uint64_t> npy_header_size(std::span<const std::uint8_t> prefix) {
    BlobCursor cursor(prefix);
    const auto magic = cursor.take(kMagic.size());
    const auto version = cursor.take(2);
    if (!magic || !version || !std::equal(magic->begin(), magic->end(), kMagic.begin()) ||
        (*version)[1] != 0 || ((*version)[0] != 1 && (*version)[0] != 2)) {
        return std::nullopt;
    }
    const std::size_t width = (*version)[0] == 1 ? 2 : 4;
    const auto length = cursor.take_little_endian(width);
    if (!length) return std::nullopt;
    return kMagic.size() + 2 + width + *length;
}

std::optional<Shape> shape_of_own_npy_header(std::span<const std::uint8_t> header) {
    constexpr std::string_view opening = "{'descr': '<f8', 'fortran_order': False, 'shape': (";
    const auto size = npy_header_size(header);
    if (!size || *size != header.size()) return std::nullopt;
    const std::size_t text_start = header[6] == 1 ? 10 : 12;
    const std::string_view text(reinterpret_cast<const char*>(header.data()) + text_start,
                                header.size() - text_start);
    if (!text.starts_with(opening)) return std::nullopt;
    Shape shape;
    const char* cursor = text.data() + opening.size();
    const char* const end = text.data() + text.size();
    while (cursor < end && *cursor >= '0' && *cursor <= '9') {
        std::uint64_t length = 0;
        const auto [next, error] = std::from_chars(cursor, end, length);
        if (error != std::errc()) return std::nullopt;
        shape.push_back(length);
        cursor = next;
        if (cursor + 2 <= end && cursor[0] == ',' && cursor[1] == ' ') cursor += 2;
    }
    // Whatever the loop accepted loosely, only the exact bytes of our own writer pass.
    const auto own = npy_header(shape);
    if (!own || !std::equal(own->begin(), own->end(), header.begin(), header.end())) {
        return std::nullopt;
    }
    return shape;
}

void little_endian_to_native(std::span<double> values) {
    if constexpr (std::endian::native != std::endian::little) {
        for (double& value : values) {
            value = std::bit_cast<double>(std::byteswap(std::bit_cast<std::uint64_t>(value)));
        }
    }
}

std::expected<Shape, std::string> npy_blob_shape(std::span<const std::uint8_t> blob) {
    BlobCursor cursor(blob);
    const auto text = read_header_text(cursor);
    if (!text) return std::unexpected(text.error());
    auto fields = interpret_header(*text);
    if (!fields) return std::unexpected(std::move(fields.error()));
    if (!checked_element_count(fields->shape) || !shape_fits_tensor(fields->shape)) {
        return std::unexpected(kCountOverflow);
    }
    const auto* descr = std::get_if<PyStr>(&fields->descr.value);
    if (!descr || (descr->text != U"<f8" && descr->text != U">f8")) {
        return std::unexpected("incorrect descriptor (" + to_py_literal(fields->descr) +
                               ") for this type");
    }
    return std::move(fields->shape);
}

std::optional<std::uint64_t> npy_element_count(const Shape& shape) {
    if (!shape_fits_tensor(shape)) return std::nullopt;
    return checked_element_count(shape);
}

std::expected<Tensor, std::string> read_npy_blob(std::span<const std::uint8_t> blob) {
    BlobCursor cursor(blob);
    const auto text = read_header_text(cursor);
    if (!text) return std::unexpected(text.error());
    auto fields = interpret_header(*text);
    if (!fields) return std::unexpected(std::move(fields.error()));

    const auto count = checked_element_count(fields->shape);
    if (!count) return std::unexpected(kCountOverflow);
    const auto* descr = std::get_if<PyStr>(&fields->descr.value);
    if (!descr || (descr->text != U"<f8" && descr->text != U">f8")) {
        return std::unexpected("incorrect descriptor (" + to_py_literal(fields->descr) +
                               ") for this type");
    }
    const auto data = cursor.take(*count * kElementBytes);
    if (!data) return std::unexpected("reached EOF before reading all data");
    if (cursor.remaining() > 0) {
        return std::unexpected("file had " + std::to_string(cursor.remaining()) +
                               " extra bytes before EOF");
    }
    if (!shape_fits_tensor(fields->shape)) return std::unexpected(kCountOverflow);

    auto values = decode_elements(*data, descr->text[0] == U'>');
    auto tensor = fields->fortran_order
                      ? Tensor::from_column_major(std::move(fields->shape), values)
                      : Tensor::from_row_major(std::move(fields->shape), std::move(values));
    if (!tensor) return std::unexpected("the data do not match the shape");
    return std::move(*tensor);
}

}  // namespace tavrin
