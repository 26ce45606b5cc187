#include "SentovaMcap/ScanFile.h"

#include <algorithm>

namespace sentova {
namespace mcap {

ScanFile::ScanFile(const std::string& path, WriterOptions options)
    : m_writer(path, std::move(options)) {
    const std::uint16_t cloud =
        m_writer.addSchema("foxglove.PointCloud", "jsonschema", pointCloudSchema());
    const std::uint16_t log = m_writer.addSchema("foxglove.Log", "jsonschema", logSchema());
    m_points = m_writer.addChannel(cloud, kPointsTopic, "json");
    m_log = m_writer.addChannel(log, kLogTopic, "json");
}

void ScanFile::addPoints(const std::deque<DataPoint>& points, std::size_t begin, std::size_t end,
                         std::uint64_t timeNanos) {
    do {
        const std::size_t stop = std::min(end, begin + kMaxPointsPerMessage);
        m_writer.write(m_points, timeNanos, timeNanos,
                       pointCloudMessage(points, begin, stop, timeNanos, kFrameId));
        ++m_pointMessages;
        begin = stop;
    } while (begin < end);
}

void ScanFile::addLog(std::uint64_t timeNanos, LogLevel level, const std::string& text) {
    m_writer.write(m_log, timeNanos, timeNanos, logMessage(timeNanos, level, text, "sentova"));
}

} // namespace mcap
} // namespace sentova
