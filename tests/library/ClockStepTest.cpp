// Time-outs against a step of the system clock. This program's own
// gettimeofday and clock_gettime(CLOCK_REALTIME) replace the C library's for
// the whole process, the library included, and add an offset the test sets:
// a clock step without touching the machine's clock.
#include "SentovaPrivate.h"

#include "FakeDevice.h"

#include <dlfcn.h>
#include <sys/time.h>
#include <time.h>

#include <gtest/gtest.h>

#include <atomic>

using namespace tavrel;
using namespace testing_support;

namespace {

std::atomic<long long> g_offsetSeconds{0};

} // namespace

extern "C" int gettimeofday(struct timeval* tv, void* tz) {
    using Real = int (*)(struct timeval*, void*);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "gettimeofday"));
    const int result = real(tv, tz);
    if (result == 0)
        tv->tv_sec += g_offsetSeconds;
    return result;
}

extern "C" int clock_gettime(clockid_t clock, struct timespec* ts) {
    using Real = int (*)(clockid_t, struct timespec*);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "clock_gettime"));
    const int result = real(clock, ts);
    if (result == 0 && clock == CLOCK_REALTIME)
        ts->tv_sec += g_offsetSeconds;
    return result;
}

namespace {

class ClockStep : public ::testing::Test {
protected:
    void SetUp() override {
        controller = std::make_unique<SentovaPrivate>(device.address(), 4365);
        ASSERT_TRUE(device.waitForDatagrams(1));
    }
    void TearDown() override { g_offsetSeconds = 0; }

    FakeDevice device;
    std::unique_ptr<SentovaPrivate> controller;
};

} // namespace

TEST_F(ClockStep, TheFakeClockMoves) {
    timeval before{};
    ::gettimeofday(&before, nullptr);
    g_offsetSeconds = -3600;
    timeval after{};
    ::gettimeofday(&after, nullptr);
    EXPECT_LT(after.tv_sec, before.tv_sec - 3000);
}

TEST_F(ClockStep, NonBlockingTimeOutIsNotStretchedByAStepBack) {
    CountingCallback cb;
    controller->SetMotionTimeout(200);
    ASSERT_EQ(controller->Home(&cb), NoError);
    // Against the system clock the time-out would now be an hour away.
    g_offsetSeconds = -3600;
    ASSERT_TRUE(Eventually([&] { return cb.calls == 1; }, std::chrono::milliseconds(3000)));
    EXPECT_EQ(cb.last, Timeout);
}

TEST_F(ClockStep, BlockingDeadlineIsNotStretchedByAStepBack) {
    controller->SetResponseTimeout(200);
    // The clock steps back while the command waits for the reply that never comes.
    device.setResponder([](const std::string&) -> std::vector<std::string> {
        g_offsetSeconds = -3600;
        return {};
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(controller->Stop(), Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    device.setResponder(nullptr);
}
