// Running one library computation for an entry point: the call context it carries, the warnings
// it reports afterwards, and its result or error.
#pragma once

#include <type_traits>
#include <utility>

#include "bindings/boundary.hpp"
#include "bindings/warnings.hpp"
#include "core/call_context.hpp"

namespace tavrin::bindings {

// Calls compute(context) with a fresh call context, reports the warnings it collected as Python
// warnings, and returns the value of its result; the error is thrown for the boundary.
template <class Compute>
auto run_computation(Compute&& compute) {
    CallContext context;
    auto result = std::forward<Compute>(compute)(context);
    report_warnings(context.warnings());
    return take(std::move(result));
}

}  // namespace tavrin::bindings
