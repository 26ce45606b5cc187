#include "DataPoint.h"

namespace formats {

LIDAR_TYPE modelFromSerial(const std::string& serial) {
    for (int i = 0; i < LIDAR_VARIANT_COUNT; ++i) {
        if (serial.find(LIDAR_VARIANT[i]) != std::string::npos) {
            return static_cast<LIDAR_TYPE>(i);
        }
    }
    return LIDAR_GENERIC;
}

} // namespace formats
