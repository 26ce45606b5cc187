#include "SentovaPcap/Recorder.h"
#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

using namespace sentova::pcap;
using pcaptest::TempFile;

namespace {

tavrel::traffic_datagram_t traffic(const std::string& bytes, std::uint64_t time,
                                   std::uint16_t sourcePort = 4366) {
    tavrel::traffic_datagram_t d{};
    d.timeMicros = time;
    d.sourceAddress = 0x7f000002;
    d.sourcePort = sourcePort;
    d.destinationAddress = 0x7f000001;
    d.destinationPort = 40000;
    d.data = bytes.data();
    d.size = bytes.size();
    return d;
}

} // namespace

TEST(Recorder, DatagramsOfSeveralThreadsAllReachTheFile) {
    TempFile file("threads.pcap");
    constexpr int kThreads = 4;
    constexpr int kEach = 5000;
    RecorderStatus status;
    {
        Recorder recorder(file.path());
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&recorder, t] {
                for (int i = 0; i < kEach; ++i) {
                    const std::string bytes = std::to_string(t) + ":" + std::to_string(i);
                    recorder.TrafficCallback(traffic(bytes, 1000000 + std::uint64_t(i) * 10,
                                                     static_cast<std::uint16_t>(5000 + t)));
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        status = recorder.stop();
        recorder.TrafficCallback(traffic("after stop", 1));
        EXPECT_EQ(recorder.stop().datagrams, status.datagrams);
    }
    EXPECT_TRUE(status.stopped);
    EXPECT_FALSE(status.failed) << status.error;
    EXPECT_EQ(status.datagrams, std::uint64_t(kThreads * kEach));
    EXPECT_EQ(status.notRecorded, 0u);
    EXPECT_EQ(status.durationMicros, std::uint64_t(kEach - 1) * 10);
    EXPECT_EQ(status.bytes, file.read().size());

    // Each thread's datagrams keep their order.
    std::vector<int> next(kThreads, 0);
    for (const Datagram& d : readDatagrams(file.path())) {
        const int t = d.sourcePort - 5000;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(d.bytes, std::to_string(t) + ":" + std::to_string(next[t]));
        ++next[t];
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kEach));
}

// A recording survives the program's crash up to the last flush.
TEST(Recorder, CrashLosesAtMostTheLastSecond) {
    TempFile file("crash.pcap");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Recorder recorder(file.path());
        for (int i = 0; i < 100; ++i)
            recorder.TrafficCallback(traffic("before the crash " + std::to_string(i), 1000 + i));
        // Killed once all is on disk, or after a second at the latest.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < deadline) {
            try {
                std::string partial;
                if (readDatagrams(file.path(), &partial).size() == 100)
                    break;
            } catch (const CaptureError&) {
                // Nothing written yet.
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::string report;
    const std::vector<Datagram> read = readDatagrams(file.path(), &report);
    EXPECT_EQ(read.size(), 100u) << report;
    EXPECT_EQ(report, "");
}

TEST(Recorder, FullDiskIsReportedAndLaterDatagramsCounted) {
    Recorder recorder("/dev/full");
    const std::string bytes(1400, 'x');
    for (int i = 0; i < 2000; ++i)
        recorder.TrafficCallback(traffic(bytes, i));
    RecorderStatus status;
    for (int wait = 0; wait < 200 && !status.failed; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        status = recorder.status();
    }
    ASSERT_TRUE(status.failed);
    EXPECT_EQ(status.error, "/dev/full: cannot write: No space left on device");
    recorder.TrafficCallback(traffic(bytes, 5000));
    status = recorder.stop();
    EXPECT_TRUE(status.failed);
    EXPECT_GE(status.notRecorded, 1u);
}

TEST(Recorder, UnwritablePathFailsAtOnce) {
    EXPECT_THROW(Recorder("/nonexistent/folder/r.pcap"), CaptureError);
}

TEST(Recorder, StatusShowsSizeAndDurationWhileRecording) {
    TempFile file("live.pcap");
    Recorder recorder(file.path(), RecorderOptions{LinkType::Ethernet, 50});
    recorder.TrafficCallback(traffic("first", 10000000));
    recorder.TrafficCallback(traffic("second", 12500000));
    RecorderStatus status;
    for (int wait = 0; wait < 200 && status.datagrams < 2; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        status = recorder.status();
    }
    EXPECT_EQ(status.datagrams, 2u);
    EXPECT_EQ(status.durationMicros, 2500000u);
    EXPECT_EQ(status.bytes, 24u + 2 * (16 + 14 + 28) + 5 + 6);
    EXPECT_FALSE(status.stopped);
}
