#include "CommandWorker.h"

#include <utility>

namespace sentova::command {

bool JobContext::cancelled() const {
    return m_worker.isCancelled(m_id);
}

bool JobContext::runThere(const Dispatch& dispatch, std::function<void()> call) {
    auto rendezvous = std::make_shared<CommandWorker::Rendezvous>();
    {
        std::lock_guard<std::mutex> lock(m_worker.m_mutex);
        if (m_worker.m_finishing || m_worker.isCancelled(m_id)) {
            return false;
        }
        m_worker.m_waiting = rendezvous;
    }
    // The wrapper owns what it needs: it may run after this job, or this worker, is gone.
    // The wrapper owns what it needs: it may run after this job, or this worker, is gone. It
    // holds the rendezvous lock while the call runs, so a job that gave up never races its call.
    dispatch([rendezvous, call = std::move(call)] {
        std::lock_guard<std::mutex> lock(rendezvous->mutex);
        if (rendezvous->abandoned) {
            return;
        }
        call();
        rendezvous->done = true;
        rendezvous->ran.notify_all();
    });
    bool done = false;
    {
        std::unique_lock<std::mutex> lock(rendezvous->mutex);
        rendezvous->ran.wait(lock, [&] { return rendezvous->done || rendezvous->abandoned; });
        done = rendezvous->done;
    }
    std::lock_guard<std::mutex> lock(m_worker.m_mutex);
    m_worker.m_waiting.reset();
    return done;
}

CommandWorker::CommandWorker() : m_thread([this] { run(); }) {}

CommandWorker::~CommandWorker() {
    cancel();
    finish();
}

bool CommandWorker::post(Job job) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finishing) {
            return false;
        }
        m_queue.emplace_back(m_nextId++, std::move(job));
    }
    m_wake.notify_one();
    return true;
}

std::size_t CommandWorker::cancel() {
    std::deque<std::pair<std::uint64_t, Job>> dropped;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        dropped.swap(m_queue);
        if (m_running != 0) {
            m_cancelledUpTo = m_running;
        }
        abandonWaiting(lock);
    }
    // The dropped jobs are destroyed here, outside the lock: what they hold may take time to
    // release.
    return dropped.size();
}

void CommandWorker::finish() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_finishing = true;
        abandonWaiting(lock);
    }
    m_wake.notify_one();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool CommandWorker::busy() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running != 0 || !m_queue.empty();
}

bool CommandWorker::isCancelled(std::uint64_t id) const {
    return id <= m_cancelledUpTo.load();
}

void CommandWorker::abandonWaiting(std::unique_lock<std::mutex>& lock) {
    std::shared_ptr<Rendezvous> waiting = m_waiting;
    lock.unlock();
    if (waiting) {
        std::lock_guard<std::mutex> guard(waiting->mutex);
        waiting->abandoned = true;
        waiting->ran.notify_all();
    }
    lock.lock();
}

void CommandWorker::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_finishing; });
        if (m_queue.empty()) {
            return;
        }
        auto [id, job] = std::move(m_queue.front());
        m_queue.pop_front();
        m_running = id;
        lock.unlock();
        {
            JobContext context(*this, id);
            // A job that throws must not take the worker down with it: the jobs behind it still
            // run. Jobs report their own failures.
            try {
                job(context);
            } catch (...) {
            }
            // Destroyed before the worker counts itself idle, so what the job captured is
            // released when busy() turns false.
            job = nullptr;
        }
        lock.lock();
        m_running = 0;
    }
}

} // namespace sentova::command
