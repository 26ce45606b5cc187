#pragma once

// MCAP files written by the tool: a recording as one point cloud message per scan frame, logged
// at its capture time, with the recorded command traffic on the log channel; and points read
// from elsewhere as messages of at most a million points.

#include "DataPoint.h"
#include "PointStream.h"
#include "Progress.h"
#include "SentovaMcap/Foxglove.h"
#include "SentovaMcap/Writer.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Whether the path ends in ".mcap", compared without regard to case.
bool isMcap(const std::string& path);

// The log line of a recorded datagram to or from the device's command port: the command's code,
// its name and its argument bytes in hex; a reply's or notification's code and payload.
std::string trafficText(const std::string& bytes, bool toDevice);
// Its level: a warning for the device refusing a command, information for the rest.
sentova::mcap::LogLevel trafficLevel(const std::string& bytes, bool toDevice);

// The recording (all frames, or only the 0-based frame) as MCAP. Failure(1) as
// readRecordingPoints; returns the number of point cloud messages. progress: the share of the
// recording read.
std::uint64_t writeRecordingMcap(const std::string& input, const std::string& output,
                                 std::optional<std::uint64_t> frame,
                                 const sentova::mcap::WriterOptions& options,
                                 const formats::Progress& progress = {});

// The points as MCAP, logged at timeNanos. Throws Failure(1).
void writePointsMcap(const std::string& output, const std::deque<DataPoint>& points,
                     std::uint64_t timeNanos, const sentova::mcap::WriterOptions& options);

// The points of a file being read as MCAP, logged at timeNanos: the same messages as
// writePointsMcap of all of them, in memory bounded by one message. progress: the share of the
// file read. A read that fails calls readFailed(format, error), which throws a Failure; the
// output is then left as it was. Throws Failure(1) when the output cannot be written.
void streamPointsMcap(const std::string& output, formats::PointReader& reader,
                      std::uint64_t timeNanos, const sentova::mcap::WriterOptions& options,
                      const formats::Progress& progress,
                      const std::function<void(formats::Format, const std::string&)>& readFailed);

// Points [begin, the next span's begin) of a scan frame, logged at timeNanos (ns since the Unix
// epoch).
struct FrameSpan {
    std::size_t begin = 0;
    std::uint64_t timeNanos = 0;
};

// The points as MCAP, a message per frame; spans in increasing order, empty ones left out.
// Throws Failure(1).
void writeFramesMcap(const std::string& output, const std::deque<DataPoint>& points,
                     const std::vector<FrameSpan>& frames,
                     const sentova::mcap::WriterOptions& options);

} // namespace cli
