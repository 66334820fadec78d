// Internal faults of the result conversion that wrap the Python error that caused them.
#pragma once

#include <string>

namespace tavrin::bindings {

// Replaces the pending Python exception, if any, by an InternalFault "{summary}: {its text}"
// whose __cause__ is that exception ("{summary}" alone when none is pending), then throws
// PythonErrorSet.
[[noreturn]] void throw_internal_fault_from_pending(const std::string& summary);

}  // namespace tavrin::bindings
