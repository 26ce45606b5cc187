#include "CapturePoints.h"

#include "ObservationPoint.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/LaserCapture.h"

namespace viewer {

namespace {

std::string dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
           std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

// The capture module's messages begin with the file's name; the window puts its own in front.
std::string withoutName(const std::string& message, const std::string& path) {
    const std::string prefix = path + ": ";
    return message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message;
}

} // namespace

CapturePoints readCapturePoints(const std::string& path, LIDAR_TYPE mode, bool highSpeed,
                                const formats::Progress& progress, const formats::Cancel& cancel) {
    CapturePoints result;
    const auto deliver = [&](const sentova::pcap::Datagram& d) {
        const std::vector<tavrel::tavrel_rbe_obs_t> observations = tavrel::DecodeLaserDatagram(
            reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size());
        for (const tavrel::tavrel_rbe_obs_t& o : observations) {
            result.points.push_back(formats::toDataPoint(o, mode, highSpeed));
        }
    };
    const auto fraction = [&](double done) {
        if (progress) {
            progress(static_cast<std::uint64_t>(done * 1000.0), 1000);
        }
    };
    sentova::pcap::LaserReadResult read;
    try {
        read = sentova::pcap::readLaserDatagrams(path, deliver, fraction, cancel);
    } catch (const sentova::pcap::CaptureError& e) {
        result.error = withoutName(e.what(), path);
        return result;
    }
    result.problems = withoutName(read.problems, path);
    // The reader asks only every few thousand datagrams; a cancel it did not see still counts.
    if (read.cancelled || (cancel && cancel())) {
        result.cancelled = true;
        result.points.clear();
        return result;
    }
    if (read.deviceAddress == 0) {
        result.error = "it holds no laser data";
        if (!result.problems.empty()) {
            result.error += " (" + result.problems + ")";
        }
        return result;
    }
    result.device = dotted(read.deviceAddress);
    result.sources = read.sources.size();
    result.ok = true;
    return result;
}

} // namespace viewer
