// Reply building and argument reading shared by the device's command handlers.
#pragma once

#include "Sentova/Encoding.h"
#include "Sentova/Protocol.h"

#include <string>

namespace sentova {
namespace sim {
namespace wire {

// The four stem characters of a datagram; missing ones read as '?'.
inline std::string stemOf(const std::string& command) {
    std::string stem =
        command.size() > tavrel::protocol::kStemOffset
            ? command.substr(tavrel::protocol::kStemOffset, tavrel::protocol::kStemLength)
            : std::string();
    stem.resize(tavrel::protocol::kStemLength, '?');
    return stem;
}

inline std::string done(const std::string& command) {
    return "EA" + stemOf(command);
}
inline std::string data(const std::string& command, const std::string& payload) {
    return "ER" + stemOf(command) + payload;
}
inline std::string failure(const std::string& command, int code) {
    return "EE" + stemOf(command) + std::string(1, static_cast<char>(code));
}

// Reads argument fields in order; lengths are checked before any read.
class ArgReader {
public:
    explicit ArgReader(const std::string& args) : m_bytes(args), m_it(m_bytes.begin()) {}
    double angle() { return tavrel::UnpackAngle(m_it); }
    double speed() { return tavrel::UnpackSpeed(m_it); }
    double acceleration() { return tavrel::UnpackAcceleration(m_it); }
    unsigned u32() { return tavrel::EfficientUnpackInt32(m_it); }
    unsigned u16() { return static_cast<unsigned short>(tavrel::EfficientUnpackInt16(m_it)); }
    unsigned u8() { return tavrel::EfficientUnpackInt8(m_it); }

private:
    std::string m_bytes;
    std::string::iterator m_it;
};

inline std::string packU16(unsigned v) {
    return tavrel::PackArg16(static_cast<short>(v & 0xFFFF));
}
inline std::string packU8(unsigned v) {
    return tavrel::PackArg8(static_cast<signed char>(v & 0xFF));
}

} // namespace wire
} // namespace sim
} // namespace sentova
