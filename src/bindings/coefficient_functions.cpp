// The module functions clebsch_gordan, wigner_3j, wigner_6j and wigner_9j: correctly rounded
// coefficients from doubled quantum numbers, for integers (a Python float back) or for integer
// arrays broadcast together (a float64 array back).
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bindings/arguments.hpp"
#include "bindings/array_conversion.hpp"
#include "bindings/boundary.hpp"
#include "bindings/call_environment.hpp"
#include "bindings/computation.hpp"
#include "bindings/convert.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/function_docstrings.hpp"
#include "bindings/integer_arrays.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/python_error.hpp"
#include "bindings/slots.hpp"
#include "bindings/to_python.hpp"
#include "coupling/clebsch_gordan.hpp"
#include "coupling/wigner_3j.hpp"
#include "coupling/wigner_6j.hpp"
#include "coupling/wigner_9j.hpp"

namespace tavrin::bindings {

namespace {

template <std::size_t N>
using Arguments = std::array<std::int32_t, N>;
template <std::size_t N>
using Names = std::array<const char*, N>;

// The exact evaluation costs about the square of the spins (0.3 s for 6j symbols of 2j = 10000,
// 3 s for Clebsch-Gordan coefficients of 2j = 20000) and its factorials grow without bound, so
// a spin near the 32-bit limit would run for hours and exhaust memory. Beyond this bound the
// arguments are refused instead.
constexpr std::int32_t kMaxTwiceSpin = 20000;
// A 9j symbol sums about 2j products of three 6j symbols: 1.3 s at 2j = 1000, 8 s at 2000,
// hours at 20000, in one call that Ctrl-C cannot stop.
constexpr std::int32_t kMaxTwiceSpinNineJ = 2000;

void require_spin_range(std::int32_t value, const char* name,
                        std::int32_t bound = kMaxTwiceSpin) {
    if (value < 0) {
        raise_value_error(std::string(name) + " must be non-negative, got " +
                          std::to_string(value));
    }
    if (value > bound) {
        raise_value_error(std::string(name) + " must be at most " + std::to_string(bound) +
                          ", got " + std::to_string(value));
    }
}

void require_parity(std::int32_t two_m, const char* m_name, std::int32_t two_j,
                    const char* j_name) {
    if ((two_m - two_j) % 2 != 0) {
        raise_value_error(std::string(m_name) + " must have the parity of " + j_name + ", got " +
                          std::to_string(two_m) + " and " + std::to_string(two_j));
    }
}

// One coefficient function: its parameters, the checks of one set of arguments (ValueError)
// and the evaluation, which touches no Python object.
template <std::size_t N>
struct Coefficient {
    const char* name;
    Names<N> names;
    void (*check)(const Arguments<N>&, const Names<N>&);
    double (*evaluate)(const Arguments<N>&);
};

constexpr Coefficient<6> kClebschGordan{
    "clebsch_gordan",
    {"two_j1", "two_m1", "two_j2", "two_m2", "two_j", "two_m"},
    [](const Arguments<6>& a, const Names<6>& names) {
        for (std::size_t spin : {0u, 2u, 4u}) require_spin_range(a[spin], names[spin]);
        for (std::size_t spin : {0u, 2u, 4u}) {
            require_parity(a[spin + 1], names[spin + 1], a[spin], names[spin]);
        }
    },
    [](const Arguments<6>& a) {
        return clebsch_gordan_correctly_rounded(a[0], a[1], a[2], a[3], a[4], a[5]);
    }};

constexpr Coefficient<6> kThreeJ{
    "wigner_3j",
    {"two_j1", "two_j2", "two_j3", "two_m1", "two_m2", "two_m3"},
    [](const Arguments<6>& a, const Names<6>& names) {
        for (std::size_t spin = 0; spin < 3; ++spin) require_spin_range(a[spin], names[spin]);
        for (std::size_t spin = 0; spin < 3; ++spin) {
            require_parity(a[spin + 3], names[spin + 3], a[spin], names[spin]);
        }
    },
    [](const Arguments<6>& a) { return wigner_3j(a[0], a[1], a[2], a[3], a[4], a[5]); }};

constexpr Coefficient<6> kSixJ{
    "wigner_6j",
    {"two_j1", "two_j2", "two_j3", "two_j4", "two_j5", "two_j6"},
    [](const Arguments<6>& a, const Names<6>& names) {
        for (std::size_t i = 0; i < 6; ++i) require_spin_range(a[i], names[i]);
    },
    [](const Arguments<6>& a) { return wigner_6j(a[0], a[1], a[2], a[3], a[4], a[5]); }};

constexpr Coefficient<9> kNineJ{
    "wigner_9j",
    {"two_j1", "two_j2", "two_j3", "two_j4", "two_j5", "two_j6", "two_j7", "two_j8", "two_j9"},
    [](const Arguments<9>& a, const Names<9>& names) {
        for (std::size_t i = 0; i < 9; ++i) {
            require_spin_range(a[i], names[i], kMaxTwiceSpinNineJ);
        }
    },
    [](const Arguments<9>& a) { return wigner_9j(a); }};

// Arrays of at least this many elements are evaluated with the interpreter lock released (and
// Ctrl-C heard): each element costs 0.1 us or more, against about 0.2 us for giving up the lock
// and taking it back.
constexpr std::uint64_t kReleaseLockElements = 64;

// The elements in the 32-bit range the evaluations take: OverflowError otherwise.
template <std::size_t N>
Arguments<N> narrowed(const std::array<std::int64_t, N>& values, const Names<N>& names) {
    Arguments<N> a{};
    for (std::size_t i = 0; i < N; ++i) {
        if (values[i] < INT32_MIN || values[i] > INT32_MAX) {
            // read_integer saturates at 2^63 - 1
            const std::string value = values[i] == INT64_MAX ? std::string("a value of 2^63 - 1 or more")
                                                             : std::to_string(values[i]);
            set_python_error(PyExc_OverflowError, "argument '" + std::string(names[i]) + "': " +
                                                      value + " does not fit a 32-bit signed integer");
            throw_python_error();
        }
        a[i] = static_cast<std::int32_t>(values[i]);
    }
    return a;
}

template <std::size_t N>
Arguments<N> narrowed_unchecked(const std::array<std::int64_t, N>& values) {
    Arguments<N> a{};
    for (std::size_t i = 0; i < N; ++i) a[i] = static_cast<std::int32_t>(values[i]);
    return a;
}

template <std::size_t N>
PyRef evaluate_arrays(const Coefficient<N>& f, const std::array<PyObject*, N>& objects) {
    std::vector<std::unique_ptr<IntegerOperand>> owned;
    std::array<const IntegerOperand*, N> operands{};
    for (std::size_t i = 0; i < N; ++i) {
        owned.push_back(std::make_unique<IntegerOperand>(f.names[i], objects[i]));
        operands[i] = owned.back().get();
    }
    const Broadcast b = broadcast(operands);
    // Every element checked first, so that an invalid one raises before any work is done.
    for_each_element(b, operands, [&](std::uint64_t, const std::array<std::int64_t, N>& v) {
        f.check(narrowed(v, f.names), f.names);
        return true;
    });
    Tensor values = Tensor::uninitialised(b.shape);
    double* out = values.data().data();
    if (b.count < kReleaseLockElements) {
        (void)follow_call_environment();
        for_each_element(b, operands, [&](std::uint64_t i, const std::array<std::int64_t, N>& v) {
            out[i] = f.evaluate(narrowed_unchecked(v));
            return true;
        });
        return to_numpy_array(std::move(values));
    }
    Tensor result = run_computation([&](CallContext& context) -> Result<Tensor> {
        bool stopped = false;
        for_each_element(b, operands, [&](std::uint64_t i, const std::array<std::int64_t, N>& v) {
            if (i % kReleaseLockElements == 0 && context.should_stop()) {
                stopped = true;
                return false;
            }
            out[i] = f.evaluate(narrowed_unchecked(v));
            return true;
        });
        if (stopped) return std::unexpected(TavrinError::interrupted());
        return std::move(values);
    });
    return to_numpy_array(std::move(result));
}

template <std::size_t N>
PyObject* call(const Coefficient<N>& f, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames) {
    return guarded_object([&] {
        const auto objects = bind_fastcall_arguments<N>(args, nargs, kwnames, f.name, f.names);
        if (std::ranges::all_of(objects, is_integer_scalar)) {
            Arguments<N> a{};
            for (std::size_t i = 0; i < N; ++i) {
                a[i] = convert_argument(f.names[i], objects[i], to_int32);
            }
            f.check(a, f.names);
            (void)follow_call_environment();
            return to_python(f.evaluate(a));
        }
        return evaluate_arrays(f, objects);
    });
}

PyObject* clebsch_gordan_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return call(kClebschGordan, args, nargs, kwnames);
}
PyObject* wigner_3j_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return call(kThreeJ, args, nargs, kwnames);
}
PyObject* wigner_6j_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return call(kSixJ, args, nargs, kwnames);
}
PyObject* wigner_9j_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return call(kNineJ, args, nargs, kwnames);
}

PyMethodDef clebsch_gordan_method = {"clebsch_gordan", as_method(clebsch_gordan_function),
                                     METH_FASTCALL | METH_KEYWORDS, docs::clebsch_gordan};
PyMethodDef wigner_3j_method = {"wigner_3j", as_method(wigner_3j_function),
                                METH_FASTCALL | METH_KEYWORDS, docs::wigner_3j};
PyMethodDef wigner_6j_method = {"wigner_6j", as_method(wigner_6j_function),
                                METH_FASTCALL | METH_KEYWORDS, docs::wigner_6j};
PyMethodDef wigner_9j_method = {"wigner_9j", as_method(wigner_9j_function),
                                METH_FASTCALL | METH_KEYWORDS, docs::wigner_9j};

}  // namespace

PyMethodDef& clebsch_gordan_definition() { return clebsch_gordan_method; }
PyMethodDef& wigner_3j_definition() { return wigner_3j_method; }
PyMethodDef& wigner_6j_definition() { return wigner_6j_method; }
PyMethodDef& wigner_9j_definition() { return wigner_9j_method; }

}  // namespace tavrin::bindings
