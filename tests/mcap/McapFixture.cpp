// Writes the inputs of the MCAP read-back check and what the reader must find in the outputs.
//   mcap_fixture recording DIR     DIR/recording.pcap and DIR/recording.json
//   mcap_fixture points FILE JSON  the points of a point file, as one message
// The expected points are ours: the recording's observations as the tool decodes them.
#include "Formats.h"
#include "ObservationPoint.h"
#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "SentovaMcap/Foxglove.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace {

constexpr std::uint32_t kDevice = 0x0a000002;
constexpr std::uint32_t kHost = 0x0a000001;
constexpr std::uint32_t kOtherSource = 0x0a000003; // another laser source, less busy
constexpr std::uint16_t kCommandSocket = 40000;

std::string number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string pointJson(const DataPoint& p) {
    return "[" + number(p.x) + "," + number(p.y) + "," + number(p.z) + "," + number(p.intensity) +
           "," + number(p.range) + "," + number(p.azimuth) + "," + number(p.elevation) + "," +
           number(p.reflectance) + "," + number(p.pulseShapeDeviation) + "," +
           std::to_string(static_cast<std::uint32_t>(p.timestamp)) + "]";
}

struct Expected {
    struct Frame {
        std::uint64_t timeNanos = 0;
        std::deque<DataPoint> points;
    };
    std::vector<Frame> frames;
    std::vector<std::pair<std::uint64_t, std::string>> logs; // time, text the message begins with
    unsigned minimumChunks = 1;
};

void writeExpected(const std::string& path, const Expected& e) {
    std::ofstream out(path);
    out << "{\"frames\":[";
    for (std::size_t f = 0; f < e.frames.size(); ++f) {
        out << (f ? "," : "") << "\n{\"time\":\"" << e.frames[f].timeNanos << "\",\"points\":[";
        for (std::size_t i = 0; i < e.frames[f].points.size(); ++i)
            out << (i ? "," : "") << pointJson(e.frames[f].points[i]);
        out << "]}";
    }
    out << "],\n\"logs\":[";
    for (std::size_t i = 0; i < e.logs.size(); ++i)
        out << (i ? "," : "") << "\n{\"time\":\"" << e.logs[i].first
            << "\",\"begins\":" << sentova::mcap::jsonString(e.logs[i].second) << "}";
    out << "],\n\"minimumChunks\":" << e.minimumChunks << "}\n";
}

// Frames of a raster between stream start and stop, more than one chunk holds, with the
// commands around them, the device refusing one command, and laser data of another source
// that is neither points nor traffic.
int recording(const std::string& dir) {
    const std::string pcapPath = dir + "/recording.pcap";
    Expected expected;
    {
        sentova::pcap::Writer w(pcapPath);
        std::uint64_t time = 1700000000000000;
        const auto command = [&](const std::string& bytes, const std::string& reply,
                                 const std::string& begins, const std::string& replyBegins) {
            w.write(time, kHost, kCommandSocket, kDevice, 4365, bytes.data(), bytes.size());
            expected.logs.emplace_back(time * 1000, begins);
            time += 700;
            w.write(time, kDevice, 4365, kHost, kCommandSocket, reply.data(), reply.size());
            expected.logs.emplace_back(time * 1000, replyBegins);
            time += 700;
        };
        command(tavrel::CommandSerialiser::SVSFFS(5.0, 4.0), "EASFFS", "command SVSFFS",
                "reply EASFFS");
        command(tavrel::CommandSerialiser::SVRRBE({{0, 4366}}), "EARRBE", "command SVRRBE",
                "reply EARRBE");
        std::uint32_t stamp = 4294960000u; // the device's count wraps inside the first frame
        std::vector<tavrel::LaserRecord> records(30);
        for (unsigned frame = 0; frame < 48; ++frame) {
            for (unsigned line = 0; line < 6; ++line) {
                for (unsigned d = 0; d < 8; ++d) {
                    for (unsigned r = 0; r < records.size(); ++r) {
                        tavrel::LaserRecord& rec = records[r];
                        rec.timestamp = stamp;
                        rec.azimuth = -180.0 + 1.4 * (d * records.size() + r);
                        rec.elevation = -30.0 + 10.0 * line + 0.001 * frame;
                        rec.range = 1000 + 37 * static_cast<std::int32_t>(r + d + line);
                        rec.amplitude = static_cast<std::uint16_t>(100 * r + frame);
                        rec.reflectance = static_cast<std::int16_t>(-200 + 13 * r);
                        rec.pulseShapeDeviation = static_cast<std::int16_t>(r % 7);
                        stamp += 40;
                    }
                    time += 1200;
                    const std::string p = tavrel::encodeLaserPacket(records);
                    w.write(time, kDevice, 4365, kHost, 4366, p.data(), p.size());
                    if (frame == 1 && line == 0 && d < 2) {
                        const std::string q = tavrel::encodeLaserPacket(records, d == 0);
                        w.write(time, kOtherSource, 4365, kHost, 4366, q.data(), q.size());
                    }
                }
            }
        }
        time += 1000;
        command("SVXXXX", std::string("EEXXXX") + '\x07', "command SVXXXX", "reply EEXXXX 07");
        w.close();
    }
    std::map<std::uint64_t, Expected::Frame> frames;
    const sentova::pcap::CaptureRead read = sentova::pcap::readCaptureObservations(
        pcapPath, [&](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
                      const std::vector<tavrel::scan_frame_piece_t>& pieces) {
            for (const tavrel::scan_frame_piece_t& piece : pieces)
                for (std::size_t i = piece.begin; i < piece.begin + piece.count; ++i)
                    frames[piece.frame].points.push_back(
                        formats::toDataPoint(batch[i], LIDAR_GENERIC, false));
        });
    if (!read.ok || read.frames.size() < 3) {
        std::fprintf(stderr, "mcap_fixture: the recording reads back as %zu frames: %s\n",
                     read.frames.size(), read.error.c_str());
        return 1;
    }
    for (const tavrel::scan_frame_t& f : read.frames) {
        frames[f.index].timeNanos = f.lastArrivalMicros * 1000;
        expected.frames.push_back(std::move(frames[f.index]));
    }
    expected.minimumChunks = 2;
    writeExpected(dir + "/recording.json", expected);
    return 0;
}

int points(const std::string& file, const std::string& json) {
    const formats::ReadResult in = formats::read(file);
    struct stat st {};
    if (!in.ok || ::stat(file.c_str(), &st) != 0) {
        std::fprintf(stderr, "mcap_fixture: cannot read %s: %s\n", file.c_str(), in.error.c_str());
        return 1;
    }
    Expected expected;
    expected.frames.resize(1);
    expected.frames[0].timeNanos = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                                   static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
    expected.frames[0].points = in.points;
    writeExpected(json, expected);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "recording" && argc == 3)
        return recording(argv[2]);
    if (mode == "points" && argc == 4)
        return points(argv[2], argv[3]);
    std::fprintf(stderr, "usage: mcap_fixture recording DIR | points FILE JSON\n");
    return 2;
}
