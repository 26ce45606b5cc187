#include "McapOutput.h"

#include "Failure.h"
#include "ObservationPoint.h"
#include "OutputFile.h"
#include "Sentova/CommandTable.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/Protocol.h"
#include "SentovaMcap/ScanFile.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/FrameCollector.h"
#include "SentovaPcap/LaserCapture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace cli {

namespace {

using sentova::mcap::LogLevel;
using FramePoints = sentova::pcap::FrameCollector<std::deque<DataPoint>>;

struct LogEntry {
    std::uint64_t timeMicros = 0;
    LogLevel level = LogLevel::Info;
    std::string text;
};

std::string hex(const std::string& bytes, std::size_t from) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        const auto u = static_cast<unsigned char>(bytes[i]);
        out += ' ';
        out += kHex[u >> 4];
        out += kHex[u & 15];
    }
    return out;
}

// A code is six letters on the wire; anything else is shown as bytes.
std::string codeOf(const std::string& bytes) {
    const std::size_t n = std::min(bytes.size(), tavrel::protocol::kCodeLength);
    std::string code = bytes.substr(0, n);
    const bool printable = std::all_of(code.begin(), code.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0;
    });
    return printable ? code : std::string();
}

// Laser data (of the device or another source) is no traffic; a reply is told from it by its
// code.
bool laserData(const sentova::pcap::Datagram& d) {
    const bool reply = !codeOf(d.bytes).empty() &&
                       d.bytes.compare(0, tavrel::protocol::kCodeLength, tavrel::kLaserHeader) != 0;
    return sentova::pcap::isLaserCandidate(d) && !reply;
}

// The command traffic of the recording in file order; the laser stream is left out. The
// device sends its laser data from the command port: that is left out while reading, so that
// the recording is not held in memory.
std::vector<LogEntry> readTraffic(const std::string& path) {
    std::vector<sentova::pcap::Datagram> traffic;
    sentova::pcap::LaserSurvey survey;
    sentova::pcap::Reader reader(path);
    sentova::pcap::Datagram d;
    while (reader.next(d)) {
        survey.add(d);
        if ((d.destinationPort == tavrel::protocol::kCommandPort ||
             d.sourcePort == tavrel::protocol::kCommandPort) &&
            !laserData(d)) {
            traffic.push_back(std::move(d));
        }
    }
    const sentova::pcap::LaserFilter laser = survey.filter();
    std::vector<LogEntry> log;
    for (const sentova::pcap::Datagram& t : traffic) {
        if (laser.deviceAddress != 0 && laser.accepts(t)) {
            continue;
        }
        const bool toDevice = t.destinationPort == tavrel::protocol::kCommandPort;
        LogEntry e;
        e.timeMicros = t.timeMicros;
        e.text = trafficText(t.bytes, toDevice);
        e.level = trafficLevel(t.bytes, toDevice);
        log.push_back(std::move(e));
    }
    return log;
}

// Writes through a temporary file renamed into place when complete, as the point formats are
// written: a failure leaves no partial file and an existing one as it was.
template <class Write> void committed(const std::string& output, Write&& write) {
    formats::OutputFile file(output);
    std::string error;
    if (!file.open(error)) {
        failed("cannot write '" + output + "': " + error);
    }
    try {
        write(file.writtenPath());
    } catch (const sentova::mcap::McapError& e) {
        failed(e.what());
    }
    if (!file.commit(error)) {
        failed("cannot write '" + output + "': " + error);
    }
}

} // namespace

bool isMcap(const std::string& path) {
    if (path.size() < 5) {
        return false;
    }
    std::string end = path.substr(path.size() - 5);
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return end == ".mcap";
}

sentova::mcap::LogLevel trafficLevel(const std::string& bytes, bool toDevice) {
    const bool refused = !toDevice && bytes.compare(0, 2, tavrel::protocol::kClassError) == 0;
    return refused ? sentova::mcap::LogLevel::Warning : sentova::mcap::LogLevel::Info;
}

std::string trafficText(const std::string& bytes, bool toDevice) {
    const std::string code = codeOf(bytes);
    if (code.empty()) {
        return std::string(toDevice ? "command" : "reply") + hex(bytes, 0);
    }
    if (toDevice) {
        const tavrel::CommandInfo* info = tavrel::FindCommand(bytes);
        return "command " + code + (info != nullptr ? std::string(" ") + info->name : "") +
               hex(bytes, code.size());
    }
    bool notification = false;
    for (const char* n : tavrel::protocol::kNotificationCodes) {
        notification = notification || code == n;
    }
    return std::string(notification ? "notification " : "reply ") + code + hex(bytes, code.size());
}

