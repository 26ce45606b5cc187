#pragma once

// Blocks of bytes written to a file descriptor by a thread of their own, in the order handed
// over, so that the encoding of the next block overlaps the system call and the copy into the
// page cache. At most two blocks wait: the one handing a third over waits for room. The first
// failed write's errno is kept; the blocks after it are dropped. Internal to the formats module.
// One object per descriptor; hand() and finish() are called by one thread.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace formats {

class WriteThread {
public:
    explicit WriteThread(int fd) : m_fd(fd) {}
    // Waits for the write under way; the blocks still waiting are dropped.
    ~WriteThread();
    WriteThread(const WriteThread&) = delete;
    WriteThread& operator=(const WriteThread&) = delete;

    // Queues the block's first used bytes and returns a buffer of the same size to fill next (a
    // block written before, its bytes left as they were).
    std::vector<char> hand(std::vector<char> block, std::size_t used);

    // Waits until every block handed over is written or dropped; the first failed write's
    // errno, 0 when none failed.
    int finish();

private:
    static constexpr std::size_t kQueued = 2;

    struct Block {
        std::vector<char> bytes;
        std::size_t used = 0;
    };

    void run();
    int write(const char* s, std::size_t n) const; // errno of the failure, 0 when written

    const int m_fd;
    std::thread m_thread; // started with the first block

    std::mutex m_mutex; // guards the members below
    std::condition_variable m_changed;
    std::deque<Block> m_queue;              // handed over, not yet taken by the thread
    std::vector<std::vector<char>> m_spare; // written, for reuse
    bool m_busy = false;                    // the thread is writing a block
    bool m_stop = false;
    int m_error = 0;
};

} // namespace formats
