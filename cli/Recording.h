#pragma once

// Recordings of the device's traffic (.pcap, .pcapng) read as data: their laser points, all or
// one scan frame, and the list of their frames (`sentova frames`).

#include "Output.h"
#include "Progress.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace cli {

// Whether the path names a capture file by its extension.
bool isRecording(const std::string& path);

// The laser points of the recording, or of its frame (0-based). Damage in the file ends the
// reading with a one-line warning naming the file on standard error; no laser data, or no such
// frame, is a Failure(1). progress: the share of the file read.
std::deque<DataPoint> readRecordingPoints(const std::string& path,
                                          std::optional<std::uint64_t> frame,
                                          const formats::Progress& progress = {});

// `sentova frames`: prints the recording's frames, as a table or as JSON.
int runFrames(const std::string& path, bool json);

} // namespace cli
