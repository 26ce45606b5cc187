#include "Sentova/SentovaLogger.h"

#include "LogCapture.h"

#include <boost/log/attributes/constant.hpp>

#include <gtest/gtest.h>

using boost::log::trivial::severity_level;
using tavrel::FilterThreshold;

TEST(LogFilter, LevelTextSelectsThreshold) {
    EXPECT_EQ(FilterThreshold("trace"), severity_level::trace);
    EXPECT_EQ(FilterThreshold("TRACE"), severity_level::trace);
    EXPECT_EQ(FilterThreshold("Debug"), severity_level::debug);
    EXPECT_EQ(FilterThreshold("info"), severity_level::info);
    for (const char* other : {"", "warning", "error", "fatal", "verbose", " debug"})
        EXPECT_EQ(FilterThreshold(other), severity_level::fatal) << '"' << other << '"';
    EXPECT_EQ(tavrel::LOG_LEVEL, "");
}

TEST(LogFilter, DefaultFilterPassesFatalOnly) {
    namespace logging = boost::log;
    my_logger::get();
    auto core = logging::core::get();
    auto record = [&](severity_level level) {
        logging::attribute_set attrs;
        attrs["Severity"] = logging::attributes::constant<severity_level>(level);
        return static_cast<bool>(core->open_record(attrs));
    };
    EXPECT_FALSE(record(severity_level::trace));
    EXPECT_FALSE(record(severity_level::error));
    EXPECT_TRUE(record(severity_level::fatal));
    // A record without a severity never passes.
    EXPECT_FALSE(static_cast<bool>(core->open_record(logging::attribute_set())));

    tavrel::ApplyLogFilter("Debug");
    EXPECT_FALSE(record(severity_level::trace));
    EXPECT_TRUE(record(severity_level::debug));
    tavrel::ApplyLogFilter(tavrel::LOG_LEVEL);
    EXPECT_FALSE(record(severity_level::debug));
}

TEST(LogFilter, GlobalAttributesAreRegistered) {
    my_logger::get();
    const auto attrs = boost::log::core::get()->get_global_attributes();
    for (const char* name : {"LineID", "TimeStamp", "ProcessID", "ThreadID"})
        EXPECT_NE(attrs.find(name), attrs.end()) << name;
}

TEST(LogCaptureHelper, SeesTraceRecordsWhileCapturing) {
    testing_support::LogCapture capture;
    SENTOVA_LOG(trace) << "probe " << 42;
    EXPECT_TRUE(capture.contains("[trace] probe 42"));
}
