// Values of Python literal syntax: parsing them from text and printing them back.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavrin {

struct PyValue;

struct PyNone {
    friend bool operator==(const PyNone&, const PyNone&) = default;
};
struct PyBool {
    bool value = false;
    friend bool operator==(const PyBool&, const PyBool&) = default;
};
// Integers of any size: sign and decimal magnitude without leading zeros ("0" for zero, never
// negative zero).
struct PyInt {
    bool negative = false;
    std::string digits = "0";
    friend bool operator==(const PyInt&, const PyInt&) = default;
};
struct PyFloat {
    double value = 0.0;
    friend bool operator==(const PyFloat&, const PyFloat&) = default;
};
struct PyComplex {
    double real = 0.0;
    double imag = 0.0;
    friend bool operator==(const PyComplex&, const PyComplex&) = default;
};
// Unicode code points (lone surrogates included, as Python allows them).
struct PyStr {
    std::u32string text;
    friend bool operator==(const PyStr&, const PyStr&) = default;
};
struct PyBytes {
    std::string bytes;
    friend bool operator==(const PyBytes&, const PyBytes&) = default;
};
struct PyTuple {
    std::vector<PyValue> items;
    friend bool operator==(const PyTuple&, const PyTuple&) = default;
};
struct PyList {
    std::vector<PyValue> items;
    friend bool operator==(const PyList&, const PyList&) = default;
};
// Items as written, duplicates kept.
struct PySet {
    std::vector<PyValue> items;
    friend bool operator==(const PySet&, const PySet&) = default;
};
struct PyDictEntry;
// Entries as written, in order, duplicate keys kept: the reader of the dict decides.
struct PyDict {
    std::vector<PyDictEntry> entries;
    friend bool operator==(const PyDict&, const PyDict&) = default;
};

struct PyValue {
    std::variant<PyNone, PyBool, PyInt, PyFloat, PyComplex, PyStr, PyBytes, PyTuple, PyList,
                 PySet, PyDict>
        value;
    friend bool operator==(const PyValue&, const PyValue&) = default;
};

struct PyDictEntry {
    PyValue key;
    PyValue value;
    friend bool operator==(const PyDictEntry&, const PyDictEntry&) = default;
};

// Containers nested deeper than this are refused, so that hostile text cannot exhaust the stack.
inline constexpr int kMaxLiteralNesting = 64;

// Parses UTF-8 text holding one Python literal expression (surrounding whitespace allowed).
// The error is a short description of what went wrong and at which byte offset.
std::expected<PyValue, std::string> parse_py_literal(std::string_view text);

// The value in Python literal notation: strings single-quoted with \\, \', \n, \r escaped and
// code points above 127 written as \xNN, \uNNNN or \UNNNNNNNN; bytes the same way after a b.
std::string to_py_literal(const PyValue& value);

}  // namespace tavrin
