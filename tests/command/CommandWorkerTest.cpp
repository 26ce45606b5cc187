#include "CommandWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using sentova::command::CommandWorker;
using sentova::command::JobContext;
using namespace std::chrono_literals;

namespace {

// A flag one thread opens and others wait for, with a bound so a fault fails the test instead
// of hanging it.
class Gate {
public:
    void open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool wait(std::chrono::milliseconds timeout = 5s) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// What the jobs did, in order, from whichever thread.
class Journal {
public:
    void add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(entry);
    }
    std::vector<std::string> entries() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Another thread that runs handed-over calls, as a GUI event loop would.
class OtherThread {
public:
    OtherThread() : m_thread([this] { loop(); }) {}
    ~OtherThread() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    JobContext::Dispatch dispatcher() {
        return [this](std::function<void()> call) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back(std::move(call));
            m_wake.notify_all();
        };
    }
    std::thread::id id() const { return m_thread.get_id(); }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_calls.empty(); });
            if (m_stop) {
                return;
            }
            auto call = std::move(m_calls.front());
            m_calls.erase(m_calls.begin());
            lock.unlock();
            call();
            lock.lock();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::function<void()>> m_calls;
    bool m_stop = false;
    std::thread m_thread;
};

TEST(CommandWorker, RunsJobsOneAtATimeInPostOrderOffTheCallersThread) {
    CommandWorker worker;
    Journal journal;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onCaller{false};
    const std::thread::id caller = std::this_thread::get_id();
    for (int i = 0; i < 20; ++i) {
        worker.post([&, i](JobContext&) {
            if (++inside > 1) {
                overlapped = true;
            }
            if (std::this_thread::get_id() == caller) {
                onCaller = true;
            }
            std::this_thread::sleep_for(i % 3 == 0 ? 2ms : 0ms);
            journal.add(std::to_string(i));
            --inside;
        });
    }
    // One posted from inside a job goes behind those already queued.
    worker.post([&](JobContext&) { journal.add("x"); });
    worker.finish();
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        expected.push_back(std::to_string(i));
    }
    expected.push_back("x");
    EXPECT_EQ(journal.entries(), expected);
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(onCaller);
}

TEST(CommandWorker, BusyUntilTheLastJobAndWhatItHeldAreGone) {
    CommandWorker worker;
    Gate release;
    auto held = std::make_shared<int>(7);
    std::weak_ptr<int> watch = held;
    worker.post([&release, held](JobContext&) { release.wait(); });
    held.reset();
    EXPECT_TRUE(worker.busy());
    release.open();
    ASSERT_TRUE(eventually([&] { return !worker.busy(); }));
    EXPECT_TRUE(watch.expired());
}

TEST(CommandWorker, CancelDropsQueuedJobsAndTellsTheRunningOne) {
    CommandWorker worker;
    Journal journal;
    Gate started;
    Gate release;
    worker.post([&](JobContext& job) {
        started.open();
        release.wait();
        journal.add(job.cancelled() ? "first cancelled" : "first went on");
    });
    worker.post([&](JobContext&) { journal.add("second"); });
    worker.post([&](JobContext&) { journal.add("third"); });
    ASSERT_TRUE(started.wait());
    EXPECT_EQ(worker.cancel(), 2u);
    // A job posted after the cancel runs, and is not itself cancelled.
    worker.post([&](JobContext& job) { journal.add(job.cancelled() ? "late cancelled" : "late"); });
    release.open();
    worker.finish();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"first cancelled", "late"}));
}

TEST(CommandWorker, ThrowingJobDoesNotStopTheOnesBehindIt) {
    CommandWorker worker;
    Journal journal;
    worker.post([](JobContext&) { throw std::runtime_error("socket gone"); });
    worker.post([&](JobContext&) { journal.add("after"); });
    worker.finish();
    EXPECT_EQ(journal.entries(), std::vector<std::string>{"after"});
}

