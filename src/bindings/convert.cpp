#include "bindings/convert.hpp"

#include <algorithm>
#include <climits>
#include <limits>
#include <string>

#include "bindings/classes.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"
#include "bindings/value_object.hpp"

namespace tavrin::bindings {

namespace {

[[noreturn]] void raise_not_an_instance(PyObject* object, const char* expected) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    } else {
        PyRef type_name = checked(PyType_GetQualName(Py_TYPE(object)));
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", type_name.get(),
                     expected);
    }
    throw_python_error();
}

[[noreturn]] void raise_not_an_instance(PyObject* object, PyTypeObject* expected) {
    PyRef class_name = checked(PyType_GetQualName(expected));
    const char* utf8 = PyUnicode_AsUTF8AndSize(class_name.get(), nullptr);
    if (utf8 == nullptr) {
        throw_python_error();
    }
    raise_not_an_instance(object, utf8);
}

template <class T>
const T& instance_value(PyObject* object, PyTypeObject* type) {
    if (!PyType_IsSubtype(Py_TYPE(object), type)) {
        raise_not_an_instance(object, type);
    }
    return value_of<T>(object);
}

// str(object) as UTF-8.
std::string text_of(PyObject* object) {
    PyRef text = checked(PyObject_Str(object));
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), nullptr);
    if (utf8 == nullptr) throw_python_error();
    return utf8;
}

void require_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        throw_python_error();
    }
    if (!PySequence_Check(object)) {
        raise_not_an_instance(object, "Sequence");
    }
}

template <class Item, class Convert>
std::vector<Item> sequence_items(PyObject* object, Convert convert) {
    require_sequence(object);
    std::vector<Item> items;
    // A list or tuple is read by index, as its iterator would (the size is read again after
    // each item, whose conversion may run Python code), without making the iterator.
    if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
        const bool list = PyList_CheckExact(object);
        const auto size = [&] { return list ? PyList_Size(object) : PyTuple_Size(object); };
        items.reserve(static_cast<std::size_t>(std::max<Py_ssize_t>(size(), 0)));
        for (Py_ssize_t i = 0; i < size(); ++i) {
            PyObject* borrowed = list ? PyList_GetItem(object, i) : PyTuple_GetItem(object, i);
            if (borrowed == nullptr) {
                throw_python_error();
            }
            const PyRef item = PyRef::borrow(borrowed);
            items.push_back(convert(item.get()));
        }
        return items;
    }
    PyRef iterator = checked(PyObject_GetIter(object));
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
        items.push_back(convert(item.get()));
    }
    if (PyErr_Occurred()) {
        throw_python_error();
    }
    return items;
}

// `counted` names what counts from 0 in the message of a negative value.
std::uint64_t to_uint64(PyObject* object, const char* counted) {
    PyRef integer = PyLong_Check(object) ? PyRef::borrow(object) : checked(PyNumber_Index(object));
    int overflow = 0;
    const long long signed_value = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
    if (signed_value == -1 && overflow == 0 && PyErr_Occurred()) {
        throw_python_error();
    }
    if (overflow == 0 && signed_value >= 0) return static_cast<std::uint64_t>(signed_value);
    if (overflow < 0 || (overflow == 0 && signed_value < 0)) {
        throw ArgumentValueError{text_of(integer.get()) + " is negative: " + counted +
                                 " count from 0"};
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        throw_python_error();
    }
    return value;
}

}  // namespace

std::int32_t to_int32(PyObject* object) {
    PyRef integer = checked(PyNumber_Index(object));
    const long value = PyLong_AsLong(integer.get());
    if (value == -1 && PyErr_Occurred()) {
        throw_python_error();
    }
    if (value < INT32_MIN || value > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C int");
        throw_python_error();
    }
    return static_cast<std::int32_t>(value);
}

const Spin& to_spin(PyObject* object) { return instance_value<Spin>(object, spin_type()); }
const Edge& to_edge(PyObject* object) { return instance_value<Edge>(object, edge_type()); }
const Direction& to_direction(PyObject* object) {
    return instance_value<Direction>(object, direction_type());
}
const CGSpec& to_cg_spec(PyObject* object) {
    return instance_value<CGSpec>(object, cg_spec_type());
}
const Contraction& to_contraction(PyObject* object) {
    return instance_value<Contraction>(object, contraction_type());
}

std::vector<Edge> to_edge_list(PyObject* object) {
    return sequence_items<Edge>(object, to_edge);
}

