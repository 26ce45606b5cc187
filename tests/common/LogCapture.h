// Captures the library log's records in memory for the life of the object.
// Lowers the core filter to trace while capturing and restores the library's
// filter afterwards. Only one capture may exist at a time.
#pragma once

#include "Sentova/SentovaLogger.h"

#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <sstream>
#include <string>

namespace testing_support {

class LogCapture {
public:
    LogCapture() {
        namespace logging = boost::log;
        my_logger::get(); // make sure the library has set up its logger first
        backend_ = boost::make_shared<logging::sinks::text_ostream_backend>();
        backend_->add_stream(stream_);
        backend_->auto_flush(true);
        sink_ = boost::make_shared<Sink>(backend_);
        sink_->set_formatter(logging::expressions::stream << "[" << logging::trivial::severity
                                                          << "] "
                                                          << logging::expressions::smessage);
        logging::core::get()->add_sink(sink_);
        logging::core::get()->set_filter(logging::trivial::severity >= logging::trivial::trace);
    }
    ~LogCapture() {
        boost::log::core::get()->remove_sink(sink_);
        tavrel::ApplyLogFilter(tavrel::LOG_LEVEL);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything captured so far, one "[severity] message" line per record.
    std::string text() {
        // Holding the backend serialises with records being written on other threads.
        auto backend = sink_->locked_backend();
        return stream_->str();
    }
    bool contains(const std::string& piece) { return text().find(piece) != std::string::npos; }

private:
    using Sink = boost::log::sinks::synchronous_sink<boost::log::sinks::text_ostream_backend>;
    // Owned with the backend, so a record written by a library thread while
    // the capture is going away still has a stream to go to.
    boost::shared_ptr<std::ostringstream> stream_ = boost::make_shared<std::ostringstream>();
    boost::shared_ptr<boost::log::sinks::text_ostream_backend> backend_;
    boost::shared_ptr<Sink> sink_;
};

} // namespace testing_support
