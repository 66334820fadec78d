#include "cache/py_literal.hpp"

#include <gmp.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <system_error>
#include <utility>

#include "support/bytes_and_text.hpp"

namespace tavrin {
namespace {

using Parsed = std::expected<PyValue, std::string>;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

bool is_ident_char(char c) { return is_ident_start(c) || is_digit(c); }

bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\n' || c == '\r'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_base_digit(char c, int base) {
    const int v = hex_value(c);
    return v >= 0 && v < base;
}

std::string strip_leading_zeros(std::string digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string::npos ? std::string("0") : digits.substr(first);
}

// Decimal digits of a non-negative integer written in another base (digits already checked).
std::string to_decimal(const std::string& digits, int base) {
    mpz_t n;
    mpz_init_set_str(n, digits.c_str(), base);
    std::string out(mpz_sizeinbase(n, 10) + 2, '\0');
    mpz_get_str(out.data(), 10, n);
    mpz_clear(n);
    out.resize(out.find('\0'));
    return out;
}

// Order of magnitude (decimal exponent of the leading digit) of "digits[.digits][e[+-]digits]",
// saturated; only consulted when the value is out of double range.
long decimal_order(std::string_view text) {
    const auto e = text.find('e');
    long exponent = 0;
    if (e != std::string_view::npos) {
        std::size_t i = e + 1;
        const bool negative = text[i] == '-';
        if (text[i] == '-' || text[i] == '+') ++i;
        for (; i < text.size(); ++i) {
            exponent = std::min(exponent * 10 + (text[i] - '0'), 1'000'000'000L);
        }
        if (negative) exponent = -exponent;
        text = text.substr(0, e);
    }
    const auto point = std::min(text.find('.'), text.size());
    const auto first_nonzero = text.find_first_of("123456789");
    if (first_nonzero == std::string_view::npos) return -1'000'000'000L;
    const long position = first_nonzero < point
                              ? static_cast<long>(point - first_nonzero) - 1
                              : -static_cast<long>(first_nonzero - point);
    return position + exponent;
}

// Python's conversion of a float literal: out-of-range values become infinity or zero.
double float_from_literal(const std::string& text) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
        return decimal_order(text) > 0 ? HUGE_VAL : 0.0;
    }
    return value;
}

std::optional<double> int_to_double(const PyInt& n) {
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(n.digits.data(), n.digits.data() + n.digits.size(), value);
    if (ec != std::errc()) return std::nullopt;
    return n.negative ? -value : value;
}

class LiteralParser {
public:
    explicit LiteralParser(std::string_view text) : text_(text) {}

    Parsed parse_document() {
        skip_whitespace();
        if (at_end()) return fail("empty expression");
        auto first = parse_value(0);
        if (!first) return first;
        skip_whitespace();
        if (peek() == ',') {
            first = parse_bare_tuple(std::move(*first));
            if (!first) return first;
        }
        skip_whitespace();
        if (!at_end()) return fail(describe_unexpected());
        return first;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;

    bool at_end() const { return pos_ >= text_.size(); }
    char peek(std::size_t ahead = 0) const {
        return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
    }
    void skip_whitespace() {
        while (!at_end() && is_whitespace(text_[pos_])) ++pos_;
    }

    std::unexpected<std::string> fail_at(const std::string& what, std::size_t offset) const {
        return std::unexpected(what + " at offset " + std::to_string(offset));
    }
    std::unexpected<std::string> fail(const std::string& what) const {
        return fail_at(what, pos_);
    }
    std::string describe_unexpected() const {
        if (at_end()) return "unexpected end of text";
        const char c = text_[pos_];
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            return "unexpected byte " + std::to_string(static_cast<unsigned char>(c));
        }
        return std::string("unexpected character '") + c + "'";
    }

