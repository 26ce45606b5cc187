#include "RecordingPass.h"

#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/Frames.h"

namespace sentova::python {

PassResult readRecordingPass(const std::string& path, const PassSinks& sinks,
                             const std::function<bool()>& stop) {
    PassResult result;
    FrameIndex& index = result.index;
    std::uint64_t position = 0;
    sentova::pcap::CapturePlaces places;
    places.datagram = [&](std::uint64_t at) { position = at; };
    places.filter = [&](const sentova::pcap::LaserFilter& filter) {
        index.filters.push_back(filter);
        if (index.filters.size() > 1) {
            return true;
        }
        if (filter.deviceAddress != 0) {
            result.device = sentova::pcap::addressText(filter.deviceAddress);
        }
        return !sinks.source || sinks.source(filter.deviceAddress);
    };
    const auto observations = [&](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
                                  const std::vector<tavrel::scan_frame_piece_t>& pieces) {
        for (const tavrel::scan_frame_piece_t& piece : pieces) {
            if (piece.frame == index.places.size()) {
                FramePlace place;
                place.frame.offset = position;
                place.frame.skip = static_cast<std::uint32_t>(piece.begin);
                index.places.push_back(place);
            }
        }
        if (sinks.observations) {
            sinks.observations(batch, pieces);
        }
    };
    const auto frame = [&](const tavrel::scan_frame_t& f) {
        // Filters only gain data ports: the one in use at the frame's end takes every datagram
        // the pass took for it.
        if (index.places.size() <= f.index) {
            index.places.resize(f.index + 1); // a frame without points has no place
        }
        FramePlace& place = index.places[f.index];
        place.frame.points = f.points;
        place.filter = index.filters.size() - 1;
        return !sinks.frame || sinks.frame(f);
    };
    sentova::pcap::CaptureRead read =
        sentova::pcap::readCaptureObservations(path, observations, frame, {}, stop, places);
    result.error = read.error;
    result.problems = read.problems;
    index.frames = std::move(read.frames);
    if (read.stopped || read.cancelled) {
        result.stopped = true;
        return result;
    }
    if (!read.ok) {
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
