// The environment variables the library follows, read once per call where the call comes in,
// with the interpreter lock held (Python threads change the environment only while they hold
// it). Nothing below the bindings reads the environment.
#pragma once

#include <memory>
#include <string>

namespace tavrin::bindings {

// Reads TAVRIN_CACHE_PATH and the bound variable of every process-wide store in one pass over
// the environment: each store follows its variable (a changed value sets its bound), and the
// cache database of the call is returned, resolved as resolve_cache_database does.
std::shared_ptr<const std::string> follow_call_environment();

}  // namespace tavrin::bindings
