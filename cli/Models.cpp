#include "Models.h"

#include "Failure.h"

#include <cstdlib>

namespace cli {

std::optional<LIDAR_TYPE> modelFromName(const std::string& name) {
    if (name == "lx30") {
        return LIDAR_LX30;
    }
    if (name == "lx20") {
        return LIDAR_LX20;
    }
    if (name == "generic") {
        return LIDAR_GENERIC;
    }
    return std::nullopt;
}

const char* modelName(LIDAR_TYPE model) {
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

const char* modelLabel(LIDAR_TYPE model) {
    return model == LIDAR_GENERIC ? "generic" : LIDAR_VARIANT[model];
}

const std::vector<std::string>& measurementNames() {
    static const std::vector<std::string> names = {"high-speed", "fast", "penetration"};
    return names;
}

const std::vector<std::string>& targetNames() {
    static const std::vector<std::string> names = {"all", "first", "last", "highest-amplitude",
                                                   "highest-reflectance"};
    return names;
}

std::vector<tavrel::Parameter> laserParameters(const LaserSettings& s, int port) {
    switch (s.model) {
    case LIDAR_LX30:
        return {{1, s.measurement}, {2, s.target}, {0, port}};
    case LIDAR_LX20:
        return {{3, s.highSpeed ? 30000 : s.sampleRate},
                {4, s.highSpeed ? 1 : s.average},
                {5, s.gain},
                {0, port}};
    case LIDAR_GENERIC:
        break;
    }
    return {{0, port}};
}

void checkOptionsFor(const LaserSettings& s, LIDAR_TYPE model) {
    if (!s.lx30Option.empty() && model != LIDAR_LX30) {
        usageError(s.lx30Option + " is an LX30 option, and the model is " + modelLabel(model));
    }
    if (!s.lx20Option.empty() && model != LIDAR_LX20) {
        usageError(s.lx20Option + " is an LX20 option, and the model is " + modelLabel(model));
    }
}

int firmwareFromSerial(const std::string& serial) {
    const std::size_t dash = serial.find('-');
    const std::string digits =
        dash == std::string::npos ? serial.substr(0, 2) : serial.substr(dash + 1, 2);
    return std::atoi(digits.c_str());
}

} // namespace cli
