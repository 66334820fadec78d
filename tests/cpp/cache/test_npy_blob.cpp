#include "cache/npy_blob.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kMagic = "\x93NUMPY";
const std::string kHeader23 = "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3)}";

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes little_endian_doubles(const std::vector<double>& values) {
    Bytes out;
    for (double v : values) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
    return out;
}

Bytes big_endian_doubles(const std::vector<double>& values) {
    Bytes out;
    for (double v : values) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
    return out;
}

// A blob with the given header bytes taken as they are (the final newline included or not).
Bytes raw_blob(int major, std::string_view header, const Bytes& data = {}) {
    Bytes out = bytes_of(kMagic);
    out.push_back(static_cast<std::uint8_t>(major));
    out.push_back(0);
    const int width = major == 1 ? 2 : 4;
    for (int i = 0; i < width; ++i) {
        out.push_back(static_cast<std::uint8_t>(header.size() >> (8 * i)));
    }
    return out + bytes_of(header) + data;
}

// A blob whose header is `text` and a newline, without padding.
Bytes npy(std::string_view text, const Bytes& data = {}, int major = 1) {
    return raw_blob(major, std::string(text) + "\n", data);
}

const std::vector<double> kOneToSix = {1, 2, 3, 4, 5, 6};

Tensor tensor_of(Shape shape, std::vector<double> values) {
    return *Tensor::from_row_major(std::move(shape), std::move(values));
}

Bytes written(const Tensor& t) {
    auto blob = write_npy_blob(t);
    EXPECT_TRUE(blob.has_value());
    return blob.value_or(Bytes{});
}

// ---- Writing ---------------------------------------------------------------------------

TEST(NpyWrite, ShapeTwoByThreeIsTheDocumentedLayout) {
    const Bytes expected = bytes_of(kMagic) + Bytes{1, 0, 0x76, 0x00} + bytes_of(kHeader23) +
                           bytes_of(std::string(60, ' ') + "\n") +
                           little_endian_doubles(kOneToSix);
    const Bytes blob = written(tensor_of({2, 3}, kOneToSix));
    ASSERT_EQ(blob.size(), 176u);
    EXPECT_EQ(blob, expected);
    // 1.0 is 0x3FF0000000000000, least significant byte first.
    EXPECT_EQ(Bytes(blob.begin() + 128, blob.begin() + 136),
              (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
}

struct WrittenHeader {
    Shape shape;
    std::string text;
    std::size_t spaces;
};

void PrintTo(const WrittenHeader& c, std::ostream* os) { *os << c.text; }

class NpyWriteHeader : public ::testing::TestWithParam<WrittenHeader> {};

TEST_P(NpyWriteHeader, TextPaddingAndDataLength) {
    const auto& c = GetParam();
    const std::size_t count = c.shape.empty() ? 1 : [&] {
        std::size_t n = 1;
        for (auto d : c.shape) n *= d;
        return n;
    }();
    const Bytes blob = written(tensor_of(c.shape, std::vector<double>(count, 0.5)));
    const std::size_t header_len = c.text.size() + c.spaces + 1;
    const Bytes expected_start = bytes_of(kMagic) +
                                 Bytes{1, 0, static_cast<std::uint8_t>(header_len), 0} +
                                 bytes_of(c.text + std::string(c.spaces, ' ') + "\n");
    ASSERT_EQ(blob.size(), 10 + header_len + 8 * count);
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + static_cast<long>(expected_start.size())),
              expected_start);
    EXPECT_EQ((10 + header_len) % 64, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, NpyWriteHeader,
    ::testing::Values(
        WrittenHeader{{}, "{'descr': '<f8', 'fortran_order': False, 'shape': ()}", 64},
        WrittenHeader{{5}, "{'descr': '<f8', 'fortran_order': False, 'shape': (5,)}", 62},
        WrittenHeader{{0, 3}, "{'descr': '<f8', 'fortran_order': False, 'shape': (0, 3)}", 60},
        WrittenHeader{{10, 200, 1},
                      "{'descr': '<f8', 'fortran_order': False, 'shape': (10, 200, 1)}", 54}));

struct VersionCase {
    std::size_t axes_of_ten;  // among 21824 axes of length 1
    int major;
    std::uint64_t header_len;
};

class NpyWriteVersion : public ::testing::TestWithParam<VersionCase> {};

// 21824 axes give a header text of 65523 characters; each axis of length 10 adds one.
TEST_P(NpyWriteVersion, SwitchesToVersionTwoOnlyWhenTheLengthNeedsIt) {
    const auto& c = GetParam();
    Shape shape(21824, 1);
    std::size_t count = 1;
    for (std::size_t i = 0; i < c.axes_of_ten; ++i) {
        shape[i] = 10;
        count *= 10;
    }
    std::vector<double> values(count);
    for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<double>(i);
    const Tensor t = tensor_of(shape, values);
    const Bytes blob = written(t);
    ASSERT_GT(blob.size(), 16u);
    EXPECT_EQ(blob[6], c.major);
    const std::size_t prefix = c.major == 1 ? 10 : 12;
    std::uint64_t header_len = 0;
    for (std::size_t i = prefix - 1; i >= 8; --i) header_len = header_len << 8 | blob[i];
    EXPECT_EQ(header_len, c.header_len);
    EXPECT_EQ(blob[prefix + header_len - 1], '\n');
    EXPECT_EQ(blob.size(), prefix + header_len + 8 * count);
    const auto back = read_npy_blob(blob);
    ASSERT_TRUE(back.has_value()) << back.error();
    EXPECT_EQ(*back, t);
}

INSTANTIATE_TEST_SUITE_P(Boundary, NpyWriteVersion,
                         ::testing::Values(VersionCase{0, 1, 65526}, VersionCase{1, 1, 65526},
                                           VersionCase{2, 2, 65588}));

TEST(NpyRoundTrip, RandomShapesAndBitPatternsSurvive) {
    std::mt19937_64 rng(12345);
    for (int trial = 0; trial < 300; ++trial) {
        Shape shape(rng() % 6);
        std::size_t count = 1;
        for (auto& d : shape) {
            d = rng() % 5;
            count *= d;
        }
        std::vector<double> values(count);
        for (auto& v : values) v = std::bit_cast<double>(rng());  // NaNs and -0.0 included
        const Bytes blob = written(tensor_of(shape, values));
        const auto back = read_npy_blob(blob);
        ASSERT_TRUE(back.has_value()) << back.error();
        EXPECT_EQ(back->shape(), shape);
        ASSERT_EQ(back->data().size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(back->data()[i]),
                      std::bit_cast<std::uint64_t>(values[i]));
        }
    }
}

