#pragma once

#include "DataPoint.h"

#include "CommandWorker.h"

#include <deque>
#include <functional>
#include <memory>

namespace viewer {

// Hands the allocator's free memory back to the system, from every arena. Any thread.
void returnFreeMemory();

// Gives the memory of released point buffers back to the system, off the GUI thread.
//
// Freeing ten million points takes tens of milliseconds, and the allocator keeps what was freed
// for reuse unless told to return it: a viewer that once held a large buffer would otherwise keep
// its size for good. Jobs run one at a time on a thread of their own, in the order asked.
//
// Threads: every member from one thread (the GUI's). The destructor waits for the job under way;
// buffers still queued are freed by the destructor's thread.
class MemoryRelease {
public:
    // Frees `former` on the release thread, then returns free memory to the system.
    void release(std::deque<DataPoint>&& former);

    // Frees garbage (any movable value that owns memory) on the release thread, then returns
    // free memory to the system.
    template <class T> void discard(T garbage) {
        auto held = std::make_shared<T>(std::move(garbage));
        post([held] {
            *held = T();
            returnFreeMemory();
        });
    }

    // Returns to the system the memory the caller has freed meanwhile (the display's copy of a
    // buffer that was emptied, say).
    void returnFreed();

    // A release or return is queued or under way.
    bool busy() const { return m_worker.busy(); }

private:
    void post(std::function<void()> job);

    sentova::command::CommandWorker m_worker;
};

} // namespace viewer
