#include "Models.h"

#include "Failure.h"

namespace cli {

void checkOptionsFor(const LaserSettings& s, LIDAR_TYPE model) {
    if (!s.lx30Option.empty() && model != LIDAR_LX30) {
        usageError(s.lx30Option + " is an LX30 option, and the model is " +
                   tavrel::ModelLabel(model));
    }
    if (!s.lx20Option.empty() && model != LIDAR_LX20) {
        usageError(s.lx20Option + " is an LX20 option, and the model is " +
                   tavrel::ModelLabel(model));
    }
}

} // namespace cli
