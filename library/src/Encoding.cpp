#include "Sentova/Encoding.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace tavrel {

namespace {

std::string BigEndian(std::uint32_t v, int bytes) {
    std::string out(static_cast<std::size_t>(bytes), '\0');
    for (int i = bytes - 1; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<char>(v & 0xFFu);
        v >>= 8;
    }
    return out;
}

// Truncates toward zero, saturating at the 32-bit limits; NaN gives 0.
std::int32_t SaturatingToInt32(double scaled) {
    if (std::isnan(scaled))
        return 0;
    if (scaled >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (scaled <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(scaled);
}

std::int64_t SaturatingToInt64(double scaled) {
    if (std::isnan(scaled))
        return 0;
    // 2^63 is exactly representable; anything at or above it saturates.
    if (scaled >= 9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::max();
    if (scaled <= -9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(scaled);
}

std::string PackFixed1616(double v) {
    return BigEndian(static_cast<std::uint32_t>(SaturatingToInt32(v * 65536.0)), 4);
}

template <typename It> std::uint32_t ReadWord(It& it, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = (v << 8) | static_cast<unsigned char>(*it);
        ++it;
    }
    return v;
}

std::uint32_t ConsumeWord(std::string& s, std::size_t bytes) {
    std::uint32_t v = 0;
    const std::size_t have = s.size() < bytes ? s.size() : bytes;
    for (std::size_t i = 0; i < bytes; ++i) {
        v <<= 8;
        if (i < have)
            v |= static_cast<unsigned char>(s[i]);
    }
    s.erase(0, have);
    return v;
}

} // namespace

std::string PackArg32(int v) {
    return BigEndian(static_cast<std::uint32_t>(v), 4);
}
std::string PackArg16(short v) {
    return BigEndian(static_cast<std::uint16_t>(v), 2);
}
std::string PackArg8(signed char v) {
    return std::string(1, static_cast<char>(v));
}

std::string PackAngle(double degrees) {
    // Multiply first, then divide, in double precision.
    const double scaled = degrees * 4294967296.0 / 360.0;
    const auto counts = static_cast<std::uint64_t>(SaturatingToInt64(scaled));
    return BigEndian(static_cast<std::uint32_t>(counts & 0xFFFFFFFFu), 4);
}

std::string PackSpeed(double v) {
    return PackFixed1616(v);
}
std::string PackAcceleration(double v) {
    return PackFixed1616(v);
}
std::string PackNLines(double v) {
    return PackFixed1616(v);
}

unsigned int UnpackInt32(std::string& s) {
    return ConsumeWord(s, 4);
}
int UnpackSignedInt32(std::string& s) {
    return static_cast<std::int32_t>(ConsumeWord(s, 4));
}
unsigned short UnpackInt16(std::string& s) {
    return static_cast<unsigned short>(ConsumeWord(s, 2));
}
short UnpackSignedInt16(std::string& s) {
    return static_cast<std::int16_t>(ConsumeWord(s, 2));
}
unsigned char UnpackInt8(std::string& s) {
    return static_cast<unsigned char>(ConsumeWord(s, 1));
}

double AngleFromWord(unsigned int word) {
    return static_cast<double>(static_cast<std::int32_t>(word)) * 2.3283064365386963e-10 * 360.0;
}
double SpeedFromWord(unsigned int word) {
    return static_cast<double>(word) * 1.52587890625e-05;
}
double AccelerationFromWord(unsigned int word) {
    return static_cast<double>(static_cast<std::int32_t>(word)) * 1.52587890625e-05;
}

unsigned int EfficientUnpackInt32(std::string::iterator& it) {
    return ReadWord(it, 4);
}
int EfficientUnpackSignedInt32(std::string::iterator& it) {
    return static_cast<std::int32_t>(ReadWord(it, 4));
}
short EfficientUnpackInt16(std::string::iterator& it) {
    return static_cast<std::int16_t>(ReadWord(it, 2));
}
unsigned char EfficientUnpackInt8(std::string::iterator& it) {
    return static_cast<unsigned char>(ReadWord(it, 1));
}
double UnpackAngle(std::string::iterator& it) {
    return AngleFromWord(ReadWord(it, 4));
}
double UnpackSpeed(std::string::iterator& it) {
    return SpeedFromWord(ReadWord(it, 4));
}
double UnpackAcceleration(std::string::iterator& it) {
    return AccelerationFromWord(ReadWord(it, 4));
}

unsigned int EfficientUnpackInt32(const unsigned char*& p) {
    return ReadWord(p, 4);
}
int EfficientUnpackSignedInt32(const unsigned char*& p) {
    return static_cast<std::int32_t>(ReadWord(p, 4));
}
short EfficientUnpackInt16(const unsigned char*& p) {
    return static_cast<std::int16_t>(ReadWord(p, 2));
}
unsigned char EfficientUnpackInt8(const unsigned char*& p) {
    return static_cast<unsigned char>(ReadWord(p, 1));
}
double UnpackAngle(const unsigned char*& p) {
    return AngleFromWord(ReadWord(p, 4));
}
double UnpackSpeed(const unsigned char*& p) {
    return SpeedFromWord(ReadWord(p, 4));
}
double UnpackAcceleration(const unsigned char*& p) {
    return AccelerationFromWord(ReadWord(p, 4));
}

} // namespace tavrel
