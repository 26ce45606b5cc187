#include "Sentova/SentovaLogger.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/log/attributes/attribute_value_set.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/counter.hpp>
#include <boost/log/attributes/current_process_id.hpp>
#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>

#include <utility>

namespace tavrel {

boost::log::trivial::severity_level FilterThreshold(const std::string& level) {
    const std::string lower = boost::algorithm::to_lower_copy(level);
    if (lower == "trace")
        return boost::log::trivial::trace;
    if (lower == "debug")
        return boost::log::trivial::debug;
    if (lower == "info")
        return boost::log::trivial::info;
    return boost::log::trivial::fatal;
}

void ApplyLogFilter(const std::string& level) {
    namespace logging = boost::log;
    // A record without a "Severity" attribute compares false, so it never passes.
    logging::core::get()->set_filter(logging::trivial::severity >= FilterThreshold(level));
}

const std::vector<std::string>& LogLevelNames() {
    static const std::vector<std::string> names = {"trace", "debug", "info", "warning",
                                                   "error", "fatal", "off"};
    return names;
}

bool SetLogLevel(const std::string& name) {
    namespace logging = boost::log;
    using logging::trivial::severity_level;
    static const std::pair<const char*, severity_level> levels[] = {
        {"trace", logging::trivial::trace}, {"debug", logging::trivial::debug},
        {"info", logging::trivial::info},   {"warning", logging::trivial::warning},
        {"error", logging::trivial::error}, {"fatal", logging::trivial::fatal}};
    const bool off = name == "off";
    const severity_level* threshold = nullptr;
    for (const auto& level : levels)
        if (name == level.first)
            threshold = &level.second;
    if (!off && threshold == nullptr)
        return false;
    my_logger::get();
    if (off)
        logging::core::get()->set_filter([](const logging::attribute_value_set&) { return false; });
    else
        logging::core::get()->set_filter(logging::trivial::severity >= *threshold);
    return true;
}

} // namespace tavrel

BOOST_LOG_GLOBAL_LOGGER_INIT(
    my_logger, boost::log::sources::severity_logger_mt<boost::log::trivial::severity_level>) {
    namespace logging = boost::log;
    namespace attrs = boost::log::attributes;
    logging::sources::severity_logger_mt<logging::trivial::severity_level> logger;
    auto core = logging::core::get();
    core->add_global_attribute("LineID", attrs::counter<unsigned int>(1, 1));
    core->add_global_attribute("TimeStamp", attrs::local_clock());
    core->add_global_attribute("ProcessID", attrs::current_process_id());
    core->add_global_attribute("ThreadID", attrs::current_thread_id());
    tavrel::ApplyLogFilter(tavrel::LOG_LEVEL);
    return logger;
}
