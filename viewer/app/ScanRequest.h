// A scan as the scan panel asks for it: the pattern of the checked radio button and the values of
// the spin boxes, read when the operator presses, then started on the command worker.
#pragma once

#include <QString>

namespace tavrel {
class Sentova;
}

struct ScanRequest {
    enum class Pattern { None, FullField, BoundedElevation, Region };
    Pattern pattern = Pattern::None;
    double speed = 0.0;
    double lines = 0.0;
    double azMin = 0.0;
    double azMax = 0.0;
    double elMin = 0.0;
    double elMax = 0.0;
};

// Starts the scan through the facade (blocking, any thread but the GUI's) and returns its log
// line: the operation, its arguments and the result's text. Empty, with nothing sent, for None.
QString startScan(tavrel::Sentova& device, const ScanRequest& scan);
