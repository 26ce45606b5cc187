// Result codes of every device and event-manager operation.
#pragma once

#include <string>

namespace tavrel {

// 1..12 and 255 are reported by the device in "EE" replies (one unsigned byte);
// 6 and 251..254 are also produced by the library itself.
enum tavrel_error_t : int {
    NoError = 0,
    InvalidArgumentLength = 1,
    ArgumentOutOfRange = 2,
    NotReady = 3,
    NotHomed = 4,
    InvalidArgument = 5,
    UnknownCommand = 6,
    InvalidCommand = 7,
    ScanTooSparse = 8,
    BusyOtherClient = 9,
    BadFlashPage = 10,
    BadFlashKey = 11,
    BusyStabilising = 12,
    LibraryIncompatible = 251,
    InvalidCallback = 252,
    DriverBusy = 253,
    Timeout = 254,
    OtherError = 255,
};

// The bare text of a code, chosen by its low 8 bits ("Unknown Error Code" for
// values without one).
const char* ErrorText(tavrel_error_t error);

// "Error 0x" + the value in lower-case hex (at least two digits) + ": " + text,
// e.g. "Error 0x09: Busy handling another client".
std::string FormatErrorString(tavrel_error_t error);

} // namespace tavrel
