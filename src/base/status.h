#pragma once
// Success, or a message saying what went wrong.
//
// The core reports an error once, where it is detected: the message names the
// file or setting and the cause, as one sentence a user can act on. Callers
// pass a failed Status or Result up unchanged; the jobs turn it into a log
// line and the command line into an exit status. Nothing in the core throws
// across its interface or prints an error itself.

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace veltrana {

class [[nodiscard]] Status {
public:
    // Success.
    Status() = default;

    static Status failure(std::string message) {
        Status s;
        s.failed = true;
        s.text = std::move(message);
        return s;
    }

    bool ok() const { return !failed; }
    explicit operator bool() const { return ok(); }
    // What went wrong; empty on success.
    const std::string& message() const { return text; }

private:
    bool failed = false;
    std::string text;
};

// A value, or the Status that says why there is none.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : held(std::move(value)) {}
    // A failure; `status` must not be a success.
    Result(Status status) : problem(std::move(status)) { assert(!problem.ok()); }

    bool ok() const { return held.has_value(); }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return *held; }
    T& value() & { return *held; }
    T&& value() && { return std::move(*held); }
    const T* operator->() const { return &*held; }
    T* operator->() { return &*held; }
    const T& operator*() const& { return *held; }
    T& operator*() & { return *held; }

    const Status& status() const { return problem; }
    const std::string& message() const { return problem.message(); }

private:
    std::optional<T> held;
    Status problem;
};

} // namespace veltrana
