// Pure helpers shared by the command channels: reply matching, error bytes,
// reply field decoding, trigger records and the version check's numbers.
#pragma once

#include "Sentova/SentovaError.h"

#include <cstddef>
#include <string>

namespace tavrel {

// True when characters 2 to 5 of a command and of a reply code agree; false if
// either is shorter than six characters.
bool SameStem(const std::string& command, const std::string& code);

// True when the reply code begins with the two-character status class.
bool HasClass(const std::string& code, const char* replyClass);

// The error byte of an "EE" payload, read unsigned (FF gives 255). A payload
// without a code, or with code 0, gives 255 ("Other Error"): a failure reply never
// reads as success.
tavrel_error_t DeviceErrorCode(const std::string& payload);

// Reads count angle fields from the front of payload into out. False, with out
// untouched, when the payload is shorter than the fields.
bool DecodeAngleFields(const std::string& payload, double* out, std::size_t count);

// Reads the first count fields of the command's "ER" layout, which must be
// angles, from the front of payload. False, with out untouched, when the
// command has no such fields or the payload is shorter than them.
bool DecodeReplyAngles(const std::string& command, const std::string& payload, double* out,
                       std::size_t count);

struct TriggerRecord {
    unsigned int index = 0;
    unsigned int tStamp = 0;
    double azimuth = 0.0;
    double elevation = 0.0;
    unsigned int exp = 0;
};

// Decodes the 20-byte trigger record at the front of payload; false when it is
// shorter. Bytes after the 20th are ignored.
bool DecodeTriggerRecord(const std::string& payload, TriggerRecord& out);

// A scan line count as the device takes it: truncated toward zero, modulo 65536;
// NaN and infinities give 0.
unsigned short TruncateLineCount(double lines);

// The largest line count that travels whole: 16.16 fixed point holds counts
// below 32768, and a larger one would saturate to the fraction 32767.99998.
constexpr unsigned short kMaxScanLines = 32767;

// A line count as it goes on the wire: at most kMaxScanLines.
unsigned short WholeLineCount(unsigned short lines);

// "3.5.548" gives 35: the major digit and the minor digit of the version text.
int LibraryVersionNumber(const std::string& version);

// The two characters after the serial number's first '-' (the first two when it
// has none), read as a decimal number from their leading digits; 0 if none.
int FirmwareVersionNumber(const std::string& serial);

bool VersionsCompatible(int firmware, int library);

} // namespace tavrel
