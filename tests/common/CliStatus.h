// For tests of the command-line tool's parts (linked with cli_core): the exit status that a
// call ends with, kSuccess when it returns.
#pragma once

#include "Failure.h"

namespace cli {

template <class F> ExitStatus statusOf(F&& f) {
    try {
        f();
    } catch (const Failure& failure) {
        return failure.status;
    }
    return kSuccess;
}

} // namespace cli
