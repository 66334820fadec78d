// The module functions clebsch_gordan and wigner_6j: correctly rounded coefficients from doubled
// quantum numbers.
#include <array>
#include <cstdint>
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/boundary.hpp"
#include "bindings/call_environment.hpp"
#include "bindings/convert.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/function_docstrings.hpp"
#include "bindings/module_functions.hpp"
#include "bindings/python_error.hpp"
#include "bindings/slots.hpp"
#include "bindings/to_python.hpp"
#include "coupling/clebsch_gordan.hpp"
#include "coupling/wigner_6j.hpp"

namespace tavrin::bindings {

namespace {

using Arguments = std::array<std::int32_t, 6>;

[[noreturn]] void raise_value_error(const std::string& message) {
    set_python_error(PyExc_ValueError, message);
    throw_python_error();
}

Arguments convert_six(const std::array<PyObject*, 6>& objects,
                      const std::array<const char*, 6>& names) {
    Arguments values{};
    for (std::size_t i = 0; i < 6; ++i) {
        values[i] = convert_argument(names[i], objects[i], to_int32);
    }
    return values;
}

// The exact evaluation costs about the square of the spins (0.3 s for 6j symbols of 2j = 10000,
// 3 s for Clebsch-Gordan coefficients of 2j = 20000) and its factorials grow without bound, so
// a spin near the 32-bit limit would run for hours and exhaust memory. Beyond this bound the
// arguments are refused instead.
constexpr std::int32_t kMaxTwiceSpin = 20000;

void require_spin_range(std::int32_t value, const char* name) {
    if (value < 0) {
        raise_value_error(std::string(name) + " must be non-negative, got " +
                          std::to_string(value));
    }
    if (value > kMaxTwiceSpin) {
        raise_value_error(std::string(name) + " must be at most " +
                          std::to_string(kMaxTwiceSpin) + ", got " + std::to_string(value));
    }
}

void require_parity(std::int32_t two_m, const char* m_name, std::int32_t two_j,
                    const char* j_name) {
    if ((two_m - two_j) % 2 != 0) {
        raise_value_error(std::string(m_name) + " must have the parity of " + j_name + ", got " +
                          std::to_string(two_m) + " and " + std::to_string(two_j));
    }
}

constexpr std::array<const char*, 6> kClebschGordanNames{"two_j1", "two_m1", "two_j2",
                                                         "two_m2", "two_j",  "two_m"};
constexpr std::array<const char*, 6> kSixJNames{"two_j1", "two_j2", "two_j3",
                                                "two_j4", "two_j5", "two_j6"};

PyObject* clebsch_gordan_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return guarded_object([&] {
        const auto objects = bind_fastcall_arguments<6>(args, nargs, kwnames, "clebsch_gordan",
                                                        kClebschGordanNames);
        const Arguments a = convert_six(objects, kClebschGordanNames);
        for (std::size_t spin : {0u, 2u, 4u}) {
            require_spin_range(a[spin], kClebschGordanNames[spin]);
        }
        for (std::size_t spin : {0u, 2u, 4u}) {
            require_parity(a[spin + 1], kClebschGordanNames[spin + 1], a[spin],
                           kClebschGordanNames[spin]);
        }
        (void)follow_call_environment();
        return to_python(clebsch_gordan_correctly_rounded(a[0], a[1], a[2], a[3], a[4], a[5]));
    });
}

PyObject* wigner_6j_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    return guarded_object([&] {
        const auto objects =
            bind_fastcall_arguments<6>(args, nargs, kwnames, "wigner_6j", kSixJNames);
        const Arguments a = convert_six(objects, kSixJNames);
        for (std::size_t i = 0; i < 6; ++i) {
            require_spin_range(a[i], kSixJNames[i]);
        }
        (void)follow_call_environment();
        return to_python(wigner_6j(a[0], a[1], a[2], a[3], a[4], a[5]));
    });
}

PyMethodDef clebsch_gordan_method = {"clebsch_gordan", as_method(clebsch_gordan_function),
                                     METH_FASTCALL | METH_KEYWORDS, docs::clebsch_gordan};
PyMethodDef wigner_6j_method = {"wigner_6j", as_method(wigner_6j_function),
                                METH_FASTCALL | METH_KEYWORDS, docs::wigner_6j};

}  // namespace

PyMethodDef& clebsch_gordan_definition() { return clebsch_gordan_method; }
PyMethodDef& wigner_6j_definition() { return wigner_6j_method; }

}  // namespace tavrin::bindings