// ---- Reading: accepted variants --------------------------------------------------------

struct Accepted {
    std::string name;
    Bytes blob;
    Shape shape;
    std::vector<double> values;  // row-major
};

void PrintTo(const Accepted& c, std::ostream* os) { *os << c.name; }

class NpyReadAccepts : public ::testing::TestWithParam<Accepted> {};

TEST_P(NpyReadAccepts, GivesTheTensor) {
    const auto& c = GetParam();
    const auto t = read_npy_blob(c.blob);
    ASSERT_TRUE(t.has_value()) << t.error();
    EXPECT_EQ(t->shape(), c.shape);
    EXPECT_EQ(t->row_major_values(), c.values);
}

std::vector<Accepted> accepted_cases() {
    const Bytes data = little_endian_doubles(kOneToSix);
    const std::string numpy_style =
        "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }";
    return {
        {"numpy_trailing_comma",
         raw_blob(1, numpy_style + std::string(117 - numpy_style.size(), ' ') + "\n", data),
         {2, 3}, kOneToSix},
        {"keys_in_other_order",
         npy("{'shape': (2, 3), 'fortran_order': False, 'descr': '<f8'}", data),
         {2, 3}, kOneToSix},
        {"other_spacing_no_padding",
         npy("  { 'descr' :'<f8' ,'fortran_order':False,\t'shape':( 2,3 , ) }", data), {2, 3},
         kOneToSix},
        {"line_breaks_inside",
         npy("{'descr': '<f8',\n'fortran_order': False,\r\n'shape': (2, 3)}", data),
         {2, 3}, kOneToSix},
        {"double_quotes_and_escapes",
         npy("{\"descr\": '\\x3cf' \"8\", 'fortran_order': False, u'shape': (0x2, 0b11)}", data),
         {2, 3}, kOneToSix},
        {"duplicate_keys_replace",
         npy("{'descr': '<i8', 'fortran_order': True, 'shape': (9,), 'descr': '<f8', "
             "'fortran_order': False, 'shape': (2, 3)}",
             data),
         {2, 3}, kOneToSix},
        {"version_2", npy(kHeader23, data, 2), {2, 3}, kOneToSix},
        {"version_3", npy(kHeader23, data, 3), {2, 3}, kOneToSix},
        {"big_endian",
         npy("{'descr': '>f8', 'fortran_order': False, 'shape': (2, 3)}",
             big_endian_doubles(kOneToSix)),
         {2, 3}, kOneToSix},
        {"fortran_order", npy("{'descr': '<f8', 'fortran_order': True, 'shape': (2, 3)}", data),
         {2, 3}, {1, 3, 5, 2, 4, 6}},
        {"fortran_order_rank_3",
         npy("{'descr': '<f8', 'fortran_order': True, 'shape': (1, 2, 3)}", data), {1, 2, 3},
         {1, 3, 5, 2, 4, 6}},
        {"rank_0", npy("{'descr': '<f8', 'fortran_order': False, 'shape': ()}",
                       little_endian_doubles({-2.5})),
         {}, {-2.5}},
        {"zero_length_axis", npy("{'descr': '<f8', 'fortran_order': False, 'shape': (0, 3)}"),
         {0, 3}, {}},
        {"zero_axis_beside_a_huge_one",
         npy("{'descr': '<f8', 'fortran_order': True, 'shape': (4611686018427387904, 0)}"),
         {4611686018427387904ULL, 0}, {}},
    };
}