    Parsed parse_value(int depth) {
        skip_whitespace();
        const char c = peek();
        if (at_end()) return fail("unexpected end of text");
        if (c == '(' || c == '[' || c == '{') {
            if (depth >= kMaxLiteralNesting) {
                return fail("containers nested deeper than " +
                            std::to_string(kMaxLiteralNesting) + " levels");
            }
            if (c == '(') return parse_parenthesised(depth + 1);
            if (c == '[') return parse_list(depth + 1);
            return parse_braced(depth + 1);
        }
        if (c == '\'' || c == '"') return parse_strings();
        if (is_ident_start(c)) return parse_word();
        if (is_digit(c) || (c == '.' && is_digit(peek(1))) || c == '+' || c == '-') {
            return parse_numeric_expression();
        }
        return fail(describe_unexpected());
    }

    // Items up to `close` once the first item has been read; a trailing comma is allowed.
    std::expected<void, std::string> finish_sequence(char close, int depth,
                                                     std::vector<PyValue>& items) {
        for (;;) {
            skip_whitespace();
            if (peek() == close) {
                ++pos_;
                return {};
            }
            if (peek() != ',') return fail("expected ',' or '" + std::string(1, close) + "'");
            ++pos_;
            skip_whitespace();
            if (peek() == close) {
                ++pos_;
                return {};
            }
            auto item = parse_value(depth);
            if (!item) return std::unexpected(std::move(item.error()));
            items.push_back(std::move(*item));
        }
    }

    // Starts after the first item of an unparenthesised tuple, at its comma.
    Parsed parse_bare_tuple(PyValue first) {
        PyTuple tuple;
        tuple.items.push_back(std::move(first));
        while (peek() == ',') {
            ++pos_;
            skip_whitespace();
            if (at_end()) break;
            auto item = parse_value(1);
            if (!item) return item;
            tuple.items.push_back(std::move(*item));
            skip_whitespace();
        }
        return PyValue{std::move(tuple)};
    }

    Parsed parse_parenthesised(int depth) {
        ++pos_;
        skip_whitespace();
        if (peek() == ')') {
            ++pos_;
            return PyValue{PyTuple{}};
        }
        auto first = parse_value(depth);
        if (!first) return first;
        skip_whitespace();
        if (peek() == ')') {
            ++pos_;
            return first;  // a parenthesised value, not a tuple
        }
        PyTuple tuple;
        tuple.items.push_back(std::move(*first));
        if (peek() != ',') return fail("expected ',' or ')'");
        auto rest = finish_sequence(')', depth, tuple.items);
        if (!rest) return std::unexpected(std::move(rest.error()));
        return PyValue{std::move(tuple)};
    }

    Parsed parse_list(int depth) {
        ++pos_;
        skip_whitespace();
        PyList list;
        if (peek() == ']') {
            ++pos_;
            return PyValue{std::move(list)};
        }
        auto first = parse_value(depth);
        if (!first) return first;
        list.items.push_back(std::move(*first));
        auto rest = finish_sequence(']', depth, list.items);
        if (!rest) return std::unexpected(std::move(rest.error()));
        return PyValue{std::move(list)};
    }

    Parsed parse_braced(int depth) {
        ++pos_;
        skip_whitespace();
        if (peek() == '}') {
            ++pos_;
            return PyValue{PyDict{}};
        }
        auto first = parse_value(depth);
        if (!first) return first;
        skip_whitespace();
        if (peek() == ':') return parse_dict_entries(depth, std::move(*first));
        PySet set;
        set.items.push_back(std::move(*first));
        auto rest = finish_sequence('}', depth, set.items);
        if (!rest) return std::unexpected(std::move(rest.error()));
        return PyValue{std::move(set)};
    }

    // Starts at the colon after the first key.
    Parsed parse_dict_entries(int depth, PyValue first_key) {
        PyDict dict;
        PyValue key = std::move(first_key);
        for (;;) {
            skip_whitespace();
            if (peek() != ':') return fail("expected ':'");
            ++pos_;
            auto value = parse_value(depth);
            if (!value) return value;
            dict.entries.push_back(PyDictEntry{std::move(key), std::move(*value)});
            skip_whitespace();
            if (peek() == '}') break;
            if (peek() != ',') return fail("expected ',' or '}'");
            ++pos_;
            skip_whitespace();
            if (peek() == '}') break;
            auto next_key = parse_value(depth);
            if (!next_key) return next_key;
            key = std::move(*next_key);
        }
        ++pos_;
        return PyValue{std::move(dict)};
    }

