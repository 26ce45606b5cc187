#include "Sentova/CommandSerialiser.h"
#include "Sentova/Encoding.h"

#include "ByteString.h"
#include <boost/system/system_error.hpp>

#include <gtest/gtest.h>

#include <cerrno>

using tavrel::CommandSerialiser;

using testing_support::Bytes;

TEST(Serialiser, ArgumentLessCommandsAreTheirCode) {
    const std::pair<std::string, std::string> cases[] = {
        {CommandSerialiser::SVCQRE(), "SVCQRE"}, {CommandSerialiser::SVHOME(), "SVHOME"},
        {CommandSerialiser::SVSTOP(), "SVSTOP"}, {CommandSerialiser::SVGEAA(), "SVGEAA"},
        {CommandSerialiser::SVSRBE(), "SVSRBE"}, {CommandSerialiser::SVSTLS(), "SVSTLS"},
        {CommandSerialiser::SVSRUN(), "SVSRUN"}, {CommandSerialiser::SVSSTP(), "SVSSTP"},
        {CommandSerialiser::SVSGTG(), "SVSGTG"}, {CommandSerialiser::SVSGRL(), "SVSGRL"},
        {CommandSerialiser::SVMONN(), "SVMONN"}, {CommandSerialiser::SVMOFF(), "SVMOFF"},
        {CommandSerialiser::SVSGER(), "SVSGER"}, {CommandSerialiser::SVSTST(), "SVSTST"},
        {CommandSerialiser::SVERST(), "SVERST"}, {CommandSerialiser::SVPPPP(), "SVPPPP"},
        {CommandSerialiser::SVESTM(), "SVESTM"}, {CommandSerialiser::SVEGTM(), "SVEGTM"},
        {CommandSerialiser::SVIIOG(), "SVIIOG"}, {CommandSerialiser::SVIOGE(), "SVIOGE"},
        {CommandSerialiser::SVGCAA(), "SVGCAA"}, {CommandSerialiser::SVGMTN(), "SVGMTN"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.first, c.second);
}

TEST(Serialiser, MotionAndScanLayouts) {
    EXPECT_EQ(CommandSerialiser::SVSEAC(1.0), "SVSEAC" + Bytes({0, 1, 0, 0}));
    EXPECT_EQ(CommandSerialiser::SVSEAA(90, -90, 0.5),
              "SVSEAA" + Bytes({0x40, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0x80, 0}));
    EXPECT_EQ(CommandSerialiser::SVTRAA(90, -90, 0.5).substr(6),
              CommandSerialiser::SVSEAA(90, -90, 0.5).substr(6));
    EXPECT_EQ(CommandSerialiser::SVSFFS(5, 7), "SVSFFS" + Bytes({0, 5, 0, 0, 0, 7, 0, 0}));
    EXPECT_EQ(CommandSerialiser::SVSBES(1, -90, 90, 10),
              "SVSBES" + Bytes({0, 1, 0, 0, 0xC0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0x0A, 0, 0}));
    // The speed comes first among the arguments but after the four angles on the wire.
    EXPECT_EQ(CommandSerialiser::SVSRES(1, -90, 90, 0, 45, 10),
              "SVSRES" + Bytes({0xC0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0,    0, 0,
                                0x20, 0, 0, 0, 0,    1, 0, 0, 0, 0x0A, 0, 0}));
    EXPECT_EQ(CommandSerialiser::SVSSSP(2), "SVSSSP" + Bytes({0, 2, 0, 0}));
    EXPECT_EQ(CommandSerialiser::SVSSTG(90, 180, -90),
              "SVSSTG" + Bytes({0x40, 0, 0, 0, 0x80, 0, 0, 0, 0xC0, 0, 0, 0}));
}

TEST(Serialiser, LaserStreamParameters) {
    EXPECT_EQ(CommandSerialiser::SVRRBE({}), "SVRRBE");
    EXPECT_EQ(CommandSerialiser::SVRRBE({{1, 5}, {0, 4366}}),
              "SVRRBE" + Bytes({1, 0, 0, 0, 5, 0, 0, 0, 0x11, 0x0E}));
    EXPECT_EQ(CommandSerialiser::SVRRBE({{3, 30000}, {5, -1}}),
              "SVRRBE" + Bytes({3, 0, 0, 0x75, 0x30, 5, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Serialiser, LaserAndFlashLayouts) {
    EXPECT_EQ(CommandSerialiser::SVRNLS(0x0102, 0x0304, true, 0x0506),
              "SVRNLS" + Bytes({1, 2, 3, 4, 1, 0, 5, 6}));
    EXPECT_EQ(CommandSerialiser::SVRNLS(0, 0, false, 0), "SVRNLS" + std::string(8, '\0'));
    // u8 arguments keep the low byte only.
    EXPECT_EQ(CommandSerialiser::SVSLGA(300), "SVSLGA" + Bytes({0x2C}));
    EXPECT_EQ(CommandSerialiser::SVGUFP(258), "SVGUFP" + Bytes({2}));
    EXPECT_EQ(CommandSerialiser::SVEUFP(7), "SVEUFP" + Bytes({7}));

    const std::string padded = CommandSerialiser::SVSUFP(3, "AB");
    EXPECT_EQ(padded, "SVSUFP" + Bytes({3}) + "AB" + std::string(62, '0'));
    EXPECT_EQ(padded.size(), 71u);
    EXPECT_EQ(CommandSerialiser::SVSUFP(1, std::string(64, 'x')).size(), 71u);
    const std::string longData(70, 'y');
    EXPECT_EQ(CommandSerialiser::SVSUFP(1, longData), "SVSUFP" + Bytes({1}) + longData);
    // Zero bytes in the data are preserved.
    const std::string zeros(3, '\0');
    EXPECT_EQ(CommandSerialiser::SVSUFP(0, zeros).substr(7, 4), zeros + "0");
}

TEST(Serialiser, EventCommandsSwapTheirFirstTwoArguments) {
    EXPECT_EQ(CommandSerialiser::SVEENB(1, 2, true), "SVEENB" + Bytes({2, 1, 1}));
    EXPECT_EQ(CommandSerialiser::SVEENB(128, 0, false), "SVEENB" + Bytes({0, 0x80, 0}));
    EXPECT_EQ(CommandSerialiser::SVEDIS(1, 2), "SVEDIS" + Bytes({2, 1}));
    EXPECT_EQ(CommandSerialiser::SVESTS(3, 4), "SVESTS" + Bytes({4, 3}));
    // Narrowing: 0x1FF keeps 0xFF for u8, 0x12345 keeps 0x2345 for u16.
    EXPECT_EQ(CommandSerialiser::SVEENB(0x1FF, 0, false), "SVEENB" + Bytes({0, 0xFF, 0}));
    EXPECT_EQ(CommandSerialiser::SVERTM(0x12345), "SVERTM" + Bytes({0x23, 0x45}));
    EXPECT_EQ(CommandSerialiser::SVERTM(40000), "SVERTM" + Bytes({0x9C, 0x40}));
}

TEST(Serialiser, BuffersIsolatedIoAndTriggers) {
    EXPECT_EQ(CommandSerialiser::SVECCF(129, "SVSRBE"), "SVECCF" + Bytes({0x81}) + "SVSRBE");
    const std::string stored = CommandSerialiser::SVRRBE({{0, 4366}});
    EXPECT_EQ(CommandSerialiser::SVECCF(128, stored), "SVECCF" + Bytes({0x80}) + stored);
    EXPECT_EQ(CommandSerialiser::SVIIOS(1), "SVIIOS" + Bytes({1}));
    EXPECT_EQ(CommandSerialiser::SVIIOT(256), "SVIIOT" + Bytes({0}));
    EXPECT_EQ(CommandSerialiser::SVIOSE(4, 5), "SVIOSE" + Bytes({4, 5}));
    EXPECT_EQ(CommandSerialiser::SVSEAT(90, 0, 1, 7, 0x01020304),
              "SVSEAT" + Bytes({0x40, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 7, 1, 2, 3, 4}));
    EXPECT_EQ(CommandSerialiser::SVSEAT(0, 0, 0, 0, 0).size(), 26u);
    EXPECT_EQ(CommandSerialiser::SVTTRG(1, 0xFFFFFFFF),
              "SVTTRG" + Bytes({0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Serialiser, SetIpSettingsParsesDottedIpv4) {
    EXPECT_EQ(CommandSerialiser::SVSIPC("", "10.0.0.2"), "SVSIPC" + Bytes({10, 0, 0, 2}));
    EXPECT_EQ(CommandSerialiser::SVSIPC(std::string("a\0b", 3), "192.168.1.254"),
              "SVSIPC" + std::string("a\0b", 3) + Bytes({192, 168, 1, 254}));
    for (const std::string& bad :
         {std::string("256.0.0.1"), std::string("sentova.local"), std::string(),
          std::string("1.2.3"), std::string("::1"), std::string("10.0.0.2\0junk", 13)}) {
        try {
            CommandSerialiser::SVSIPC("x", bad);
            ADD_FAILURE() << "no exception for " << bad;
        } catch (const boost::system::system_error& e) {
            EXPECT_TRUE(e.code()) << bad;
        }
    }
}
