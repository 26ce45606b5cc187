// The device's state as the window's status rows word it. Pure.
#pragma once

#include "DeviceActivity.h"

#include <cstdint>
#include <optional>
#include <string>

namespace viewer {

using sentova::session::DeviceActivity;

// "answering, last reply 0.4 s ago", "not answering, last reply 12 s ago", "not answering, no
// reply yet", "waiting for the first reply".
std::string answerText(DeviceActivity::Answer answer, std::optional<std::int64_t> lastReplyMs,
                       std::int64_t nowMs);

// "stopped", "started", "armed by Get Frame", "streaming a frame (Get Frame)".
std::string laserText(DeviceActivity::Laser laser);

// The model and firmware the serial number names, as the library's version check reads the
// firmware (the two characters after the first '-'): "LX30, firmware 31"; "unknown" for an empty
// serial.
std::string describeSerial(const std::string& serial);

// A duration for the status: "0.4 s", "12 s", "3 min", "2 h".
std::string ageText(std::int64_t ms);

} // namespace viewer
