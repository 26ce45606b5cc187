// A whole recording saved as one point file, frame by frame through the chunked writer, so that
// memory holds one frame whatever the recording's size. Runs on the file thread.
#pragma once

#include "Formats.h"
#include "Progress.h"

#include "Sentova/DeviceModel.h"

#include <string>

namespace sentova::pcap {
class RecordingIndex;
}

namespace window {

// Waits for the index to be complete first. Formats whose header needs the count or the bounds
// read the frames twice. Progress counts frames read.
formats::Outcome saveRecording(const sentova::pcap::RecordingIndex& index, const std::string& path,
                               formats::Format format, const formats::WriteOptions& options,
                               LIDAR_TYPE model, bool highSpeed, const formats::Progress& progress,
                               const formats::Cancel& cancel);

} // namespace window
