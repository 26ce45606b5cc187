#pragma once

// What the tool prints: the device summary of `info` as text or JSON, and the capture's
// progress line. Pure.

#include <cstdint>
#include <string>

namespace cli {

struct DeviceInfo {
    std::string address;
    std::string serial;
    std::string model; // "LX30", "LX20" or "generic"
    int firmware = 0;
    std::string library; // the library's version text
    bool compatible = false;
    double azimuth = 0.0;
    double elevation = 0.0;
    std::string state; // the device's motion state text
};

std::string infoText(const DeviceInfo& info);
std::string infoJson(const DeviceInfo& info);

// A JSON string literal of bytes: quotes, backslashes and control characters escaped, bytes
// above 0x7f taken as Latin-1 so that the result is valid UTF-8.
std::string jsonString(const std::string& bytes);

struct CaptureProgress {
    std::uint64_t points = 0;
    double seconds = 0.0;
    double rate = 0.0;         // points per second over the last interval
    std::uint64_t missing = 0; // points missing from the stream (gaps in its timestamps)
    std::uint64_t kernelDrops = 0;
    std::uint64_t refused = 0; // datagrams refused (other sender, bad header)
    // Datagrams from other hosts refused on the command channels.
    std::uint64_t commandRefused = 0;
};

// "12345 points  4321 points/s  3.2 s  missing 0  dropped 0  refused 0", and
// "  commands refused 2" after it when the command channels refused any.
std::string progressLine(const CaptureProgress& p);

} // namespace cli
