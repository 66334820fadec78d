#include "bindings/numpy_api.hpp"

#include <charconv>
#include <optional>
#include <string_view>

#include "bindings/created_once.hpp"
#include "bindings/internal_fault.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/python_error.hpp"

namespace tavrin::bindings {

namespace {

// Positions in NumPy's C API table.
constexpr int array_type_entry = 2;
constexpr int descr_from_type_entry = 45;
constexpr int new_from_descr_entry = 94;
constexpr int set_base_object_entry = 282;

// An import of NumPy failed; its own exception is pending and goes to the caller as it is.
struct NumpyImportFailed {};

PyRef import(const char* name) {
    PyObject* module = PyImport_ImportModule(name);
    if (module == nullptr) {
        throw NumpyImportFailed{};
    }
    return PyRef::steal(module);
}

PyRef attribute(PyObject* object, const char* name) {
    return checked(PyObject_GetAttrString(object, name));
}

// The major version of a string that starts as "1.2.3" does (digits, dot, digits, dot,
// digits), which is where NumpyVersion accepts it and reads the same number; nothing for any
// other string.
std::optional<long> plain_major_version(std::string_view text) {
    long major = 0;
    const char* const end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, major);
    if (error != std::errc{} || at == text.data() || major < 0) return std::nullopt;
    for (int part = 0; part < 2; ++part) {
        if (at == end || *at != '.') return std::nullopt;
        const char* digits = ++at;
        while (at != end && *at >= '0' && *at <= '9') ++at;
        if (at == digits) return std::nullopt;
    }
    return major;
}

// numpy.lib.NumpyVersion(numpy.__version__).major. A plain version string is read here:
// NumpyVersion compiles its pattern on first use, which costs a process's first array more
// than the rest of the lookup together.
long numpy_major_version() {
    PyRef numpy = import("numpy");
    PyRef version = attribute(numpy.get(), "__version__");
    if (PyUnicode_Check(version.get())) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(version.get(), &size);
        if (text == nullptr) {
            throw_python_error();
        }
        if (const auto major = plain_major_version({text, static_cast<std::size_t>(size)})) {
            return *major;
        }
    }
    PyRef lib = import("numpy.lib");
    PyRef version_class = attribute(lib.get(), "NumpyVersion");
    PyRef parsed =
        checked(PyObject_CallFunctionObjArgs(version_class.get(), version.get(), nullptr));
    PyRef major = attribute(parsed.get(), "major");
    const long value = PyLong_AsLong(major.get());
    if (value == -1 && PyErr_Occurred()) {
        throw_python_error();
    }
    return value;
}

// The capsule, kept alive for the rest of the process once the table is in use.
PyRef array_api_capsule() {
    const char* multiarray =
        numpy_major_version() >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
    PyRef capsule = attribute(import(multiarray).get(), "_ARRAY_API");
    if (!PyCapsule_CheckExact(capsule.get())) {
        PyErr_Format(PyExc_TypeError, "%s._ARRAY_API is not a capsule", multiarray);
        throw_python_error();
    }
    return capsule;
}

template <class Function>
Function table_entry(void** table, int entry) {
    return reinterpret_cast<Function>(table[entry]);
}

NumpyApi read_table(void** table) {
    return NumpyApi{
        static_cast<PyTypeObject*>(table[array_type_entry]),
        table_entry<decltype(NumpyApi::descr_from_type)>(table, descr_from_type_entry),
        table_entry<decltype(NumpyApi::new_from_descr)>(table, new_from_descr_entry),
        table_entry<decltype(NumpyApi::set_base_object)>(table, set_base_object_entry),
    };
}

// Exceptions of NumPy's imports (a KeyboardInterrupt during the first import, a broken
// installation's ImportError) and any exception that is not an Exception propagate unchanged;
// a NumPy that imports but offers no usable API table is an internal fault.
NumpyApi look_up_numpy_api() {
    try {
        PyRef capsule = array_api_capsule();
        const char* name = PyCapsule_GetName(capsule.get());
        if (name == nullptr && PyErr_Occurred()) {
            throw_python_error();
        }
        auto* table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), name));
        if (table == nullptr) {
            throw_python_error();
        }
        capsule.release();  // the table lives inside NumPy, which stays loaded
        return read_table(table);
    } catch (const NumpyImportFailed&) {
        throw_python_error();
    } catch (const PythonErrorSet&) {
        if (!PyErr_ExceptionMatches(PyExc_Exception)) {
            throw;
        }
        throw_internal_fault_from_pending("Failed to access NumPy array API capsule");
    }
}

}  // namespace

const NumpyApi& numpy_api() {
    static CreatedOnce<NumpyApi> api;
    return api.get(look_up_numpy_api);
}

}  // namespace tavrin::bindings