INSTANTIATE_TEST_SUITE_P(Variants, NpyReadAccepts, ::testing::ValuesIn(accepted_cases()),
                         [](const auto& test) { return test.param.name; });

// ---- Reading: failures -----------------------------------------------------------------

struct Rejected {
    std::string name;
    Bytes blob;
    std::string message;
};

void PrintTo(const Rejected& c, std::ostream* os) { *os << c.name; }

class NpyReadRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(NpyReadRejects, WithTheMessage) {
    const auto& c = GetParam();
    const auto t = read_npy_blob(c.blob);
    ASSERT_FALSE(t.has_value());
    EXPECT_EQ(t.error(), c.message);
}

// A blob whose header is the dict with these entries, without data.
Bytes blob_with(std::string_view entries) {
    std::string text = "{";
    text.append(entries);
    text += '}';
    return npy(text);
}

std::string header_msg(std::string_view what) {
    return "error parsing header: " + std::string(what);
}

std::vector<Rejected> framing_failures() {
    const Bytes good = npy(kHeader23, little_endian_doubles(kOneToSix));
    const std::string short_read = "I/O error: failed to fill whole buffer";
    const auto first = [&](std::size_t n) {
        return Bytes(good.begin(), good.begin() + static_cast<long>(n));
    };
    const auto version = [&](std::uint8_t major, std::uint8_t minor) {
        Bytes b = good;
        b[6] = major, b[7] = minor;
        return b;
    };
    Bytes wrong_magic = good;
    wrong_magic[5] = 'X';
    Bytes not_a_newline = good;
    not_a_newline[10 + kHeader23.size()] = ' ';
    Bytes truncated_data = good;
    truncated_data.pop_back();
    return {
        {"empty", {}, short_read},
        {"inside_magic", first(5), short_read},
        {"wrong_magic", wrong_magic, header_msg("start does not match magic string")},
        {"wrong_magic_short", bytes_of("NUMPY\x93"),
         header_msg("start does not match magic string")},
        {"no_version", first(6), short_read},
        {"half_version", first(7), short_read},
        {"version_0_0", version(0, 0), header_msg("unknown version number: 0.0")},
        {"version_4_0", version(4, 0), header_msg("unknown version number: 4.0")},
        {"version_1_1", version(1, 1), header_msg("unknown version number: 1.1")},
        {"version_255_200", version(255, 200), header_msg("unknown version number: 255.200")},
        {"half_length_v1", first(9), short_read},
        {"short_length_v2", bytes_of(kMagic) + Bytes{2, 0, 1, 0, 0}, short_read},
        {"inside_header", first(40), short_read},
        {"empty_header", raw_blob(1, ""), header_msg("newline missing at end of header")},
        {"header_without_newline", not_a_newline, header_msg("newline missing at end of header")},
        {"data_one_byte_short", truncated_data, "reached EOF before reading all data"},
        {"no_data", npy(kHeader23), "reached EOF before reading all data"},
        {"one_extra_byte", good + Bytes{0}, "file had 1 extra bytes before EOF"},
        {"nine_extra_bytes", good + Bytes(9, 7), "file had 9 extra bytes before EOF"},
    };
}

