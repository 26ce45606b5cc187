#include "SentovaPcap/CapturePoints.h"

#include "ObservationPoint.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/LaserCapture.h"

namespace sentova {
namespace pcap {

namespace {

// The capture module's messages begin with the file's name; the callers put their own in front.
std::string withoutName(const std::string& message, const std::string& path) {
    const std::string prefix = path + ": ";
    return message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message;
}

// Stops the reading from inside the datagram callback.
struct Stopped {};

} // namespace

CaptureRead readCaptureObservations(const std::string& path, const ObservationSink& observations,
                                    const FrameSink& frames, const formats::Progress& progress,
                                    const formats::Cancel& cancel, const CapturePlaces& places) {
    CaptureRead result;
    tavrel::scan_frame_options_t options;
    // A recording holds no drop counts: gaps in the device time stamps stand for them.
    options.timestampGaps = true;
    tavrel::ScanFrameSplitter splitter(options);
    std::vector<tavrel::scan_frame_piece_t> pieces;
    const auto closed = [&] {
        for (const tavrel::scan_frame_t& f : splitter.TakeClosed()) {
            result.frames.push_back(f);
            if (frames && !frames(f))
                throw Stopped{};
        }
    };
    LaserDatagramSinks reading;
    reading.deliver = [&](const Datagram& d, std::uint64_t position) {
        if (places.datagram)
            places.datagram(position);
        const std::vector<tavrel::tavrel_rbe_obs_t> batch = tavrel::DecodeLaserDatagram(
            reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size());
        splitter.AddBatch(batch.data(), batch.size(), d.timeMicros, 0, &pieces);
        result.points += batch.size();
        // The batch first: the end of a frame that the batch closes is in it.
        observations(batch, pieces);
        closed();
    };
    reading.filter = [&](const LaserFilter& filter) {
        if (places.filter && !places.filter(filter))
            throw Stopped{};
    };
    reading.events = [&](unsigned event, std::uint64_t micros) {
        splitter.AddEvent(event, micros);
        closed();
    };
    reading.progress = [&](double done) {
        if (progress)
            progress(static_cast<std::uint64_t>(done * 1000.0), 1000);
    };
    reading.cancel = cancel;
    LaserReadResult read;
    try {
        read = readLaserDatagrams(path, reading);
        // A cancelled read closes no frame: its end was not read.
        if (!read.cancelled) {
            splitter.Finish();
            closed();
        }
    } catch (const CaptureError& e) {
        result.error = withoutName(e.what(), path);
        return result;
    } catch (const Stopped&) {
        result.ok = true;
        result.stopped = true;
        return result;
    }
    result.problems = withoutName(read.problems, path);
    // The reader asks only every thousand datagrams; a cancel it did not see still counts.
    if (read.cancelled || (cancel && cancel())) {
        result.cancelled = true;
        return result;
    }
    if (read.deviceAddress == 0) {
        result.error = "it holds no laser data";
        if (!result.problems.empty())
            result.error += " (" + result.problems + ")";
        return result;
    }
    result.device = addressText(read.deviceAddress);
    result.sources = read.sources.size();
    result.ok = true;
    return result;
}

CapturePoints readCapturePoints(const std::string& path, LIDAR_TYPE mode, bool highSpeed,
                                const formats::Progress& progress, const formats::Cancel& cancel) {
    CapturePoints result;
    std::deque<DataPoint> points;
    static_cast<CaptureRead&>(result) = readCaptureObservations(
        path,
        [&](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
            const std::vector<tavrel::scan_frame_piece_t>&) {
            for (const tavrel::tavrel_rbe_obs_t& o : batch)
                points.push_back(formats::toDataPoint(o, mode, highSpeed));
        },
        {}, progress, cancel);
    if (result.ok)
        result.points = std::move(points);
    return result;
}

std::vector<DataPoint> readFramePoints(const RecordingIndex& index, std::size_t frame,
                                       LIDAR_TYPE mode, bool highSpeed) {
    const std::vector<tavrel::tavrel_rbe_obs_t> observations = index.readFrame(frame);
    std::vector<DataPoint> points;
    points.reserve(observations.size());
    for (const tavrel::tavrel_rbe_obs_t& o : observations)
        points.push_back(formats::toDataPoint(o, mode, highSpeed));
    return points;
}

} // namespace pcap
} // namespace sentova
