// What one call into the library carries down to the code that does the work: where its basis
// cache lives, the warnings it collects for the caller to report, and the caller's request to
// stop early.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavrin {

// Something the caller should hear about although the call succeeded (a cache that could not be
// read or written, for example). `cause` and `path` together say what went wrong where; a
// caller may report each such pair once.
struct Warning {
    std::string cause;
    std::string path;
    std::string message;  // the whole text for the user
    friend bool operator==(const Warning&, const Warning&) = default;
};

class CallContext {
public:
    // `stop_requested` is asked, at most every `kStopCheckInterval`, whether the caller wants the
    // computation abandoned; once it says yes, `should_stop()` stays true. Without it the call
    // always runs to its end.
    using StopRequest = std::function<bool()>;
    static constexpr std::chrono::milliseconds kStopCheckInterval{50};

    CallContext() = default;
    explicit CallContext(StopRequest stop_requested) : stop_requested_(std::move(stop_requested)) {}
    // The same, asked for the first time one interval after the computation first wonders
    // whether to stop: for a caller that has just looked for itself, so that a short call pays
    // nothing for it.
    struct AfterAnInterval {};
    CallContext(StopRequest stop_requested, AfterAnInterval)
        : stop_requested_(std::move(stop_requested)), wait_first_(true) {}
    CallContext(const CallContext&) = delete;
    CallContext& operator=(const CallContext&) = delete;

    // The basis cache's database for this call, worked out once where the call came in (from
    // the caller's environment) and used for every cache operation, the in-process store's key
    // and the warnings alike. Null: the default location.
    const std::shared_ptr<const std::string>& cache_database() const { return cache_database_; }
    void set_cache_database(std::shared_ptr<const std::string> database) {
        cache_database_ = std::move(database);
    }

    void warn(Warning warning) { warnings_.push_back(std::move(warning)); }
    const std::vector<Warning>& warnings() const { return warnings_; }

    // Cheap enough for every pass of a long loop; a loop that sees true returns
    // TavrinError::interrupted() without storing anything half-built. Never call it with one
    // of the library's locks held: from Python, the stop request waits for the interpreter
    // lock, which a thread waiting for that library lock may hold.
    bool should_stop();

private:
    StopRequest stop_requested_;
    std::shared_ptr<const std::string> cache_database_;
    std::chrono::steady_clock::time_point next_check_{};
    bool wait_first_ = false;
    bool stopped_ = false;
    std::vector<Warning> warnings_;
};

}  // namespace tavrin
