#include "ReplyDecoding.h"

#include "Sentova/CommandTable.h"
#include "Sentova/Encoding.h"
#include "Sentova/Protocol.h"

#include <cctype>
#include <cmath>

namespace tavrel {

bool SameStem(const std::string& command, const std::string& code) {
    if (command.size() < protocol::kCodeLength || code.size() < protocol::kCodeLength)
        return false;
    return command.compare(protocol::kStemOffset, protocol::kStemLength, code,
                           protocol::kStemOffset, protocol::kStemLength) == 0;
}

bool HasClass(const std::string& code, const char* replyClass) {
    return code.size() >= 2 && code[0] == replyClass[0] && code[1] == replyClass[1];
}

tavrel_error_t DeviceErrorCode(const std::string& payload) {
    // An "EE" reply is a failure whatever it carries: without a code, or with 0,
    // it must not read as success.
    const unsigned char code = payload.empty() ? 0 : static_cast<unsigned char>(payload[0]);
    return code == 0 ? OtherError : static_cast<tavrel_error_t>(code);
}

bool DecodeAngleFields(const std::string& payload, double* out, std::size_t count) {
    if (payload.size() < 4 * count)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(payload.data());
    for (std::size_t i = 0; i < count; ++i)
        out[i] = UnpackAngle(p);
    return true;
}

bool DecodeReplyAngles(const std::string& command, const std::string& payload, double* out,
                       std::size_t count) {
    const CommandInfo* info = FindCommand(command);
    if (info == nullptr || count > info->reply.size())
        return false;
    for (std::size_t i = 0; i < count; ++i)
        if (info->reply[i].encoding != FieldEncoding::Angle)
            return false;
    return DecodeAngleFields(payload, out, count);
}

bool DecodeTriggerRecord(const std::string& payload, TriggerRecord& out) {
    if (payload.size() < protocol::kTriggerRecordSize)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(payload.data());
    out.index = EfficientUnpackInt32(p);
    out.tStamp = EfficientUnpackInt32(p);
    out.azimuth = UnpackAngle(p);
    out.elevation = UnpackAngle(p);
    out.exp = EfficientUnpackInt32(p);
    return true;
}

unsigned short TruncateLineCount(double lines) {
    if (!std::isfinite(lines))
        return 0;
    double wrapped = std::fmod(std::trunc(lines), 65536.0);
    if (wrapped < 0)
        wrapped += 65536.0;
    return static_cast<unsigned short>(wrapped);
}

unsigned short WholeLineCount(unsigned short lines) {
    return lines > kMaxScanLines ? kMaxScanLines : lines;
}

namespace {

int LeadingDecimal(const std::string& text) {
    int value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

int LibraryVersionNumber(const std::string& version) {
    std::string digits = version.substr(0, 3);
    const std::size_t dot = digits.find('.');
    if (dot != std::string::npos)
        digits.erase(dot, 1);
    return LeadingDecimal(digits);
}

int FirmwareVersionNumber(const std::string& serial) {
    const std::size_t dash = serial.find('-');
    const std::size_t start = dash == std::string::npos ? 0 : dash + 1;
    return LeadingDecimal(serial.substr(start, 2));
}

bool VersionsCompatible(int firmware, int library) {
    return firmware > 29 && library > 29;
}

} // namespace tavrel
