// The library log: one process-wide Boost.Log severity logger.
//
// Writers use SENTOVA_LOG(trace) << ...; the core filter is chosen once, when
// the logger is first used, from LOG_LEVEL. No sink is added, so records that
// pass go to Boost.Log's default sink on standard output.
#pragma once

#include <boost/log/sources/global_logger_storage.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/log/trivial.hpp>

#include <string>
#include <vector>

namespace tavrel {

// Selects the filter: "trace", "debug" or "info" (any letter case) pass that
// severity and above; anything else, the empty string included, passes fatal only.
static const std::string LOG_LEVEL = "";

// The lowest severity that passes the filter for a LOG_LEVEL text.
boost::log::trivial::severity_level FilterThreshold(const std::string& level);

// Installs the core filter for a LOG_LEVEL text (records without a severity never pass).
void ApplyLogFilter(const std::string& level);

// The level names a program's --log-level takes: "trace", "debug", "info",
// "warning", "error", "fatal" and "off".
const std::vector<std::string>& LogLevelNames();

// Lets records of the named level and above pass ("off": none), replacing the
// filter the library sets up on first use; that set-up is made to happen
// first, so it cannot undo this later. Returns false, changing nothing, for a
// name not in LogLevelNames (letter case counts).
bool SetLogLevel(const std::string& name);

} // namespace tavrel

BOOST_LOG_GLOBAL_LOGGER(
    my_logger, boost::log::sources::severity_logger_mt<boost::log::trivial::severity_level>)

#define SENTOVA_LOG(severity) BOOST_LOG_SEV(my_logger::get(), boost::log::trivial::severity)
