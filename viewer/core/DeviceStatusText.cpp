#include "DeviceStatusText.h"

#include "Sentova/DeviceModel.h"

#include <cstdio>

namespace viewer {

std::string ageText(std::int64_t ms) {
    char text[32];
    if (ms < 0) {
        ms = 0;
    }
    if (ms < 10000) {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    } else if (ms < 120000) {
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(ms / 1000));
    } else if (ms < 2 * 3600000LL) {
        std::snprintf(text, sizeof text, "%lld min", static_cast<long long>(ms / 60000));
    } else {
        std::snprintf(text, sizeof text, "%lld h", static_cast<long long>(ms / 3600000));
    }
    return text;
}

std::string answerText(DeviceActivity::Answer answer, std::optional<std::int64_t> lastReplyMs,
                       std::int64_t nowMs) {
    const std::string last =
        lastReplyMs ? "last reply " + ageText(nowMs - *lastReplyMs) + " ago" : "no reply yet";
    switch (answer) {
    case DeviceActivity::Answer::Answering:
        return "answering, " + last;
    case DeviceActivity::Answer::NotAnswering:
        return "not answering, " + last;
    case DeviceActivity::Answer::Unknown:
        break;
    }
    return "waiting for the first reply";
}

std::string laserText(DeviceActivity::Laser laser) {
    switch (laser) {
    case DeviceActivity::Laser::Started:
        return "started";
    case DeviceActivity::Laser::Armed:
        return "armed by Get Frame";
    case DeviceActivity::Laser::StreamingFrame:
        return "streaming a frame (Get Frame)";
    case DeviceActivity::Laser::Stopped:
        break;
    }
    return "stopped";
}

std::string describeSerial(const std::string& serial) {
    if (serial.empty()) {
        return "unknown";
    }
    const LIDAR_TYPE model = tavrel::ModelFromSerial(serial);
    std::string text = model == LIDAR_GENERIC ? "generic model" : LIDAR_VARIANT[model];
    // No firmware has the number 0: a serial without digits where they belong names none.
    const int firmware = tavrel::FirmwareFromSerial(serial);
    text += firmware > 0 ? ", firmware " + std::to_string(firmware) : ", firmware unknown";
    return text;
}

} // namespace viewer