std::vector<std::int32_t> to_edge_spins(PyObject* object) {
    return sequence_items<std::int32_t>(object,
                                        [](PyObject* item) { return to_edge(item).j.twice(); });
}

std::vector<std::uint64_t> to_uint64_list(PyObject* object) {
    return sequence_items<std::uint64_t>(
        object, [](PyObject* item) { return to_uint64(item, "edge positions"); });
}

const blocks::Leg& to_leg(PyObject* object) {
    return instance_value<blocks::Leg>(object, leg_type());
}

std::vector<blocks::Leg> to_leg_list(PyObject* object) {
    return sequence_items<blocks::Leg>(object, to_leg);
}

const blocks::BlockTensor& to_block_tensor(PyObject* object) {
    return instance_value<blocks::BlockTensor>(object, block_tensor_type());
}

std::size_t to_position(PyObject* object) { return to_uint64(object, "leg positions"); }

std::vector<std::size_t> to_position_list(PyObject* object) {
    return sequence_items<std::size_t>(
        object, [](PyObject* item) { return to_uint64(item, "leg positions"); });
}

std::uint64_t to_seed(PyObject* object) {
    PyRef integer = checked(PyNumber_Index(object));
    int overflow = 0;
    const long long signed_value = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
    if (signed_value == -1 && overflow == 0 && PyErr_Occurred()) throw_python_error();
    if (overflow < 0 || (overflow == 0 && signed_value < 0)) {
        throw ArgumentValueError{"a seed is at least 0, got " + text_of(integer.get())};
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
    return value;
}

std::uint64_t to_count(PyObject* object) {
    PyRef integer = checked(PyNumber_Index(object));
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
    if (value == -1 && overflow == 0 && PyErr_Occurred()) throw_python_error();
    if (overflow > 0) return std::numeric_limits<std::uint64_t>::max();  // no bound at all
    if (overflow < 0 || value < 1) {
        throw ArgumentValueError{"expected 1 or more, got " + text_of(integer.get())};
    }
    return static_cast<std::uint64_t>(value);
}

double to_non_negative_float(PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) throw_python_error();
    if (!(value >= 0.0)) {
        throw ArgumentValueError{"expected a number of 0 or more, got " +
                                 text_of(checked(PyFloat_FromDouble(value)).get())};
    }
    return value;
}

namespace {

blocks::Sector to_sector(PyObject* pair) {
    const bool is_pair = !PyUnicode_Check(pair) && PySequence_Check(pair) &&
                         PySequence_Size(pair) == 2;
    if (!is_pair) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError,
                        "a sector is a pair (2j, multiplicity) of integers");
        throw_python_error();
    }
    PyRef first = checked(PySequence_GetItem(pair, 0));
    PyRef second = checked(PySequence_GetItem(pair, 1));
    const std::int32_t twice_j = to_int32(first.get());
    PyRef count = checked(PyNumber_Index(second.get()));
    const long long multiplicity = PyLong_AsLongLong(count.get());
    if (multiplicity == -1 && PyErr_Occurred()) throw_python_error();
    if (multiplicity < 1) {
        throw ArgumentValueError{"a multiplicity is at least 1, got " +
                                 std::to_string(multiplicity)};
    }
    return blocks::Sector{twice_j, static_cast<std::uint64_t>(multiplicity)};
}

}  // namespace

std::vector<blocks::Sector> to_sectors(PyObject* object) {
    PyRef pairs = PyDict_Check(object) ? checked(PyDict_Items(object)) : PyRef::borrow(object);
    std::vector<blocks::Sector> sectors = sequence_items<blocks::Sector>(pairs.get(), to_sector);
    // A dict's order is its insertion order, which says nothing; pairs keep theirs.
    if (PyDict_Check(object)) std::ranges::sort(sectors, {}, &blocks::Sector::twice_j);
    return sectors;
}

SymbolMethod to_symbol_method(PyObject* object) {
    if (object == nullptr) {
        return SymbolMethod::Dense;
    }
    if (!PyUnicode_Check(object)) {
        raise_not_an_instance(object, "str");
    }
    if (PyUnicode_CompareWithASCIIString(object, "dense") == 0) {
        return SymbolMethod::Dense;
    }
    if (PyUnicode_CompareWithASCIIString(object, "recoupling") == 0) {
        return SymbolMethod::Recoupling;
    }
    PyErr_Format(PyExc_ValueError, "method must be 'dense' or 'recoupling', got %R", object);
    throw_python_error();
}

}  // namespace tavrin::bindings
