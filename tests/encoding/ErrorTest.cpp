#include "Sentova/SentovaError.h"

#include <gtest/gtest.h>

using namespace tavrel;

TEST(ErrorString, FormatsCodeAndText) {
    EXPECT_EQ(FormatErrorString(NoError), "Error 0x00: No Error.");
    EXPECT_EQ(FormatErrorString(BusyOtherClient), "Error 0x09: Busy handling another client");
    EXPECT_EQ(FormatErrorString(Timeout),
              "Error 0xfe: Timeout when attempting to communicate with sentova.");
    EXPECT_EQ(FormatErrorString(static_cast<tavrel_error_t>(13)), "Error 0x0d: Unknown Error Code");
    EXPECT_EQ(FormatErrorString(OtherError), "Error 0xff: Other Error");
    EXPECT_EQ(FormatErrorString(LibraryIncompatible),
              "Error 0xfb: SVLibrary incompatible with the Firmware version ");
    // The text is chosen by the low 8 bits; the number shows the whole value.
    EXPECT_EQ(FormatErrorString(static_cast<tavrel_error_t>(0x104)), "Error 0x104: Not Homed");
}