std::vector<Rejected> encoding_failures() {
    const std::string non_ascii = header_msg(
        "non-ascii in array format string; this is not supported in .npy format versions 1.0 "
        "and 2.0");
    const std::string bad_utf8 = header_msg("error parsing array format string as UTF-8: ");
    const std::string accented =
        "{'descr': '<f8', 'fortran_order': False, 'shape': (), '\xc3\xa9': 1}";
    return {
        {"non_ascii_v1", npy(accented, little_endian_doubles({1})), non_ascii},
        {"non_ascii_v2", npy(accented, little_endian_doubles({1}), 2), non_ascii},
        {"non_ascii_padding_v1", raw_blob(1, kHeader23 + " \x80\n"), non_ascii},
        {"utf8_accepted_v3", npy(accented, little_endian_doubles({1}), 3),
         header_msg("unknown key: '\\xe9'")},
        {"invalid_utf8_v3", npy("{'descr': '<f8\xff'}", {}, 3),
         bad_utf8 + "invalid UTF-8 sequence at offset 14"},
        {"invalid_utf8_after_syntax_error_v3", npy("{{{ \xe2\x82", {}, 3),
         bad_utf8 + "invalid UTF-8 sequence at offset 4"},
        {"surrogate_v3", npy("'\xed\xa0\x80'", {}, 3),
         bad_utf8 + "invalid UTF-8 sequence at offset 1"},
    };
}

std::vector<Rejected> dict_failures() {
    const std::string parse = header_msg("error parsing metadata dict: ");
    return {
        {"unclosed_dict", npy(kHeader23.substr(0, kHeader23.size() - 1)),
         parse + "expected ',' or '}' at offset 56"},
        {"only_spaces", npy("    "), parse + "empty expression at offset 4"},
        {"bad_token", npy("{'descr': <f8}"), parse + "unexpected character '<' at offset 10"},
        {"too_deep",
         npy(std::string(100, '[')),
         parse + "containers nested deeper than 64 levels at offset 64"},
        {"list", npy("[('descr', '<f8')]"),
         header_msg("metadata is not a dict: [('descr', '<f8')]")},
        {"string_with_quote", npy("\"it's\\\\\""),
         header_msg("metadata is not a dict: 'it\\'s\\\\'")},
        {"non_ascii_string_v3", npy("'\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\\n'", {}, 3),
         header_msg("metadata is not a dict: '\\xe9\\u20ac\\U0001f600\\n'")},
        {"bare_tuple", npy("{}, None, b'\\x80'"),
         header_msg("metadata is not a dict: ({}, None, b'\\x80')")},
        {"unknown_key", blob_with("'descr': '<f8', 'Shape': (2, 3)"),
         header_msg("unknown key: 'Shape'")},
        {"int_key", blob_with("1: 2"), header_msg("unknown key: 1")},
        {"bytes_key", blob_with("b'descr': '<f8'"), header_msg("unknown key: b'descr'")},
        {"tuple_key", blob_with("('shape',): (1,)"), header_msg("unknown key: ('shape',)")},
        {"fortran_order_int", blob_with("'fortran_order': 0"),
         header_msg("illegal value for key fortran_order: 0")},
        {"fortran_order_string", blob_with("'fortran_order': 'False'"),
         header_msg("illegal value for key fortran_order: 'False'")},
        {"shape_list", blob_with("'shape': [2, 3]"),
         header_msg("illegal value for key shape: [2, 3]")},
        {"shape_int", blob_with("'shape': 6"), header_msg("illegal value for key shape: 6")},
        {"shape_negative", blob_with("'shape': (2, -0x3)"),
         header_msg("illegal value for key shape: (2, -3)")},
        {"shape_2_pow_64", blob_with("'shape': (18446744073709551616,)"),
         header_msg("illegal value for key shape: (18446744073709551616,)")},
        {"shape_float", blob_with("'shape': (2.0, 1e20, 3j)"),
         header_msg("illegal value for key shape: (2.0, 1e+20, 3j)")},
        {"shape_bool", blob_with("'shape': (True,)"),
         header_msg("illegal value for key shape: (True,)")},
        {"shape_nested", blob_with("'shape': ((2,), {3: None})"),
         header_msg("illegal value for key shape: ((2,), {3: None})")},
        {"illegal_value_before_unknown_key", blob_with("'shape': [1], 'foo': 1"),
         header_msg("illegal value for key shape: [1]")},
        {"unknown_key_before_illegal_value", blob_with("'foo': 1, 'shape': [1]"),
         header_msg("unknown key: 'foo'")},
        {"illegal_value_later_replaced", blob_with("'shape': [1], 'shape': (1,)"),
         header_msg("illegal value for key shape: [1]")},
        {"unknown_key_before_missing_key", blob_with("'descr': '<f8', 'x': 1"),
         header_msg("unknown key: 'x'")},
        {"empty_dict", npy("{}"), header_msg("missing key: descr")},
        {"missing_descr", blob_with("'shape': (1,), 'fortran_order': False"),
         header_msg("missing key: descr")},
        {"missing_fortran_order", blob_with("'shape': (), 'descr': '<f8'"),
         header_msg("missing key: fortran_order")},
        {"missing_shape", blob_with("'descr': '<f8', 'fortran_order': True"),
         header_msg("missing key: shape")},
    };
}

