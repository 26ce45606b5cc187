#include "RecordingSave.h"

#include "PointStream.h"

#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/RecordingIndex.h"

#include <chrono>
#include <memory>
#include <vector>

namespace window {

formats::Outcome saveRecording(const sentova::pcap::RecordingIndex& index, const std::string& path,
                               formats::Format format, const formats::WriteOptions& options,
                               LIDAR_TYPE model, bool highSpeed, const formats::Progress& progress,
                               const formats::Cancel& cancel) {
    formats::Outcome outcome;
    const auto stopped = [&] { return cancel && cancel(); };
    while (!index.waitForComplete(std::chrono::milliseconds(100))) {
        if (stopped()) {
            outcome.cancelled = true;
            return outcome;
        }
    }
    const std::size_t frames = index.frameCount();
    const bool twice = formats::needsCount(format) || formats::needsBounds(format);
    const std::uint64_t total = twice ? 2 * frames : frames;
    std::uint64_t done = 0;
    try {
        formats::Extent extent;
        for (std::size_t k = 0; twice && k < frames; ++k) {
            if (stopped()) {
                outcome.cancelled = true;
                return outcome;
            }
            for (const DataPoint& p : sentova::pcap::readFramePoints(index, k, model, highSpeed)) {
                extent.add(p);
            }
            if (progress) {
                progress(++done, total);
            }
        }
        std::string error;
        const std::unique_ptr<formats::PointWriter> writer =
            formats::createWriter(path, format, options, extent, error);
        if (!writer) {
            outcome.error = error;
            return outcome;
        }
        for (std::size_t k = 0; k < frames; ++k) {
            // A writer left unfinished leaves no file behind.
            if (stopped()) {
                outcome.cancelled = true;
                return outcome;
            }
            const std::vector<DataPoint> points =
                sentova::pcap::readFramePoints(index, k, model, highSpeed);
            if (!writer->write(points.data(), points.size())) {
                outcome.error = writer->error();
                return outcome;
            }
            if (progress) {
                progress(++done, total);
            }
        }
        return writer->finish();
    } catch (const sentova::pcap::CaptureError& e) {
        outcome.error = std::string("the recording could not be read: ") + e.what();
        return outcome;
    }
}

} // namespace window
