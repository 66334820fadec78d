#include "bindings/warnings.hpp"

#include <Python.h>

#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "bindings/python_error.hpp"
#include "support/process_mutex.hpp"

namespace tavrin::bindings {
namespace {

// Past this many distinct causes the memory starts afresh, so a cause may be reported again.
constexpr std::size_t kRememberedCauses = 1024;

// The (cause, path) pairs reported so far in this process.
class ReportedCauses {
public:
    // True the first time the pair is seen.
    bool first_report(const Warning& warning) {
        const std::lock_guard guard(mutex_);
        if (seen_.size() >= kRememberedCauses) seen_.clear();
        return seen_.emplace(warning.cause, warning.path).second;
    }

private:
    ProcessMutex mutex_;
    std::set<std::pair<std::string, std::string>> seen_;
};

ReportedCauses& reported_causes() {
    static ReportedCauses* const causes = new ReportedCauses;
    return *causes;
}

}  // namespace

void report_warnings(const std::vector<Warning>& warnings) {
    for (const Warning& warning : warnings) {
        if (!reported_causes().first_report(warning)) continue;
        checked_status(PyErr_WarnEx(PyExc_RuntimeWarning, warning.message.c_str(), 1));
    }
}

}  // namespace tavrin::bindings