    // A name: True, False, None, or the prefix of a string literal.
    Parsed parse_word() {
        const std::size_t start = pos_;
        while (is_ident_char(peek())) ++pos_;
        const std::string_view word = text_.substr(start, pos_ - start);
        if (peek() == '\'' || peek() == '"') {
            pos_ = start;
            return parse_strings();
        }
        if (word == "True") return PyValue{PyBool{true}};
        if (word == "False") return PyValue{PyBool{false}};
        if (word == "None") return PyValue{PyNone{}};
        return fail_at("unknown name '" + std::string(word) + "'", start);
    }

    struct StringPiece {
        std::u32string text;
        bool is_bytes = false;
    };

    // One or more adjacent string literals, concatenated.
    Parsed parse_strings() {
        const std::size_t start = pos_;
        auto piece = parse_string_piece();
        if (!piece) return std::unexpected(std::move(piece.error()));
        const bool is_bytes = piece->is_bytes;
        std::u32string text = std::move(piece->text);
        for (;;) {
            const std::size_t before = pos_;
            skip_whitespace();
            if (!starts_string()) {
                pos_ = before;
                break;
            }
            auto next = parse_string_piece();
            if (!next) return std::unexpected(std::move(next.error()));
            if (next->is_bytes != is_bytes) {
                return fail_at("cannot mix bytes and nonbytes literals", start);
            }
            text += next->text;
        }
        if (!is_bytes) return PyValue{PyStr{std::move(text)}};
        std::string bytes(text.begin(), text.end());  // every unit is below 256
        return PyValue{PyBytes{std::move(bytes)}};
    }

    bool starts_string() const {
        std::size_t i = 0;
        while (is_ident_char(peek(i))) ++i;
        return (peek(i) == '\'' || peek(i) == '"') && valid_prefix(text_.substr(pos_, i));
    }

    static bool valid_prefix(std::string_view prefix) {
        std::string lower;
        for (char c : prefix) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return lower.empty() || lower == "r" || lower == "u" || lower == "b" || lower == "br" ||
               lower == "rb";
    }

    std::expected<StringPiece, std::string> parse_string_piece() {
        const std::size_t start = pos_;
        bool raw = false;
        StringPiece piece;
        while (is_ident_char(peek())) {
            const char c = peek();
            raw = raw || c == 'r' || c == 'R';
            piece.is_bytes = piece.is_bytes || c == 'b' || c == 'B';
            ++pos_;
        }
        if (!valid_prefix(text_.substr(start, pos_ - start))) {
            return fail_at("invalid string prefix", start);
        }
        const char quote = peek();
        const bool triple = peek(1) == quote && peek(2) == quote;
        pos_ += triple ? 3 : 1;
        for (;;) {
            if (at_end()) return fail_at("unterminated string literal", start);
            const char c = text_[pos_];
            if (c == quote && (!triple || (peek(1) == quote && peek(2) == quote))) {
                pos_ += triple ? 3 : 1;
                return piece;
            }
            if (!triple && (c == '\n' || c == '\r')) {
                return fail_at("unterminated string literal", start);
            }
            std::expected<void, std::string> step;
            if (c == '\\' && !raw) {
                step = read_escape(piece);
            } else if (c == '\\') {
                piece.text += U'\\';
                ++pos_;
                if (!at_end()) step = read_character(piece);
            } else {
                step = read_character(piece);
            }
            if (!step) return std::unexpected(std::move(step.error()));
        }
    }

