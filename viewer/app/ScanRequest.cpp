#include "ScanRequest.h"

#include "WindowSupport.h"

#include "Sentova/Sentova.h"

using window::errorText;
using window::number;

QString startScan(tavrel::Sentova& device, const ScanRequest& s) {
    switch (s.pattern) {
    case ScanRequest::Pattern::FullField:
        return "StartFullFieldScan(" + number(s.speed) + ", " + number(s.lines) +
               "): " + errorText(device.StartFullFieldScan(s.speed, s.lines));
    case ScanRequest::Pattern::BoundedElevation:
        return "StartBoundedElevationScan(" + number(s.speed) + ", " + number(s.elMin) + ", " +
               number(s.elMax) + ", " + number(s.lines) + "): " +
               errorText(device.StartBoundedElevationScan(s.speed, s.elMin, s.elMax, s.lines));
    case ScanRequest::Pattern::Region:
        return "StartRegionScan(" + number(s.speed) + ", " + number(s.azMin) + ", " +
               number(s.azMax) + ", " + number(s.elMin) + ", " + number(s.elMax) + ", " +
               number(s.lines) + "): " +
               errorText(
                   device.StartRegionScan(s.speed, s.azMin, s.azMax, s.elMin, s.elMax, s.lines));
    case ScanRequest::Pattern::None:
        break;
    }
    return {};
}
