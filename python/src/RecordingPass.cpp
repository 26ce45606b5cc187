#include "RecordingPass.h"

#include "SentovaPcap/Capture.h"
#include "SentovaPcap/Frames.h"

namespace sentova::python {

namespace {

// The capture module's messages begin with the file's name; the module's errors put it in front.
std::string withoutName(const std::string& message, const std::string& path) {
    const std::string prefix = path + ": ";
    return message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message;
}

} // namespace

PassResult readRecordingPass(const std::string& path, const PassSinks& sinks,
                             const std::function<bool()>& stop) {
    PassResult result;
    tavrel::scan_frame_options_t options;
    // A recording holds no drop counts: gaps in the device time stamps stand for them.
    options.timestampGaps = true;
    tavrel::ScanFrameSplitter splitter(options);
    std::vector<tavrel::scan_frame_piece_t> pieces;
    FrameIndex& index = result.index;
    bool stopped = false;

    const auto closed = [&] {
        for (const tavrel::scan_frame_t& f : splitter.TakeClosed()) {
            if (stopped) {
                return;
            }
            index.frames.push_back(f);
            // Filters only gain data ports: the one in use at the frame's end takes every
            // datagram the pass took for it.
            if (index.places.size() <= f.index) {
                index.places.resize(f.index + 1); // a frame without points has no place
            }
            FramePlace& place = index.places[f.index];
            place.frame.points = f.points;
            place.filter = index.filters.size() - 1;
            stopped = sinks.frame && !sinks.frame(f);
        }
    };
    sentova::pcap::LaserDatagramSinks reading;
    reading.filter = [&](const sentova::pcap::LaserFilter& filter) {
        index.filters.push_back(filter);
        if (index.filters.size() > 1) {
            return;
        }
        if (filter.deviceAddress != 0) {
            result.device = sentova::pcap::addressText(filter.deviceAddress);
        }
        stopped = sinks.source && !sinks.source(filter.deviceAddress);
    };
    reading.deliver = [&](const sentova::pcap::Datagram& d, std::uint64_t position) {
        if (stopped) {
            return;
        }
        const std::vector<tavrel::tavrel_rbe_obs_t> batch = tavrel::DecodeLaserDatagram(
            reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size());
        splitter.AddBatch(batch.data(), batch.size(), d.timeMicros, 0, &pieces);
        for (const tavrel::scan_frame_piece_t& piece : pieces) {
            if (piece.frame == index.places.size()) {
                FramePlace place;
                place.frame.offset = position;
                place.frame.skip = static_cast<std::uint32_t>(piece.begin);
                index.places.push_back(place);
            }
        }
        // The batch first: the end of a frame that the batch closes is in it.
        if (sinks.observations) {
            sinks.observations(batch, pieces);
        }
        closed();
    };
    reading.events = [&](unsigned event, std::uint64_t micros) {
        if (!stopped) {
            splitter.AddEvent(event, micros);
            closed();
        }
    };
    reading.cancel = [&] { return stopped || (stop && stop()); };

    sentova::pcap::LaserReadResult read;
    try {
        read = sentova::pcap::readLaserDatagrams(path, reading);
        if (!stopped && !read.cancelled) {
            splitter.Finish();
            closed();
        }
    } catch (const sentova::pcap::CaptureError& e) {
        result.error = withoutName(e.what(), path);
        return result;
    }
    result.problems = withoutName(read.problems, path);
    if (stopped || read.cancelled) {
        result.stopped = true;
        return result;
    }
    if (read.deviceAddress == 0) {
        result.error = "it holds no laser data";
        if (!result.problems.empty()) {
            result.error += " (" + result.problems + ")";
        }
        return result;
    }
    index.places.resize(index.frames.size());
    result.ok = true;
    return result;
}

std::vector<tavrel::tavrel_rbe_obs_t> readIndexedFrame(const std::string& path,
                                                       const FrameIndex& index, std::size_t k) {
    const FramePlace& place = index.places.at(k);
    return sentova::pcap::readRecordingFrame(path, index.filters.at(place.filter), place.frame);
}

} // namespace sentova::python