    // One literal character of a string body, UTF-8 decoded.
    std::expected<void, std::string> read_character(StringPiece& piece) {
        const auto c = static_cast<unsigned char>(text_[pos_]);
        if (c == 0) return fail("null character in string literal");
        if (c < 0x80) {
            piece.text += static_cast<char32_t>(c);
            ++pos_;
            return {};
        }
        if (piece.is_bytes) return fail("bytes can only contain ASCII literal characters");
        const auto decoded = decode_utf8(text_, pos_);
        if (!decoded) return fail("invalid UTF-8");
        piece.text += decoded->first;
        pos_ += decoded->second;
        return {};
    }

    // Reads `count` hexadecimal digits after an escape letter.
    std::optional<char32_t> read_hex_digits(int count) {
        char32_t value = 0;
        for (int i = 0; i < count; ++i) {
            const int v = hex_value(peek());
            if (v < 0) return std::nullopt;
            value = value * 16 + static_cast<char32_t>(v);
            ++pos_;
        }
        return value;
    }

    std::expected<void, std::string> read_escape(StringPiece& piece) {
        const std::size_t start = pos_;
        ++pos_;
        if (at_end()) return fail_at("unterminated string literal", start);
        const char e = text_[pos_++];
        switch (e) {
            case '\n': return {};
            case '\r':
                if (peek() == '\n') ++pos_;
                return {};
            case '\\': piece.text += U'\\'; return {};
            case '\'': piece.text += U'\''; return {};
            case '"': piece.text += U'"'; return {};
            case 'a': piece.text += U'\a'; return {};
            case 'b': piece.text += U'\b'; return {};
            case 'f': piece.text += U'\f'; return {};
            case 'n': piece.text += U'\n'; return {};
            case 'r': piece.text += U'\r'; return {};
            case 't': piece.text += U'\t'; return {};
            case 'v': piece.text += U'\v'; return {};
            default: break;
        }
        if (e >= '0' && e <= '7') {
            char32_t value = static_cast<char32_t>(e - '0');
            for (int i = 0; i < 2 && peek() >= '0' && peek() <= '7'; ++i) {
                value = value * 8 + static_cast<char32_t>(peek() - '0');
                ++pos_;
            }
            if (piece.is_bytes && value > 0xFF) {
                return fail_at("octal escape outside the byte range", start);
            }
            piece.text += value;
            return {};
        }
        if (e == 'x') return read_code_escape(piece, 2, start);
        if (!piece.is_bytes && e == 'u') return read_code_escape(piece, 4, start);
        if (!piece.is_bytes && e == 'U') return read_code_escape(piece, 8, start);
        if (!piece.is_bytes && e == 'N') {
            return fail_at("named Unicode escapes are not supported", start);
        }
        // Not an escape: the backslash stays.
        piece.text += U'\\';
        --pos_;
        return read_character(piece);
    }

    std::expected<void, std::string> read_code_escape(StringPiece& piece, int digits,
                                                      std::size_t start) {
        const auto value = read_hex_digits(digits);
        if (!value) return fail_at("truncated escape sequence", start);
        if (*value > 0x10FFFF) return fail_at("illegal Unicode character", start);
        piece.text += *value;
        return {};
    }

    // A number with optional sign, or a real number plus or minus an imaginary one.
    Parsed parse_numeric_expression() {
        auto left = parse_signed_number();
        if (!left) return left;
        if (!std::holds_alternative<PyInt>(left->value) &&
            !std::holds_alternative<PyFloat>(left->value)) {
            return left;
        }
        const std::size_t before = pos_;
        skip_whitespace();
        const char op = peek();
        if (op != '+' && op != '-') {
            pos_ = before;
            return left;
        }
        ++pos_;
        skip_whitespace();
        const std::size_t right_start = pos_;
        if (!starts_number()) return fail("expected an imaginary number");
        auto right = parse_number();
        if (!right) return right;
        const auto* imaginary = std::get_if<PyComplex>(&right->value);
        if (!imaginary) return fail_at("expected an imaginary number", right_start);
        return combine_complex(*left, op, *imaginary);
    }

