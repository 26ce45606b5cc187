#include "ReplyDecoding.h"

#include "FakeDevice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tavrel;
using testing_support::Bytes;

TEST(ReplyDecoding, StemComparesCharactersTwoToFive) {
    EXPECT_TRUE(SameStem("SVHOME", "EAHOME"));
    EXPECT_TRUE(SameStem("SVGEAA\x01\x02", "ERGEAA"));
    EXPECT_FALSE(SameStem("SVHOME", "EAHOMF"));
    EXPECT_FALSE(SameStem("SVHOM", "EAHOME"));
    EXPECT_FALSE(SameStem("SVHOME", "EAHOM"));
}

TEST(ReplyDecoding, ErrorByteIsUnsigned) {
    EXPECT_EQ(DeviceErrorCode(""), NoError);
    EXPECT_EQ(DeviceErrorCode(Bytes({0x04})), NotHomed);
    EXPECT_EQ(DeviceErrorCode(Bytes({0xFF, 0x01})), OtherError);
    EXPECT_EQ(DeviceErrorCode(Bytes({0x80})), static_cast<tavrel_error_t>(128));
}

TEST(ReplyDecoding, AngleFieldsNeverReadPastThePayload) {
    double out[2] = {1.5, 2.5};
    EXPECT_FALSE(DecodeAngleFields(Bytes({0x40, 0, 0, 0, 0xC0, 0, 0}), out, 2));
    EXPECT_EQ(out[0], 1.5);
    EXPECT_EQ(out[1], 2.5);
    ASSERT_TRUE(DecodeAngleFields(Bytes({0x40, 0, 0, 0, 0xC0, 0, 0, 0, 0xAA}), out, 2));
    EXPECT_DOUBLE_EQ(out[0], 90.0);
    EXPECT_DOUBLE_EQ(out[1], -90.0);
}

TEST(ReplyDecoding, TriggerRecordNeedsTwentyBytes) {
    const std::string record =
        Bytes({0, 0, 0, 7, 0, 1, 0x86, 0xA0, 0x40, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 2});
    TriggerRecord r;
    ASSERT_TRUE(DecodeTriggerRecord(record + "extra", r));
    EXPECT_EQ(r.index, 7u);
    EXPECT_EQ(r.tStamp, 100000u);
    EXPECT_DOUBLE_EQ(r.azimuth, 90.0);
    EXPECT_DOUBLE_EQ(r.elevation, -90.0);
    EXPECT_EQ(r.exp, 2u);
    TriggerRecord untouched;
    untouched.index = 42;
    EXPECT_FALSE(DecodeTriggerRecord(record.substr(0, 19), untouched));
    EXPECT_EQ(untouched.index, 42u);
}

TEST(ReplyDecoding, LineCountTruncatesModulo65536) {
    EXPECT_EQ(TruncateLineCount(7.9), 7);
    EXPECT_EQ(TruncateLineCount(-0.5), 0);
    EXPECT_EQ(TruncateLineCount(-1.0), 65535);
    EXPECT_EQ(TruncateLineCount(-1.7), 65535);
    EXPECT_EQ(TruncateLineCount(65536.0), 0);
    EXPECT_EQ(TruncateLineCount(65537.2), 1);
    EXPECT_EQ(TruncateLineCount(1e300), 0);
    EXPECT_EQ(TruncateLineCount(std::nan("")), 0);
    EXPECT_EQ(TruncateLineCount(std::numeric_limits<double>::infinity()), 0);
}

TEST(ReplyDecoding, VersionNumbers) {
    EXPECT_EQ(LibraryVersionNumber("3.5.548"), 35);
    EXPECT_EQ(FirmwareVersionNumber("LX30-31-0042"), 31);
    EXPECT_EQ(FirmwareVersionNumber("LX30-3x"), 3);
    EXPECT_EQ(FirmwareVersionNumber("LX30-"), 0);
    EXPECT_EQ(FirmwareVersionNumber("42abc"), 42);
    EXPECT_EQ(FirmwareVersionNumber(""), 0);
    EXPECT_TRUE(VersionsCompatible(30, 35));
    EXPECT_FALSE(VersionsCompatible(29, 35));
    EXPECT_FALSE(VersionsCompatible(31, 29));
}
