// An MCAP file of our own: a point cloud channel (one message per scan frame, or per batch of at
// most kMaxPointsPerMessage points) and a log channel with the device traffic as text. One
// thread at a time.
#pragma once

#include "SentovaMcap/Foxglove.h"
#include "SentovaMcap/Writer.h"

#include <cstdint>
#include <deque>
#include <string>

namespace sentova {
namespace mcap {

constexpr const char* kPointsTopic = "/sentova/points";
constexpr const char* kLogTopic = "/sentova/log";
constexpr const char* kFrameId = "sentova";
// Keeps one message's JSON (base64 of 52 bytes a point) below a hundred megabytes.
constexpr std::size_t kMaxPointsPerMessage = 1000000;

class ScanFile {
public:
    // Creates the file with both channels. Throws McapError.
    ScanFile(const std::string& path, WriterOptions options = {});

    // Points [begin, end) logged at the host time (ns since the Unix epoch), as one message or,
    // when there are more than kMaxPointsPerMessage, several in a row. Throws McapError.
    void addPoints(const std::deque<DataPoint>& points, std::size_t begin, std::size_t end,
                   std::uint64_t timeNanos);
    void addLog(std::uint64_t timeNanos, LogLevel level, const std::string& text);
    // Throws McapError.
    void close() { m_writer.close(); }

    std::uint64_t pointMessages() const { return m_pointMessages; }

private:
    Writer m_writer;
    std::uint16_t m_points = 0;
    std::uint16_t m_log = 0;
    std::uint64_t m_pointMessages = 0;
};

} // namespace mcap
} // namespace sentova
