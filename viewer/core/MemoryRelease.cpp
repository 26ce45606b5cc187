#include "MemoryRelease.h"

#include <malloc.h>

#include <memory>

namespace viewer {

void returnFreeMemory() {
    malloc_trim(0);
}

void MemoryRelease::release(std::deque<DataPoint>&& former) {
    // std::function needs a copyable callable: the buffer travels behind a shared pointer.
    auto buffer = std::make_shared<std::deque<DataPoint>>(std::move(former));
    m_worker.post([buffer](sentova::command::JobContext&) {
        std::deque<DataPoint>().swap(*buffer);
        returnFreeMemory();
    });
}

void MemoryRelease::post(std::function<void()> job) {
    m_worker.post([job = std::move(job)](sentova::command::JobContext&) { job(); });
}

void MemoryRelease::returnFreed() {
    m_worker.post([](sentova::command::JobContext&) { returnFreeMemory(); });
}

} // namespace viewer
