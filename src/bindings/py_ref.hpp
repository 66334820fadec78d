// PyRef: the one owner of a strong reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace tavrin::bindings {

// Owns one strong reference (or none) and releases it when destroyed. A plain PyObject* is a
// borrowed handle: it owns nothing and must not outlive the reference it was taken from.
class PyRef {
public:
    PyRef() noexcept = default;

    // Takes over a new reference (the result of a C-API call that returns one); may be null.
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    // Adds a reference of its own to a borrowed handle; may be null.
    static PyRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(PyRef&& other) noexcept : object_(other.release()) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { Py_XDECREF(object_); }

    // Borrowed handle; stays owned by this PyRef.
    PyObject* get() const noexcept { return object_; }
    // Hands the reference to the caller (returns a new reference) and leaves this empty.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace tavrin::bindings