TEST(CommandWorker, FinishRunsWhatIsQueuedThenRefusesPosts) {
    Journal journal;
    CommandWorker worker;
    Gate release;
    worker.post([&](JobContext&) {
        release.wait();
        journal.add("a");
    });
    worker.post([&](JobContext&) { journal.add("b"); });
    std::thread finisher([&] { worker.finish(); });
    ASSERT_TRUE(eventually([&] { return !worker.post([](JobContext&) {}); }));
    release.open();
    finisher.join();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(worker.post([&](JobContext&) { journal.add("c"); }));
    worker.finish();
    EXPECT_EQ(journal.entries().size(), 2u);
}

TEST(CommandWorker, RunThereRunsTheCallOnTheOtherThreadAndWaitsForIt) {
    OtherThread other;
    CommandWorker worker;
    Journal journal;
    std::thread::id ranOn;
    worker.post([&](JobContext& job) {
        journal.add("before");
        const bool ran = job.runThere(other.dispatcher(), [&] {
            ranOn = std::this_thread::get_id();
            std::this_thread::sleep_for(5ms);
            journal.add("there");
        });
        journal.add(ran ? "after, ran" : "after, not run");
    });
    ASSERT_TRUE(eventually([&] { return journal.entries().size() == 3; }));
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"before", "there", "after, ran"}));
    EXPECT_EQ(ranOn, other.id());
}

TEST(CommandWorker, RunThereGivesUpWhenCancelledOrFinishing) {
    // Nothing ever runs the handed-over calls, as when the GUI thread is the one shutting down.
    std::vector<std::function<void()>> neverRun;
    std::mutex neverRunMutex;
    JobContext::Dispatch stuck = [&](std::function<void()> call) {
        std::lock_guard<std::mutex> lock(neverRunMutex);
        neverRun.push_back(std::move(call));
    };
    Journal journal;
    {
        CommandWorker worker;
        Gate waiting;
        worker.post([&](JobContext& job) {
            waiting.open();
            journal.add(job.runThere(stuck, [] {}) ? "ran" : "gave up");
            // Once cancelled, no further call is handed over.
            journal.add(job.runThere(stuck, [] {}) ? "ran" : "refused");
        });
        ASSERT_TRUE(waiting.wait());
        ASSERT_TRUE(eventually([&] {
            std::lock_guard<std::mutex> lock(neverRunMutex);
            return neverRun.size() == 1;
        }));
        worker.cancel();
        worker.finish();
    }
    {
        // finish() alone also ends the wait: its caller may be the thread meant to run the call.
        CommandWorker worker;
        Gate waiting;
        worker.post([&](JobContext& job) {
            waiting.open();
            journal.add(job.runThere(stuck, [] {}) ? "ran" : "gave up at finish");
        });
        ASSERT_TRUE(waiting.wait());
        ASSERT_TRUE(eventually([&] {
            std::lock_guard<std::mutex> lock(neverRunMutex);
            return neverRun.size() == 2;
        }));
        worker.finish();
    }
    EXPECT_EQ(journal.entries(),
              (std::vector<std::string>{"gave up", "refused", "gave up at finish"}));
    // A call that runs after its job gave up does nothing.
    bool ranLate = false;
    {
        CommandWorker worker;
        worker.post([&](JobContext& job) { job.runThere(stuck, [&ranLate] { ranLate = true; }); });
        ASSERT_TRUE(eventually([&] {
            std::lock_guard<std::mutex> lock(neverRunMutex);
            return neverRun.size() == 3;
        }));
        worker.cancel();
        worker.finish();
    }
    for (auto& call : neverRun) {
        call();
    }
    EXPECT_FALSE(ranLate);
}

TEST(CommandWorker, DestructorWaitsForTheRunningJobOnly) {
    Journal journal;
    Gate started;
    auto worker = std::make_unique<CommandWorker>();
    worker->post([&](JobContext& job) {
        started.open();
        // A device call bounded by its time-out, checking for cancellation between steps.
        int step = 0;
        while (step < 5000 && !job.cancelled()) {
            std::this_thread::sleep_for(1ms);
            ++step;
        }
        journal.add(step < 5000 ? "first, told to stop" : "first, ran out");
    });
    worker->post([&](JobContext&) { journal.add("never"); });
    ASSERT_TRUE(started.wait());
    worker.reset();
    EXPECT_EQ(journal.entries(), std::vector<std::string>{"first, told to stop"});
}

} // namespace
