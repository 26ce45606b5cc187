// The command worker: one thread that runs queued jobs one at a time, in the order they were
// posted. A program posts each device operation (whose library calls block for up to their
// time-out) here, so that the thread that asked, typically a GUI thread, never waits on the
// device.
//
// Threads:
// - post(), cancel() and busy() may be called from any thread, also from a job.
// - finish() and the destructor from any thread except the worker's own (from a job they would
//   wait for themselves).
// - A job runs on the worker thread; it brings results back to its caller's thread by its own
//   means (a GUI's queued invocation, for instance), and may wait for a call made there through
//   JobContext::runThere(). A job that throws ends there and the exception is dropped, so jobs
//   must catch and report their own failures; the jobs behind it still run.
//
// Shutting down: cancel() drops the jobs not yet started and tells the running one to end at its
// next step; the device call it is in still ends by its own time-out. finish() then runs whatever
// was posted since (last words to the device, say) and joins the thread. The destructor does both.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace sentova::command {

class CommandWorker;

// What a running job may ask of the worker. Valid during the job only.
class JobContext {
public:
    // Runs a call on another thread: the dispatcher's job is to have it run there once.
    using Dispatch = std::function<void(std::function<void()> call)>;

    // True once the job has been cancelled (cancel(), or the destructor). A job made of several
    // device steps checks it between them and stops early.
    bool cancelled() const;

    // Hands call to dispatch and waits until call has run on that other thread. Returns true
    // then; returns false as soon as the job is cancelled or finish() has begun (the thread that
    // would run call may be the one waiting in finish()). Once it has returned false, call never
    // runs, so call may refer to the job's own locals. call must not call this worker's cancel()
    // or finish().
    bool runThere(const Dispatch& dispatch, std::function<void()> call);

private:
    friend class CommandWorker;
    JobContext(CommandWorker& worker, std::uint64_t id) : m_worker(worker), m_id(id) {}
    CommandWorker& m_worker;
    std::uint64_t m_id;
};

class CommandWorker {
public:
    using Job = std::function<void(JobContext&)>;

    // Starts the worker thread.
    CommandWorker();
    // cancel(), then finish().
    ~CommandWorker();
    CommandWorker(const CommandWorker&) = delete;
    CommandWorker& operator=(const CommandWorker&) = delete;

    // Queues a job behind every job posted before it. Returns false, and drops the job unrun,
    // once finish() has begun.
    bool post(Job job);

    // Drops every job not yet started (they never run) and marks the running one cancelled.
    // Jobs posted afterwards run as usual. Returns the number of jobs dropped.
    std::size_t cancel();

    // Refuses further posts, runs the jobs already queued, and returns when the thread has
    // ended. Harmless when called again.
    void finish();

    // A job is running or queued.
    bool busy() const;

private:
    friend class JobContext;

    // One call handed to another thread by runThere(), and whether it has run.
    struct Rendezvous {
        std::mutex mutex;
        std::condition_variable ran;
        bool done = false;
        bool abandoned = false;
    };

    void run();
    bool isCancelled(std::uint64_t id) const;
    void abandonWaiting(std::unique_lock<std::mutex>& lock);

    // Guards every member below it.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<std::uint64_t, Job>> m_queue;
    std::uint64_t m_nextId = 1;
    std::uint64_t m_running = 0; // id of the job running, 0 when none
    bool m_finishing = false;
    // The call the running job waits for in runThere(), if any.
    std::shared_ptr<Rendezvous> m_waiting;

    // Jobs with an id up to this have been cancelled; read by jobs without the lock.
    std::atomic<std::uint64_t> m_cancelledUpTo{0};
    std::thread m_thread;
};

} // namespace sentova::command