    Parsed combine_complex(const PyValue& left, char op, const PyComplex& right) {
        double real = 0.0;
        if (const auto* f = std::get_if<PyFloat>(&left.value)) {
            real = f->value;
        } else {
            const auto converted = int_to_double(std::get<PyInt>(left.value));
            if (!converted) return fail("integer too large to convert to float");
            real = *converted;
        }
        if (op == '+') return PyValue{PyComplex{real + right.real, 0.0 + right.imag}};
        return PyValue{PyComplex{real - right.real, 0.0 - right.imag}};
    }

    bool starts_number() const { return is_digit(peek()) || (peek() == '.' && is_digit(peek(1))); }

    Parsed parse_signed_number() {
        const char sign = peek();
        if (sign != '+' && sign != '-') return parse_number();
        ++pos_;
        skip_whitespace();
        if (!starts_number()) return fail("expected a number after the sign");
        auto number = parse_number();
        if (!number || sign == '+') return number;
        if (auto* n = std::get_if<PyInt>(&number->value)) {
            n->negative = n->digits != "0";
        } else if (auto* f = std::get_if<PyFloat>(&number->value)) {
            f->value = -f->value;
        } else if (auto* z = std::get_if<PyComplex>(&number->value)) {
            z->real = -z->real;
            z->imag = -z->imag;
        }
        return number;
    }

    Parsed parse_number() {
        if (peek() == '0') {
            const char p = peek(1);
            if (p == 'x' || p == 'X') return parse_based_integer(16, "hexadecimal");
            if (p == 'o' || p == 'O') return parse_based_integer(8, "octal");
            if (p == 'b' || p == 'B') return parse_based_integer(2, "binary");
        }
        return parse_decimal_number();
    }

    Parsed parse_based_integer(int base, const std::string& name) {
        const std::size_t start = pos_;
        pos_ += 2;
        std::string digits;
        do {
            if (peek() == '_') ++pos_;
            if (!is_base_digit(peek(), base)) return fail_at("invalid " + name + " literal", start);
            digits += peek();
            ++pos_;
        } while (peek() == '_' || is_base_digit(peek(), base));
        if (is_ident_char(peek())) return fail_at("invalid " + name + " literal", start);
        return PyValue{PyInt{false, to_decimal(strip_leading_zeros(std::move(digits)), base)}};
    }

    // digit (["_"] digit)*, appended to out without the underscores.
    bool read_digit_part(std::string& out) {
        for (;;) {
            out += peek();
            ++pos_;
            if (peek() == '_') {
                if (!is_digit(peek(1))) return false;
                ++pos_;
            } else if (!is_digit(peek())) {
                return true;
            }
        }
    }

    Parsed parse_decimal_number() {
        const std::size_t start = pos_;
        const auto invalid = [&] { return fail_at("invalid decimal literal", start); };
        std::string text;
        bool is_float = false;
        if (is_digit(peek()) && !read_digit_part(text)) return invalid();
        if (peek() == '.') {
            is_float = true;
            text += '.';
            ++pos_;
            if (is_digit(peek()) && !read_digit_part(text)) return invalid();
        }
        if (peek() == 'e' || peek() == 'E') {
            const std::size_t sign = (peek(1) == '+' || peek(1) == '-') ? 1 : 0;
            if (!is_digit(peek(1 + sign))) return invalid();
            is_float = true;
            text += 'e';
            if (sign) text += peek(1);
            pos_ += 1 + sign;
            if (!read_digit_part(text)) return invalid();
        }
        const bool imaginary = peek() == 'j' || peek() == 'J';
        if (imaginary) ++pos_;
        if (is_ident_char(peek())) return invalid();
        if (imaginary) return PyValue{PyComplex{0.0, float_from_literal(text)}};
        if (is_float) return PyValue{PyFloat{float_from_literal(text)}};
        if (text[0] == '0' && text.find_first_not_of('0') != std::string::npos) {
            return fail_at("leading zeros in decimal integer literals are not permitted", start);
        }
        return PyValue{PyInt{false, strip_leading_zeros(std::move(text))}};
    }
};

// ---- Printing --------------------------------------------------------------------------