std::uint64_t writeRecordingMcap(const std::string& input, const std::string& output,
                                 std::optional<std::uint64_t> frame,
                                 const sentova::mcap::WriterOptions& options,
                                 const formats::Progress& progress) {
    std::vector<LogEntry> log;
    try {
        log = readTraffic(input);
    } catch (const sentova::pcap::CaptureError& e) {
        failed(e.what());
    }
    std::uint64_t messages = 0;
    committed(output, [&](const std::string& path) {
        sentova::mcap::ScanFile file(path, options);
        std::size_t nextLog = 0;
        const auto logUntil = [&](std::uint64_t micros) {
            for (; nextLog < log.size() && log[nextLog].timeMicros <= micros; ++nextLog) {
                const LogEntry& e = log[nextLog];
                file.addLog(e.timeMicros * 1000, e.level, e.text);
            }
        };
        // Unbounded as the recording's frames: a frame is written whole, as one message or
        // several.
        FramePoints collector(FramePoints::kUnbounded, frame);
        const sentova::pcap::CaptureRead read = sentova::pcap::readCaptureObservations(
            input,
            [&](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
                const std::vector<tavrel::scan_frame_piece_t>& pieces) {
                // A recording does not say which model sent it: the generic model keeps every
                // value as the device sent it.
                collector.add(batch.data(), pieces, [](const tavrel::tavrel_rbe_obs_t& o) {
                    return formats::toDataPoint(o, LIDAR_GENERIC, false);
                });
            },
            [&](const tavrel::scan_frame_t& f) {
                const FramePoints::Frame closed = collector.close(f);
                if (!closed.points.empty()) {
                    logUntil(f.lastArrivalMicros);
                    file.addPoints(closed.points, 0, closed.points.size(),
                                   f.lastArrivalMicros * 1000);
                }
                return !(frame && f.index == *frame);
            },
            progress);
        if (!read.ok && !read.cancelled) {
            failed(input + ": " + read.error);
        }
        if (!read.problems.empty()) {
            std::fprintf(stderr, "sentova: %s: %s\n", input.c_str(), read.problems.c_str());
        }
        if (frame && file.pointMessages() == 0) {
            failed(input + ": no frame " + std::to_string(*frame) + " (it holds " +
                   std::to_string(read.frames.size()) + " frames)");
        }
        logUntil(frame ? 0 : UINT64_MAX);
        file.close();
        messages = file.pointMessages();
    });
    return messages;
}

void writePointsMcap(const std::string& output, const std::deque<DataPoint>& points,
                     std::uint64_t timeNanos, const sentova::mcap::WriterOptions& options) {
    committed(output, [&](const std::string& path) {
        sentova::mcap::ScanFile file(path, options);
        file.addPoints(points, 0, points.size(), timeNanos);
        file.close();
    });
}

void streamPointsMcap(const std::string& output, formats::PointReader& reader,
                      std::uint64_t timeNanos, const sentova::mcap::WriterOptions& options,
                      const formats::Progress& progress,
                      const std::function<void(formats::Format, const std::string&)>& readFailed) {
    using sentova::mcap::kMaxPointsPerMessage;
    committed(output, [&](const std::string& path) {
        sentova::mcap::ScanFile file(path, options);
        formats::Ticker ticker(reader.size(), progress, {});
        std::deque<DataPoint> message;
        std::vector<DataPoint> chunk;
        while (ticker.at(reader.position()) && reader.next(chunk)) {
            message.insert(message.end(), chunk.begin(), chunk.end());
            if (message.size() >= kMaxPointsPerMessage) {
                file.addPoints(message, 0, kMaxPointsPerMessage, timeNanos);
                message.erase(message.begin(), message.begin() + kMaxPointsPerMessage);
            }
        }
        if (!reader.error().empty()) {
            readFailed(reader.format(), reader.error());
        }
        // The rest; a file of no points still gives its one empty message.
        if (!message.empty() || file.pointMessages() == 0) {
            file.addPoints(message, 0, message.size(), timeNanos);
        }
        ticker.finish();
        file.close();
    });
}

void writeFramesMcap(const std::string& output, const std::deque<DataPoint>& points,
                     const std::vector<FrameSpan>& frames,
                     const sentova::mcap::WriterOptions& options) {
    committed(output, [&](const std::string& path) {
        sentova::mcap::ScanFile file(path, options);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::size_t end = i + 1 < frames.size() ? frames[i + 1].begin : points.size();
            if (frames[i].begin < end) {
                file.addPoints(points, frames[i].begin, end, frames[i].timeNanos);
            }
        }
        file.close();
    });
}

} // namespace cli
