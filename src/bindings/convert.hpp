// Conversion of Python arguments into library values. Each converter throws PythonErrorSet
// with the Python exception set when the object is not acceptable.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "specs/cg_spec.hpp"
#include "specs/contraction.hpp"
#include "core/spin.hpp"
#include "blocks/block_tensor.hpp"
#include "symbols/symbol_method.hpp"

namespace tavrin::bindings {

// Any object with __index__ whose value fits in 32 signed bits; TypeError for non-integers,
// OverflowError for values out of range.
std::int32_t to_int32(PyObject* object);

// An instance of the given value class; otherwise TypeError
// "'{type}' object is not an instance of '{Class}'" ("'None' is not an instance of ..." for None).
const Spin& to_spin(PyObject* object);
const Direction& to_direction(PyObject* object);
const Edge& to_edge(PyObject* object);
const CGSpec& to_cg_spec(PyObject* object);
const Contraction& to_contraction(PyObject* object);

// Any sequence but a str, read item by item in iteration order; a str raises TypeError
// "Can't extract `str` to `Vec`", a non-sequence "'{type}' object is not an instance of
// 'Sequence'". Items are converted by to_edge, or to unsigned 64-bit integers through __index__
// (TypeError for non-integers, ArgumentValueError for negative values, OverflowError for values
// of 2^64 and more).
std::vector<Edge> to_edge_list(PyObject* object);
std::vector<std::uint64_t> to_uint64_list(PyObject* object);
// The doubled spins of a sequence of edges, read as to_edge_list reads it.
std::vector<std::int32_t> to_edge_spins(PyObject* object);

// Instances of Leg and BlockTensor, and sequences of legs (read as to_edge_list reads edges).
const blocks::Leg& to_leg(PyObject* object);
std::vector<blocks::Leg> to_leg_list(PyObject* object);
const blocks::BlockTensor& to_block_tensor(PyObject* object);
// Leg positions: non-negative integers, as to_uint64_list reads them (a negative one is
// refused as "leg positions count from 0").
std::vector<std::size_t> to_position_list(PyObject* object);
std::size_t to_position(PyObject* object);
// A seed of random numbers, 0 ... 2^64 - 1, through __index__; TypeError for non-integers,
// ArgumentValueError for negative ones, OverflowError from 2^64.
std::uint64_t to_seed(PyObject* object);
// A count of 1 or more through __index__ (one beyond 64 bits is the largest 64-bit value: no
// bound); TypeError for non-integers, ArgumentValueError for less than 1.
std::uint64_t to_count(PyObject* object);
// A float of 0 or more (anything float() takes); TypeError for what it does not,
// ArgumentValueError for a negative number or NaN.
double to_non_negative_float(PyObject* object);
// The sectors of a leg: a dict from 2j to multiplicity (in any order), or a sequence of
// (2j, multiplicity) pairs (in the order given); TypeError for anything else,
// ArgumentValueError for a multiplicity below 1.
std::vector<blocks::Sector> to_sectors(PyObject* object);

// The keyword `method` of the symbol functions: null (not given) or "dense" is the dense method,
// "recoupling" the recoupling method. A non-str raises TypeError "'{type}' object is not an
// instance of 'str'", any other str ValueError "method must be 'dense' or 'recoupling', got
// {repr}".
SymbolMethod to_symbol_method(PyObject* object);

}  // namespace tavrin::bindings
