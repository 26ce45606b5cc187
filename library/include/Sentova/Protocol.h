// What the library and the device agree on: ports, reply classes, notification
// codes and time-outs.
#pragma once

#include <cstddef>

namespace tavrel {
namespace protocol {

// The device listens for commands on this UDP port.
constexpr unsigned short kCommandPort = 4365;
// Default local UDP port on which the viewer receives laser data.
constexpr unsigned short kDefaultDataPort = 4366;

// Every command and reply begins with a six-character code.
constexpr std::size_t kCodeLength = 6;
// Reply code = status class (2 characters) + the command's 4-letter stem
// (characters 2 to 5 of the command).
constexpr std::size_t kStemOffset = 2;
constexpr std::size_t kStemLength = 4;

constexpr const char* kClassDone = "EA";   // acknowledged
constexpr const char* kClassData = "ER";   // acknowledged with data
constexpr const char* kClassError = "EE";  // failed; payload byte 0 = error code
constexpr const char* kClassNotify = "EB"; // notification or data

// Event notifications on the event manager's channel; kinds 0 to 3 in this order.
constexpr const char* kNotificationCodes[4] = {"EBAACK", "EBACNG", "EBAANG", "EBADRT"};
// The device's events, by what fires them: a scan frame's start and its end, the event timer,
// the isolated input.
constexpr unsigned kFrameStartEvent = 0;
constexpr unsigned kFrameEndEvent = 1;
constexpr unsigned kTimerEvent = 2;
constexpr unsigned kIsolatedIOEvent = 3;
constexpr unsigned kEventCount = 4;

// High-performance trigger record on the controller's channel.
constexpr const char* kTriggerCode = "EBHPTG";
constexpr std::size_t kTriggerRecordSize = 20;

// Reply time-outs, milliseconds.
constexpr unsigned int kResponseTimeoutMs = 500;
constexpr unsigned int kMotionTimeoutMs = 2500;
constexpr unsigned int kEventManagerTimeoutMs = 5000;

// Laser stream parameter id 0 carries the data port.
constexpr signed char kParameterDataPort = 0;

} // namespace protocol
} // namespace tavrel
