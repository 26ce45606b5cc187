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

TEST(LogFilter, ALevelSetByAProgramReplacesTheLibrarysFilter) {
    namespace logging = boost::log;
    auto core = logging::core::get();
    auto passes = [&](severity_level level) {
        logging::attribute_set attrs;
        attrs["Severity"] = logging::attributes::constant<severity_level>(level);
        return static_cast<bool>(core->open_record(attrs));
    };
    ASSERT_TRUE(tavrel::SetLogLevel("trace"));
    EXPECT_TRUE(passes(severity_level::trace));
    ASSERT_TRUE(tavrel::SetLogLevel("warning"));
    EXPECT_FALSE(passes(severity_level::info));
    EXPECT_TRUE(passes(severity_level::warning));
    EXPECT_TRUE(passes(severity_level::error));
    // Unknown names change nothing; the names are exact.
    EXPECT_FALSE(tavrel::SetLogLevel("Trace"));
    EXPECT_FALSE(tavrel::SetLogLevel("verbose"));
    EXPECT_FALSE(tavrel::SetLogLevel(""));
    EXPECT_FALSE(passes(severity_level::info));
    ASSERT_TRUE(tavrel::SetLogLevel("off"));
    EXPECT_FALSE(passes(severity_level::fatal));
    ASSERT_TRUE(tavrel::SetLogLevel("fatal"));
    EXPECT_FALSE(passes(severity_level::error));
    EXPECT_TRUE(passes(severity_level::fatal));
    EXPECT_FALSE(static_cast<bool>(core->open_record(logging::attribute_set())));
    const std::vector<std::string> names = {"trace", "debug", "info", "warning",
                                            "error", "fatal", "off"};
    for (const std::string& name : tavrel::LogLevelNames()) {
        EXPECT_TRUE(tavrel::SetLogLevel(name)) << name;
    }
    EXPECT_EQ(tavrel::LogLevelNames(), names);
    tavrel::ApplyLogFilter(tavrel::LOG_LEVEL);
}