std::vector<Rejected> shape_and_data_failures() {
    const std::string overflow = "overflow computing length from shape";
    const auto with_shape = [](std::string_view descr, std::string_view shape) {
        return blob_with("'descr': " + std::string(descr) + ", 'fortran_order': False, 'shape': " +
                         std::string(shape));
    };
    return {
        {"count_2_pow_60", with_shape("'<f8'", "(1073741824, 1073741824)"), overflow},
        {"count_wraps_64_bits", with_shape("'<f8'", "(4294967296, 4294967296)"), overflow},
        {"count_max_times_two", with_shape("'<f8'", "(18446744073709551615, 2)"), overflow},
        {"count_just_below_limit_needs_data", with_shape("'<f8'", "(1073741824, 1073741823)"),
         "reached EOF before reading all data"},
        {"overflow_before_descr", with_shape("'<i8'", "(1152921504606846976,)"), overflow},
        {"zero_axis_beside_2_pow_63", with_shape("'<f8'", "(4611686018427387904, 2, 0)"), overflow},
        {"zero_axis_beside_max", with_shape("'<f8'", "(0, 18446744073709551615)"), overflow},
        {"zero_axis_bad_descr_first", with_shape("'<i8'", "(18446744073709551615, 0)"),
         "incorrect descriptor ('<i8') for this type"},
        {"descr_int64", with_shape("'<i8'", "(2, 3)"),
         "incorrect descriptor ('<i8') for this type"},
        {"descr_float32", with_shape("'<f4'", "()"), "incorrect descriptor ('<f4') for this type"},
        {"descr_native", with_shape("'=f8'", "()"), "incorrect descriptor ('=f8') for this type"},
        {"descr_no_order", with_shape("'f8'", "()"), "incorrect descriptor ('f8') for this type"},
        {"descr_bytes", with_shape("b'<f8'", "()"), "incorrect descriptor (b'<f8') for this type"},
        {"descr_int", with_shape("8", "()"), "incorrect descriptor (8) for this type"},
        {"descr_structured", with_shape("[('a', '<f8')]", "()"),
         "incorrect descriptor ([('a', '<f8')]) for this type"},
        {"descr_quote", with_shape("\"'<f8'\"", "()"),
         "incorrect descriptor ('\\'<f8\\'') for this type"},
    };
}

INSTANTIATE_TEST_SUITE_P(Framing, NpyReadRejects, ::testing::ValuesIn(framing_failures()),
                         [](const auto& test) { return test.param.name; });
INSTANTIATE_TEST_SUITE_P(Encoding, NpyReadRejects, ::testing::ValuesIn(encoding_failures()),
                         [](const auto& test) { return test.param.name; });
INSTANTIATE_TEST_SUITE_P(Dict, NpyReadRejects, ::testing::ValuesIn(dict_failures()),
                         [](const auto& test) { return test.param.name; });
INSTANTIATE_TEST_SUITE_P(ShapeAndData, NpyReadRejects,
                         ::testing::ValuesIn(shape_and_data_failures()),
                         [](const auto& test) { return test.param.name; });

TEST(NpyRead, BigEndianTwinReadsTheSameValues) {
    const std::vector<double> values = {0.1, -0.0, 1e300, -3.5};
    const auto little = read_npy_blob(
        npy("{'descr': '<f8', 'fortran_order': False, 'shape': (4,)}",
            little_endian_doubles(values)));
    const auto big = read_npy_blob(
        npy("{'descr': '>f8', 'fortran_order': False, 'shape': (4,)}", big_endian_doubles(values)));
    ASSERT_TRUE(little.has_value() && big.has_value());
    EXPECT_EQ(*little, *big);
    EXPECT_TRUE(std::signbit(big->data()[1]));
}

TEST(NpyRead, HugeHeaderLengthBeyondTheBlobIsAShortRead) {
    const Bytes blob = bytes_of(kMagic) + Bytes{2, 0, 0xFF, 0xFF, 0xFF, 0xFF} + bytes_of("{}\n");
    const auto t = read_npy_blob(blob);
    ASSERT_FALSE(t.has_value());
    EXPECT_EQ(t.error(), "I/O error: failed to fill whole buffer");
}

}  // namespace
}  // namespace tavrin
