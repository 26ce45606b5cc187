#include "Sentova/DeviceModel.h"

#include "ReplyDecoding.h"
#include "Sentova/Protocol.h"

namespace tavrel {

LIDAR_TYPE ModelFromSerial(const std::string& serial) {
    for (int i = 0; i < LIDAR_VARIANT_COUNT; ++i)
        if (serial.find(LIDAR_VARIANT[i]) != std::string::npos)
            return static_cast<LIDAR_TYPE>(i);
    return LIDAR_GENERIC;
}

int FirmwareFromSerial(const std::string& serial) {
    return FirmwareVersionNumber(serial);
}

const char* ModelName(LIDAR_TYPE model) {
    switch (model) {
    case LIDAR_LX30:
        return "lx30";
    case LIDAR_LX20:
        return "lx20";
    case LIDAR_GENERIC:
        break;
    }
    return "generic";
}

std::optional<LIDAR_TYPE> ModelFromName(const std::string& name) {
    for (LIDAR_TYPE model : {LIDAR_LX30, LIDAR_LX20, LIDAR_GENERIC})
        if (name == ModelName(model))
            return model;
    return std::nullopt;
}

const char* ModelLabel(LIDAR_TYPE model) {
    return model == LIDAR_LX30 || model == LIDAR_LX20 ? LIDAR_VARIANT[model] : "generic";
}

const std::vector<std::string>& LX30MeasurementNames() {
    static const std::vector<std::string> names = {"high-speed", "fast", "penetration"};
    return names;
}

const std::vector<std::string>& LX30TargetNames() {
    static const std::vector<std::string> names = {"all", "first", "last", "highest-amplitude",
                                                   "highest-reflectance"};
    return names;
}

std::vector<Parameter> LaserStreamParameters(const LaserSettings& s, unsigned short port) {
    const Parameter data{0, port};
    switch (s.model) {
    case LIDAR_LX30:
        return {{1, s.measurement}, {2, s.target}, data};
    case LIDAR_LX20:
        return {{3, s.highSpeed ? kLX20HighSpeedRate : s.sampleRate},
                {4, s.highSpeed ? 1 : s.average},
                {5, s.gain},
                data};
    case LIDAR_GENERIC:
        break;
    }
    return {data};
}

std::vector<FrameCaptureStep> FrameCaptureSequence(const std::vector<Parameter>& streamParameters) {
    using Kind = FrameCaptureStep::Kind;
    const auto store = [](unsigned buffer, std::string command) {
        return FrameCaptureStep{Kind::ConfigureCommandBuffer, buffer, std::move(command), 0,
                                "ConfigureCommandBuffer(" + std::to_string(buffer) + ")"};
    };
    const auto bind = [](unsigned buffer, unsigned event) {
        return FrameCaptureStep{Kind::EventEnable, buffer, std::string(), event,
                                "EventEnable(" + std::to_string(buffer) + ")"};
    };
    return {store(128, CommandSerialiser::SVRRBE(streamParameters)),
            store(129, CommandSerialiser::SVSRBE()),
            store(130, CommandSerialiser::SVSTOP()),
            bind(128, protocol::kFrameStartEvent),
            bind(129, protocol::kFrameEndEvent),
            bind(130, protocol::kFrameEndEvent)};
}

} // namespace tavrel
