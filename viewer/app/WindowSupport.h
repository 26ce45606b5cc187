// Small helpers shared by the window's source files.
#pragma once

#include "IntensityScale.h"

#include "Sentova/Sentova.h"

#include <QColor>
#include <QString>

namespace window {

// Display refresh period, and the delay of the first refresh after start-up.
constexpr int kRefreshPeriodMs = 100;
constexpr int kFirstRefreshMs = 33;

inline QString errorText(tavrel::tavrel_error_t result) {
    return QString::fromStdString(tavrel::Sentova::GetErrorString(result));
}

// A figure as the window log writes it.
inline QString number(double value) {
    return QString::number(value, 'g', 6);
}

inline viewer::HsvColour toHsv(const QColor& colour) {
    return {colour.hueF(), colour.saturationF(), colour.valueF()};
}

} // namespace window