std::string hex_escape(char32_t cp) {
    static constexpr char kDigits[] = "0123456789abcdef";
    int width = 8;
    char letter = 'U';
    if (cp <= 0xFF) {
        width = 2, letter = 'x';
    } else if (cp <= 0xFFFF) {
        width = 4, letter = 'u';
    }
    std::string out = {'\\', letter};
    for (int shift = 4 * (width - 1); shift >= 0; shift -= 4) out += kDigits[(cp >> shift) & 0xFu];
    return out;
}

std::string quoted(std::u32string_view text) {
    std::string out = "'";
    for (char32_t cp : text) {
        if (cp == U'\\') {
            out += "\\\\";
        } else if (cp == U'\'') {
            out += "\\'";
        } else if (cp == U'\n') {
            out += "\\n";
        } else if (cp == U'\r') {
            out += "\\r";
        } else if (cp > 127) {
            out += hex_escape(cp);
        } else {
            out += static_cast<char>(cp);
        }
    }
    return out + "'";
}

// Python's repr of a float; `mark_integral` adds the ".0" that float (not complex) repr adds.
std::string float_repr(double x, bool mark_integral) {
    if (std::isnan(x)) return "nan";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(result.ptr - buf));
    const auto e = sci.find('e');
    std::string_view mantissa = sci.substr(0, e);
    std::string out;
    if (!mantissa.empty() && mantissa[0] == '-') {
        out = "-";
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa) {
        if (c != '.') digits += c;
    }
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                    exponent);
    if (exponent < -4 || exponent >= 16) {
        out += digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        const std::string magnitude = std::to_string(exponent < 0 ? -exponent : exponent);
        return out + "e" + (exponent < 0 ? "-" : "+") + (magnitude.size() < 2 ? "0" : "") +
               magnitude;
    }
    if (exponent < 0) {
        return out + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    const auto integral = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integral) {
        out += digits + std::string(integral - digits.size(), '0');
        return mark_integral ? out + ".0" : out;
    }
    return out + digits.substr(0, integral) + "." + digits.substr(integral);
}

std::string complex_repr(const PyComplex& z) {
    const std::string imag = float_repr(z.imag, false);
    if (z.real == 0.0 && !std::signbit(z.real)) return imag + "j";
    const bool needs_plus = imag[0] != '-';
    std::string out = "(";
    out += float_repr(z.real, false);
    if (needs_plus) out += '+';
    return out + imag + "j)";
}

std::string dict_entry(const PyDictEntry& entry) {
    return to_py_literal(entry.key) + ": " + to_py_literal(entry.value);
}

struct LiteralPrinter {
    std::string operator()(const PyNone&) const { return "None"; }
    std::string operator()(const PyBool& b) const { return b.value ? "True" : "False"; }
    std::string operator()(const PyInt& n) const { return (n.negative ? "-" : "") + n.digits; }
    std::string operator()(const PyFloat& f) const { return float_repr(f.value, true); }
    std::string operator()(const PyComplex& z) const { return complex_repr(z); }
    std::string operator()(const PyStr& s) const { return quoted(s.text); }
    std::string operator()(const PyBytes& b) const {
        std::u32string units;
        for (char c : b.bytes) units += static_cast<char32_t>(static_cast<unsigned char>(c));
        return "b" + quoted(units);
    }
    std::string operator()(const PyTuple& t) const {
        return "(" + joined(t.items, to_py_literal) + (t.items.size() == 1 ? ",)" : ")");
    }
    std::string operator()(const PyList& l) const { return bracketed_list(l.items, to_py_literal); }
    std::string operator()(const PySet& s) const {
        return s.items.empty() ? "set()" : "{" + joined(s.items, to_py_literal) + "}";
    }
    std::string operator()(const PyDict& d) const { return "{" + joined(d.entries, dict_entry) + "}"; }
};

}  // namespace

std::expected<PyValue, std::string> parse_py_literal(std::string_view text) {
    return LiteralParser(text).parse_document();
}

std::string to_py_literal(const PyValue& value) {
    return std::visit(LiteralPrinter{}, value.value);
}

}  // namespace tavrin
