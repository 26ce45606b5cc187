#include "Report.h"

#include <cstdio>

namespace cli {

namespace {

std::string number(double v, const char* format) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

} // namespace

std::string jsonString(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string infoText(const DeviceInfo& i) {
    return "address    " + i.address + "\n" + "serial     " + i.serial + "\n" + "model      " +
           i.model + "\n" + "firmware   " + std::to_string(i.firmware) + "\n" + "library    " +
           i.library + (i.compatible ? " (compatible)" : " (not compatible)") + "\n" +
           "azimuth    " + number(i.azimuth, "%.4f") + "\n" + "elevation  " +
           number(i.elevation, "%.4f") + "\n" + "state      " + i.state + "\n";
}

std::string infoJson(const DeviceInfo& i) {
    return "{\"address\": " + jsonString(i.address) + ", \"serial\": " + jsonString(i.serial) +
           ", \"model\": " + jsonString(i.model) + ", \"firmware\": " + std::to_string(i.firmware) +
           ", \"library\": " + jsonString(i.library) +
           ", \"compatible\": " + (i.compatible ? "true" : "false") +
           ", \"azimuth\": " + number(i.azimuth, "%.6g") +
           ", \"elevation\": " + number(i.elevation, "%.6g") +
           ", \"state\": " + jsonString(i.state) + "}\n";
}

std::string progressLine(const CaptureProgress& p) {
    return std::to_string(p.points) + " points  " + number(p.rate, "%.0f") + " points/s  " +
           number(p.seconds, "%.1f") + " s  missing " + std::to_string(p.missing) + "  dropped " +
           std::to_string(p.kernelDrops) + "  refused " + std::to_string(p.refused) +
           (p.commandRefused != 0 ? "  commands refused " + std::to_string(p.commandRefused)
                                  : std::string());
}

} // namespace cli
