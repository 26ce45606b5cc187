// Waiting without holding the interpreter: the GIL is released while waiting, and the wait is
// cut into short slices so that Ctrl-C (a pending signal) ends it within a fraction of a second.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace sentova::python {

// Short enough for an interrupt to be felt at once, long enough to cost nothing.
constexpr std::chrono::milliseconds kWaitSlice{100};

// Releases the GIL for its scope when the calling thread holds it (a destructor may run on a
// thread that does not).
class GilReleased {
public:
    GilReleased() {
        if (PyGILState_Check() != 0) {
            m_released.emplace();
        }
    }

private:
    std::optional<pybind11::gil_scoped_release> m_released;
};

// Calls ready(slice) with the GIL released until it returns true (true), or the timeout in
// seconds has passed (false; none: no limit). Raises KeyboardInterrupt (or what the signal
// handler raised) between slices.
template <class Ready>
bool waitInSlices(Ready&& ready, std::optional<double> timeoutSeconds = std::nullopt) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = timeoutSeconds
                              ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(*timeoutSeconds))
                              : Clock::time_point::max();
    for (;;) {
        const auto now = Clock::now();
        const auto slice = std::min<Clock::duration>(
            kWaitSlice, std::max(Clock::duration::zero(), deadline - now));
        bool done = false;
        {
            pybind11::gil_scoped_release released;
            done = ready(std::chrono::duration_cast<std::chrono::milliseconds>(slice));
        }
        if (done) {
            return true;
        }
        if (PyErr_CheckSignals() != 0) {
            throw pybind11::error_already_set();
        }
        if (Clock::now() >= deadline) {
            return false;
        }
    }
}

// Runs work on a thread of its own and waits for its result in slices. An interrupt leaves the
// work to end by itself (a device operation ends within its time-out): what it uses must be
// owned by the function object, not borrowed from the caller.
template <class Result> Result runInterruptibly(std::function<Result()> work) {
    struct Shared {
        std::mutex mutex; // guards the three below
        std::condition_variable done;
        std::optional<Result> result;
        std::exception_ptr error;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, work = std::move(work)] {
        std::optional<Result> result;
        std::exception_ptr error;
        try {
            result.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->result = std::move(result);
        shared->error = error;
        shared->done.notify_all();
    }).detach();
    waitInSlices([&](std::chrono::milliseconds slice) {
        std::unique_lock<std::mutex> lock(shared->mutex);
        return shared->done.wait_for(lock, slice, [&] { return shared->result || shared->error; });
    });
    std::lock_guard<std::mutex> lock(shared->mutex);
    if (shared->error) {
        std::rethrow_exception(shared->error);
    }
    return std::move(*shared->result);
}

// Runs work, which polls the flag it is given, on a thread of its own; an interrupt sets the
// flag, so that the work stops soon after, and raises. For file work that can be cancelled.
template <class Result>
Result runCancellably(std::function<Result(const std::atomic<bool>& cancelled)> work) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    try {
        return runInterruptibly<Result>(
            [cancelled, work = std::move(work)] { return work(*cancelled); });
    } catch (pybind11::error_already_set&) {
        cancelled->store(true);
        throw;
    }
}

} // namespace sentova::python
