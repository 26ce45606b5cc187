#include "PacketQueue.h"

#include <gtest/gtest.h>

#include <thread>

TEST(PacketQueue, RunsKeepTheirOrderAndAStopDiscardsTheRest) {
    pcl::PacketQueue<int> queue;
    std::vector<int> in = {1, 2};
    queue.enqueue(in);
    EXPECT_TRUE(in.empty());
    in = {3};
    queue.enqueue(in);
    std::vector<int> out;
    ASSERT_TRUE(queue.dequeueAll(out));
    EXPECT_EQ(out, (std::vector<int>{1, 2, 3}));

    in = {4};
    queue.enqueue(in);
    queue.stopQueue();
    EXPECT_TRUE(queue.stopRequested());
    out.clear();
    EXPECT_FALSE(queue.dequeueAll(out));
    EXPECT_TRUE(out.empty());
    in = {5};
    queue.enqueue(in); // refused once stopped
    EXPECT_FALSE(queue.dequeueAll(out));
    EXPECT_TRUE(out.empty());
}

TEST(PacketQueue, StopWakesAWaitingReader) {
    pcl::PacketQueue<int> queue;
    std::vector<int> first;
    bool result = true;
    std::thread reader([&] {
        std::vector<int> out;
        while ((result = queue.dequeueAll(out))) {
            first.insert(first.end(), out.begin(), out.end());
            out.clear();
        }
    });
    std::vector<int> in = {7};
    queue.enqueue(in);
    queue.stopQueue();
    reader.join();
    EXPECT_FALSE(result);
    EXPECT_TRUE(first.empty() || first == std::vector<int>{7});
}
