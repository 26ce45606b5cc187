#include "Sentova/SentovaError.h"

#include <iomanip>
#include <sstream>

namespace tavrel {

const char* ErrorText(tavrel_error_t error) {
    switch (static_cast<unsigned int>(error) & 0xFFu) {
    case NoError:
        return "No Error.";
    case InvalidArgumentLength:
        return "Invalid Argument Length";
    case ArgumentOutOfRange:
        return "Argument Out Of Range";
    case NotReady:
        return "Not Ready";
    case NotHomed:
        return "Not Homed";
    case InvalidArgument:
        return "Invalid Argument";
    case UnknownCommand:
        return "Unknown Command";
    case InvalidCommand:
        return "Invalid Command";
    case ScanTooSparse:
        return "Scan Too Sparse";
    case BusyOtherClient:
        return "Busy handling another client";
    case BadFlashPage:
        return "Indexed a bad flash page";
    case BadFlashKey:
        return "Bad key for the flash page";
    case BusyStabilising:
        return "Busy running stabilisation";
    case LibraryIncompatible:
        return "SVLibrary incompatible with the Firmware version ";
    case InvalidCallback:
        return "Invalid Callback";
    case DriverBusy:
        return "Sentova driver busy";
    case Timeout:
        return "Timeout when attempting to communicate with sentova.";
    case OtherError:
        return "Other Error";
    default:
        return "Unknown Error Code";
    }
}

std::string FormatErrorString(tavrel_error_t error) {
    std::ostringstream out;
    out << "Error 0x" << std::hex << std::nouppercase << std::setfill('0') << std::setw(2)
        << static_cast<unsigned int>(error) << ": " << ErrorText(error);
    return out.str();
}

} // namespace tavrel
