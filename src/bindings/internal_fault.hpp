// InternalFault: how a broken invariant of the library reaches Python.
#pragma once

#include <string>

namespace tavrin::bindings {

// Sets InternalFault, a BaseException subclass made on first need and kept for the process.
// If the class cannot be made, the exception of that failure is set instead.
void raise_internal_fault(const std::string& message) noexcept;

// Replaces the pending Python exception, if any, by an InternalFault "{summary}: {its text}"
// whose __cause__ is that exception ("{summary}" alone when none is pending), then throws
// PythonErrorSet.
[[noreturn]] void throw_internal_fault_from_pending(const std::string& summary);

}  // namespace tavrin::bindings
