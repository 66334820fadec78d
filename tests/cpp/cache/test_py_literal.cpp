#include "cache/py_literal.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tavrin {
namespace {

struct LiteralCase {
    std::string text;
    std::string printed;
};

void PrintTo(const LiteralCase& c, std::ostream* os) { *os << c.text; }

// Parsing a literal and printing it back gives Python's literal notation of the value.
class LiteralRoundTrip : public ::testing::TestWithParam<LiteralCase> {};

TEST_P(LiteralRoundTrip, ParsesAndPrints) {
    const auto& c = GetParam();
    const auto value = parse_py_literal(c.text);
    ASSERT_TRUE(value.has_value()) << value.error();
    EXPECT_EQ(to_py_literal(*value), c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Constants, LiteralRoundTrip,
    ::testing::Values(LiteralCase{"True", "True"}, LiteralCase{"False", "False"},
                      LiteralCase{"None", "None"}, LiteralCase{" \t\n None \r\n ", "None"}));

INSTANTIATE_TEST_SUITE_P(
    Strings, LiteralRoundTrip,
    ::testing::Values(
        LiteralCase{"'<f8'", "'<f8'"}, LiteralCase{"\"<f8\"", "'<f8'"},
        LiteralCase{"'''a'b\"c'''", "'a\\'b\"c'"}, LiteralCase{"\"\"\"x\ny\"\"\"", "'x\\ny'"},
        LiteralCase{R"('a\'b\"c\\d')", R"('a\'b"c\\d')"},
        LiteralCase{R"('\n\r\t\a\b\f\v')", "'\\n\\r\t\a\b\f\v'"},
        LiteralCase{R"('\101\x42\u0043\U00000044')", "'ABCD'"},
        LiteralCase{R"('\xe9\u20ac\U0001f600')", R"('\xe9\u20ac\U0001f600')"},
        LiteralCase{"'\xc3\xa9\xe2\x82\xac'", R"('\xe9\u20ac')"},  // UTF-8 text
        LiteralCase{R"('\q')", R"('\\q')"},                        // not an escape
        LiteralCase{"'a\\\nb'", "'ab'"},                            // line continuation
        LiteralCase{R"(r'\n\'')", R"('\\n\\\'')"}, LiteralCase{R"(R'\x')", R"('\\x')"},
        LiteralCase{"u'x'", "'x'"}, LiteralCase{"'a' \"b\"\n'''c'''", "'abc'"},
        LiteralCase{"b'ab\\x41\\xff\\''", R"(b'abA\xff\'')"},
        LiteralCase{R"(rb'\x' Br'\n')", R"(b'\\x\\n')"},
        LiteralCase{R"(b'\u0041')", R"(b'\\u0041')"},
        LiteralCase{"''", "''"}, LiteralCase{"b''", "b''"}));

INSTANTIATE_TEST_SUITE_P(
    Integers, LiteralRoundTrip,
    ::testing::Values(LiteralCase{"0", "0"}, LiteralCase{"000", "0"}, LiteralCase{"0_0", "0"},
                      LiteralCase{"1_000_000", "1000000"}, LiteralCase{"-5", "-5"},
                      LiteralCase{"+5", "5"}, LiteralCase{"- 0", "0"},
                      LiteralCase{"0x_FF", "255"}, LiteralCase{"0XdeAD_beef", "3735928559"},
                      LiteralCase{"0o17", "15"}, LiteralCase{"0b1_01", "5"},
                      LiteralCase{"18446744073709551615", "18446744073709551615"},
                      LiteralCase{"-123456789012345678901234567890",
                                  "-123456789012345678901234567890"},
                      LiteralCase{"0x10000000000000000", "18446744073709551616"}));

INSTANTIATE_TEST_SUITE_P(
    FloatsAndComplex, LiteralRoundTrip,
    ::testing::Values(LiteralCase{"1.5", "1.5"}, LiteralCase{"2.", "2.0"},
                      LiteralCase{".25", "0.25"}, LiteralCase{"-0.0", "-0.0"},
                      LiteralCase{"1e3", "1000.0"}, LiteralCase{"1_0.5e-1_0", "1.05e-09"},
                      LiteralCase{"1e16", "1e+16"}, LiteralCase{"1e15", "1000000000000000.0"},
                      LiteralCase{"0.0001", "0.0001"}, LiteralCase{"0.00001", "1e-05"},
                      LiteralCase{"0123.5", "123.5"}, LiteralCase{"1e999", "inf"},
                      LiteralCase{"-1e999", "-inf"}, LiteralCase{"1e-999", "0.0"},
                      LiteralCase{"2j", "2j"}, LiteralCase{"1.5J", "1.5j"},
                      LiteralCase{"0123j", "123j"}, LiteralCase{"-2j", "(-0-2j)"},
                      LiteralCase{"1+2j", "(1+2j)"}, LiteralCase{"-1.5 - 2j", "(-1.5-2j)"},
                      LiteralCase{"1e400 + 1j", "(inf+1j)"}));

INSTANTIATE_TEST_SUITE_P(
    Containers, LiteralRoundTrip,
    ::testing::Values(
        LiteralCase{"()", "()"}, LiteralCase{"(5,)", "(5,)"}, LiteralCase{"(5)", "5"},
        LiteralCase{"((5))", "5"}, LiteralCase{"( 2 ,3 , )", "(2, 3)"},
        LiteralCase{"[]", "[]"}, LiteralCase{"[1]", "[1]"},
        LiteralCase{"[1, [2, ()],]", "[1, [2, ()]]"},
        LiteralCase{"{}", "{}"}, LiteralCase{"{1, 'a',}", "{1, 'a'}"},
        LiteralCase{"{'a': 1, 'a': 2}", "{'a': 1, 'a': 2}"},
        LiteralCase{"{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }",
                    "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3)}"},
        LiteralCase{"{(1, 2): [None]}", "{(1, 2): [None]}"},
        LiteralCase{"1, 2", "(1, 2)"}, LiteralCase{"1,", "(1,)"},
        LiteralCase{"{'a':1},", "({'a': 1},)"}));

class LiteralRejected : public ::testing::TestWithParam<std::string> {};

TEST_P(LiteralRejected, ReportsAnError) {
    const auto value = parse_py_literal(GetParam());
    ASSERT_FALSE(value.has_value()) << to_py_literal(*value);
    EXPECT_NE(value.error().find(" at offset "), std::string::npos) << value.error();
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, LiteralRejected,
    ::testing::Values("", "   ", "(", "(1", "(1 2)", "[1,,]", "(,)", "{1: 2, 3}", "{1: }",
                      "{'a' 1}", "{1, 2: 3}", "1 2", "true", "none", "x", "f'a'", "ub'a'",
                      "'abc", "'''abc''", "'a\nb'", "'\\", "r'\\'", "'\\x4'", "'\\u12'",
                      "'\\U00110000'", "'\\N{DASH}'", "b'\xc3\xa9'", "b'\\777'", "'a' b'b'",
                      "01", "1_", "1__0", "0x", "0x_", "0b12", "0o8", "1e", "1e+", "1.e_1",
                      "1._5", "1a", "1jj", "--1", "-'a'", "-True", "1 + 2", "2j + 1",
                      "1 + 1jx", "1 +", "\xff", "'\xc3'", "'\xed\xa0\x80'", "1;",
                      std::string("'a\0b'", 5), "{1: 2}}", "{'a': 1,,}", "[1],[2]]"));

TEST(LiteralNesting, AcceptsTheLimitAndRejectsDeeperWithoutRecursingFurther) {
    const int limit = kMaxLiteralNesting;
    const auto nested = [](int depth) {
        return std::string(static_cast<std::size_t>(depth), '[') +
               std::string(static_cast<std::size_t>(depth), ']');
    };
    EXPECT_TRUE(parse_py_literal(nested(limit)).has_value());
    EXPECT_FALSE(parse_py_literal(nested(limit + 1)).has_value());
    EXPECT_FALSE(parse_py_literal(std::string(10'000'000, '(')).has_value());
    EXPECT_FALSE(parse_py_literal("(1, " + std::string(1'000'000, '{')).has_value());
}

TEST(LiteralLargeInput, HugeIntegersParseAndPrintInDecimal) {
    const std::string hex = "0x" + std::string(200'000, 'f');
    const auto value = parse_py_literal(hex);
    ASSERT_TRUE(value.has_value());
    const std::string printed = to_py_literal(*value);
    EXPECT_EQ(printed.size(), 240'824u);  // digits of 16^200000 - 1
    EXPECT_EQ(printed.back(), '5');
}

}  // namespace
}  // namespace tavrin
