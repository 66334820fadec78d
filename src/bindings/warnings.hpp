// Library warnings as Python warnings.
#pragma once

#include <vector>

#include "core/call_context.hpp"

namespace tavrin::bindings {

// Issues each warning as a RuntimeWarning, once per cause and path in the life of the process
// (a cache that cannot be written would otherwise warn on every call). Throws PythonErrorSet
// when a warning filter turns one into an exception.
void report_warnings(const std::vector<Warning>& warnings);

}  // namespace tavrin::bindings
