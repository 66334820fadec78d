// Library warnings as Python warnings.
#pragma once

#include <vector>

#include "core/call_context.hpp"

namespace tavrin::bindings {

// Issues each warning as a RuntimeWarning. Throws PythonErrorSet when a warning filter turns one
// into an exception.
void report_warnings(const std::vector<Warning>& warnings);

}  // namespace tavrin::bindings
