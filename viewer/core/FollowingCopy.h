#pragma once

// The display's copy of a file's points laid out on a thread of its own while the file is still
// being read: the reader hands each chunk over once it has put it in the new buffer, and the copy
// follows behind, so that the load ends with the read instead of with a second pass over the
// points. Used for a load into an empty scene, where nothing is to be freed before the copy may
// take its memory.
//
// Threads: one thread (a file thread) calls every member; the copy's own thread lays the chunks
// out. Created on a thread with a nice value, it runs at that value too (Linux threads inherit
// their creator's).

#include "DataPoint.h"
#include "PreparedCloud.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace viewer {

class FollowingCopy {
public:
    // The chunk sizes of the ChunkedCloud that is to take the copy.
    FollowingCopy(int largeBits, int smallBits);
    // Stops the copy's thread, dropping chunks not laid out yet.
    ~FollowingCopy();
    FollowingCopy(const FollowingCopy&) = delete;
    FollowingCopy& operator=(const FollowingCopy&) = delete;

    // A chunk to read the next points into: one the copy is done with when there is one, so that
    // a load allocates a few chunks, not one per read.
    std::vector<DataPoint> spare();
    // The next points of the file, in its order; waits while kWaitingChunks wait already.
    void follow(std::vector<DataPoint>&& chunk);
    // Waits for every chunk followed to be laid out and hands the finished copy over, once; null
    // when the copy could not have its memory.
    std::shared_ptr<PreparedCloud> finish();

    // Chunks handed over and not laid out yet, at most: what the copy may fall behind the read.
    static constexpr std::size_t kWaitingChunks = 4;

private:
    void run();

    // The thread's alone until finish() has joined it.
    std::unique_ptr<PreparedCloud> m_copy;
    // Guards m_waiting, m_spares, m_ended and m_stopped.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<DataPoint>> m_waiting;
    std::vector<std::vector<DataPoint>> m_spares;
    bool m_ended = false;   // no more chunks come: lay out what waits, then end
    bool m_stopped = false; // end now
    // Last: started once the rest is in place.
    std::thread m_thread;
};

} // namespace viewer
