// The command table held against the bytes the serialiser builds, and against
// the Wireshark dissector's own table of the commands.
#include "Sentova/CommandTable.h"
#include "Sentova/CommandSerialiser.h"
#include "Sentova/Encoding.h"
#include "Sentova/StreamParameters.h"

#include "ByteString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace tavrel;
using testing_support::Bytes;

namespace {

// What one field of a built command should read back as: a number, or bytes.
struct Expected {
    Expected(double n) : number(n) {}
    Expected(const char* b) : bytes(b) {}
    Expected(std::string b) : bytes(std::move(b)) {}
    double number = 0.0;
    std::string bytes;
};

struct Built {
    std::string datagram;
    std::vector<Expected> fields; // in wire order
};

// Every command built with arguments that differ from each other, so that a
// field read at the wrong offset or with the wrong coding shows.
std::map<std::string, Built> everyCommand() {
    using S = CommandSerialiser;
    const std::string stored = S::SVRRBE({{1, 2}, {0, 4366}});
    const std::string flash = std::string(64, 'f');
    return {
        {"SVCQRE", {S::SVCQRE(), {}}},
        {"SVHOME", {S::SVHOME(), {}}},
        {"SVSTOP", {S::SVSTOP(), {}}},
        {"SVSEAC", {S::SVSEAC(-2.5), {-2.5}}},
        {"SVGEAA", {S::SVGEAA(), {}}},
        {"SVSEAA", {S::SVSEAA(45.5, -10, 2.25), {45.5, -10, 2.25}}},
        {"SVTRAA", {S::SVTRAA(-45.5, 10, 3.5), {-45.5, 10, 3.5}}},
        {"SVSFFS", {S::SVSFFS(15.25, 99), {15.25, 99}}},
        {"SVSBES", {S::SVSBES(1.5, -30, 60, 12), {1.5, -30, 60, 12}}},
        {"SVSRES", {S::SVSRES(1.5, -90, 90, 10, 45, 12), {-90, 90, 10, 45, 1.5, 12}}},
        {"SVRRBE", {S::SVRRBE({{1, 2}, {0, 4366}}), {stored.substr(6)}}},
        {"SVSRBE", {S::SVSRBE(), {}}},
        {"SVRNLS", {S::SVRNLS(0x0102, 0x0304, true, 0x0506), {0x0102, 0x0304, 1, 0.0, 0x0506}}},
        {"SVSTLS", {S::SVSTLS(), {}}},
        {"SVSRUN", {S::SVSRUN(), {}}},
        {"SVSSTP", {S::SVSSTP(), {}}},
        {"SVSSTG", {S::SVSSTG(10, -20, 30), {10, -20, 30}}},
        {"SVSGTG", {S::SVSGTG(), {}}},
        {"SVSGRL", {S::SVSGRL(), {}}},
        {"SVSSSP", {S::SVSSSP(7.5), {7.5}}},
        {"SVMONN", {S::SVMONN(), {}}},
        {"SVMOFF", {S::SVMOFF(), {}}},
        {"SVSLGA", {S::SVSLGA(300), {44}}},
        {"SVSGER", {S::SVSGER(), {}}},
        {"SVSTST", {S::SVSTST(), {}}},
        {"SVGUFP", {S::SVGUFP(9), {9}}},
        {"SVSUFP", {S::SVSUFP(3, flash), {3, flash}}},
        {"SVEUFP", {S::SVEUFP(4), {4}}},
        {"SVERST", {S::SVERST(), {}}},
        {"SVPPPP", {S::SVPPPP(), {}}},
        {"SVEENB", {S::SVEENB(128, 1, true), {1, 128, 1}}},
        {"SVEDIS", {S::SVEDIS(129, 2), {2, 129}}},
        {"SVESTS", {S::SVESTS(130, 3), {3, 130}}},
        {"SVESTM", {S::SVESTM(), {}}},
        {"SVERTM", {S::SVERTM(40000), {40000}}},
        {"SVEGTM", {S::SVEGTM(), {}}},
        {"SVECCF", {S::SVECCF(128, stored), {128, stored}}},
        {"SVIIOS", {S::SVIIOS(5), {5}}},
        {"SVIIOT", {S::SVIIOT(6), {6}}},
        {"SVIIOG", {S::SVIIOG(), {}}},
        {"SVIOSE", {S::SVIOSE(7, 8), {7, 8}}},
        {"SVIOGE", {S::SVIOGE(), {}}},
        {"SVGCAA", {S::SVGCAA(), {}}},
        {"SVGMTN", {S::SVGMTN(), {}}},
        {"SVSEAT", {S::SVSEAT(90, -45, 2.5, 7, 0x01020304), {90, -45, 2.5, 7, 0x01020304}}},
        {"SVTTRG", {S::SVTTRG(11, 0xFFFFFFF0u), {11, 0xFFFFFFF0u}}},
        {"SVSIPC", {S::SVSIPC("net=1", "10.0.0.2"), {"net=1", 0x0A000002}}},
    };
}

// Reads a numeric field at p by its encoding.
double readNumber(FieldEncoding encoding, const unsigned char* p) {
    switch (encoding) {
    case FieldEncoding::Angle:
        return UnpackAngle(p);
    case FieldEncoding::Speed: {
        std::string bytes(reinterpret_cast<const char*>(p), 4);
        auto it = bytes.begin();
        return UnpackSpeed(it);
    }
    case FieldEncoding::Acceleration:
    case FieldEncoding::Lines: {
        std::string bytes(reinterpret_cast<const char*>(p), 4);
        auto it = bytes.begin();
        return UnpackAcceleration(it);
    }
    case FieldEncoding::U8:
    case FieldEncoding::Zero:
        return EfficientUnpackInt8(p);
    case FieldEncoding::U16:
    case FieldEncoding::Hundredths:
        return static_cast<unsigned short>(EfficientUnpackInt16(p));
    case FieldEncoding::SignedHundredths:
        return EfficientUnpackInt16(p);
    case FieldEncoding::U32:
        return EfficientUnpackInt32(p);
    case FieldEncoding::Text:
    case FieldEncoding::Parameters:
        break;
    }
    ADD_FAILURE() << "not a numeric encoding";
    return 0;
}

} // namespace

TEST(CommandTable, HoldsEachOfTheFortySevenCommandsOnce) {
    std::set<std::string> codes;
    for (const CommandInfo& c : kCommands) {
        EXPECT_EQ(std::string(c.code).size(), 6u);
        EXPECT_EQ(std::string(c.code).substr(0, 2), "SV");
        EXPECT_TRUE(codes.insert(c.code).second) << c.code << " twice";
        EXPECT_EQ(FindCommand(c.code), &c);
        EXPECT_LE(std::count_if(c.arguments.begin(), c.arguments.end(),
                                [](const Field& f) { return IsVariable(f.encoding); }),
                  1)
            << c.code;
    }
    EXPECT_EQ(codes.size(), 47u);
    EXPECT_EQ(everyCommand().size(), 47u);
}

TEST(CommandTable, LookupTakesTheCodeAtTheFrontOfADatagram) {
    static_assert(FindCommand("SVHOME") != nullptr);
    static_assert(WaitsForMotion("SVSEAA\x01\x02"));
    EXPECT_STREQ(FindCommand(CommandSerialiser::SVSEAA(1, 2, 3))->code, "SVSEAA");
    EXPECT_EQ(FindCommand("SVHOM"), nullptr);
    EXPECT_EQ(FindCommand(""), nullptr);
    EXPECT_EQ(FindCommand("SVXXXX"), nullptr);
    EXPECT_EQ(FindCommand("EAHOME"), nullptr);
    EXPECT_EQ(FindCommand(std::string("SV\0OME", 6)), nullptr);
}

TEST(CommandTable, EveryCommandBuiltFitsItsLayoutAndReadsBackAtTheTablesOffsets) {
    const auto built = everyCommand();
    for (const CommandInfo& c : kCommands) {
        SCOPED_TRACE(c.code);
        const auto found = built.find(c.code);
        ASSERT_NE(found, built.end());
        const std::string& datagram = found->second.datagram;
        const std::vector<Expected>& expected = found->second.fields;
        ASSERT_EQ(datagram.substr(0, 6), c.code);
        EXPECT_TRUE(ArgumentBytesFit(c, datagram.size() - 6));
        if (!HasVariableField(c.arguments)) {
            EXPECT_EQ(datagram.size(), 6 + MinimumBytes(c.arguments));
        }
        ASSERT_EQ(expected.size(), c.arguments.size());
        const auto* bytes = reinterpret_cast<const unsigned char*>(datagram.data());
        for (std::size_t i = 0; i < c.arguments.size(); ++i) {
            const Field& field = c.arguments[i];
            SCOPED_TRACE(field.name);
            const std::size_t at = ArgumentOffset(c, i, datagram.size());
            const std::size_t next = i + 1 < c.arguments.size()
                                         ? ArgumentOffset(c, i + 1, datagram.size())
                                         : datagram.size();
            ASSERT_LE(at, next);
            if (IsVariable(field.encoding)) {
                EXPECT_EQ(datagram.substr(at, next - at), expected[i].bytes);
                EXPECT_GE(next - at, field.minimumSize);
            } else {
                ASSERT_EQ(next - at, EncodedSize(field.encoding));
                EXPECT_NEAR(readNumber(field.encoding, bytes + at), expected[i].number, 1e-6);
            }
        }
    }
}

TEST(CommandTable, ArgumentLengthsThatDoNotFit) {
    const CommandInfo& move = *FindCommand("SVSEAA");
    EXPECT_TRUE(ArgumentBytesFit(move, 12));
    EXPECT_FALSE(ArgumentBytesFit(move, 11));
    EXPECT_FALSE(ArgumentBytesFit(move, 13));
    EXPECT_TRUE(ArgumentBytesFit(*FindCommand("SVHOME"), 0));
    EXPECT_FALSE(ArgumentBytesFit(*FindCommand("SVHOME"), 1));

    const CommandInfo& start = *FindCommand("SVRRBE");
    EXPECT_TRUE(ArgumentBytesFit(start, 0));
    EXPECT_TRUE(ArgumentBytesFit(start, 10));
    EXPECT_FALSE(ArgumentBytesFit(start, 9)) << "a partial parameter";

    // Flash data is padded to a page; a stored command has at least a code.
    EXPECT_FALSE(ArgumentBytesFit(*FindCommand("SVSUFP"), 64));
    EXPECT_TRUE(ArgumentBytesFit(*FindCommand("SVSUFP"), 65));
    EXPECT_TRUE(ArgumentBytesFit(*FindCommand("SVSUFP"), 71));
    EXPECT_FALSE(ArgumentBytesFit(*FindCommand("SVECCF"), 6));
    EXPECT_TRUE(ArgumentBytesFit(*FindCommand("SVECCF"), 7));
    // The address after the settings text is always there.
    EXPECT_FALSE(ArgumentBytesFit(*FindCommand("SVSIPC"), 3));
    EXPECT_TRUE(ArgumentBytesFit(*FindCommand("SVSIPC"), 4));
    // After the text, the address is found from the end.
    EXPECT_EQ(ArgumentOffset(*FindCommand("SVSIPC"), 1, 6 + 9 + 4), 15u);
}

TEST(CommandTable, RepliesChannelsAndTimeOuts) {
    EXPECT_EQ(MinimumBytes(FindCommand("SVGEAA")->reply), 8u);
    EXPECT_EQ(MinimumBytes(FindCommand("SVSGTG")->reply), 12u);
    EXPECT_EQ(MinimumBytes(FindCommand("SVGCAA")->reply), 4u);
    EXPECT_EQ(FindCommand("SVGCAA")->reply[1].encoding, FieldEncoding::SignedHundredths);
    EXPECT_TRUE(HasVariableField(FindCommand("SVCQRE")->reply));
    EXPECT_TRUE(FindCommand("SVHOME")->reply.empty());

    std::set<std::string> motion;
    for (const CommandInfo& c : kCommands)
        if (WaitsForMotion(c.code))
            motion.insert(c.code);
    EXPECT_EQ(motion, (std::set<std::string>{"SVHOME", "SVSEAA", "SVSSSP"}));

    EXPECT_EQ(DefaultReplyTimeoutMs("SVHOME"), protocol::kMotionTimeoutMs);
    EXPECT_EQ(DefaultReplyTimeoutMs("SVEENB"), protocol::kEventManagerTimeoutMs);
    EXPECT_EQ(DefaultReplyTimeoutMs("SVRRBE"), protocol::kEventManagerTimeoutMs);
    EXPECT_EQ(DefaultReplyTimeoutMs("SVSEAT"), protocol::kResponseTimeoutMs);
    EXPECT_EQ(DefaultReplyTimeoutMs("SVSTOP"), protocol::kResponseTimeoutMs);
    EXPECT_EQ(DefaultReplyTimeoutMs("SVQQQQ"), protocol::kResponseTimeoutMs);
    EXPECT_EQ(FindCommand("SVTTRG")->channel, CommandChannel::Trigger);
    EXPECT_EQ(FindCommand("SVGCAA")->channel, CommandChannel::EventManager);
    EXPECT_EQ(FindCommand("SVGMTN")->channel, CommandChannel::Controller);
}

TEST(StreamParameters, ReadBackInWireOrder) {
    const auto parameters =
        ParseStreamParameters(CommandSerialiser::SVRRBE({{3, 30000}, {5, -1}, {0, 4366}}));
    ASSERT_TRUE(parameters);
    ASSERT_EQ(parameters->size(), 3u);
    EXPECT_EQ((*parameters)[0].id, 3);
    EXPECT_EQ((*parameters)[0].value, 30000);
    EXPECT_EQ((*parameters)[1].value, -1);
    EXPECT_EQ(ParameterValue(*parameters, 0), 4366);
    EXPECT_EQ(ParameterValue(*parameters, 1), std::nullopt);

    // A negative id and a repeated one: the last value counts.
    const auto repeated =
        ParseStreamParameters("SVRRBE" + Bytes({0xFF, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 3}));
    ASSERT_TRUE(repeated);
    EXPECT_EQ((*repeated)[0].id, -1);
    EXPECT_EQ(ParameterValue(*repeated, 0), 3);

    const auto none = ParseStreamParameters("SVRRBE");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_FALSE(ParseStreamParameters("SVRRBE" + Bytes({0, 0, 0, 0x11})));
    EXPECT_FALSE(ParseStreamParameters(CommandSerialiser::SVSRBE()));
    EXPECT_FALSE(ParseStreamParameters("SVRRB"));
    EXPECT_FALSE(ParseStreamParameters(""));
}

namespace {

struct DissectorCommand {
    std::string name;
    std::size_t fixedBytes = 0;
    bool variable = false;
};

// The dissector's `commands` table: code = {"name", argument, ...}, where
// A/U/S/D take 4 bytes, W 2 and B 1; {field, -1}, "parameters" and "stored"
// take the rest, "ipsettings" the rest with a 4-byte address at its end.
std::map<std::string, DissectorCommand> dissectorCommands(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::stringstream text;
    text << in.rdbuf();
    const std::string lua = text.str();
    const std::size_t start = lua.find("local commands = {");
    const std::size_t end = lua.find("\n}\n", start);
    EXPECT_NE(start, std::string::npos);
    EXPECT_NE(end, std::string::npos);
    const std::string block = lua.substr(start, end - start);

    std::map<std::string, DissectorCommand> commands;
    const std::regex entry(R"((SV[A-Z]{4})\s*=\s*\{\s*\"([^\"]*)\")");
    const std::regex argument(R"(\b([AUSDWB])\(|-1\}|\"(parameters|stored|ipsettings)\")");
    std::vector<std::smatch> entries(std::sregex_iterator(block.begin(), block.end(), entry),
                                     std::sregex_iterator());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto bodyStart = entries[i][0].second;
        const auto bodyEnd = i + 1 < entries.size() ? entries[i + 1][0].first : block.end();
        DissectorCommand c;
        c.name = entries[i][2];
        for (std::sregex_iterator a(bodyStart, bodyEnd, argument), none; a != none; ++a) {
            const std::string kind = (*a)[1];
            if (kind == "W")
                c.fixedBytes += 2;
            else if (kind == "B")
                c.fixedBytes += 1;
            else if (!kind.empty())
                c.fixedBytes += 4;
            else
                c.variable = true;
            if ((*a)[2] == "ipsettings")
                c.fixedBytes += 4;
        }
        commands[entries[i][1]] = c;
    }
    return commands;
}

} // namespace

TEST(CommandTable, AgreesWithTheWiresharkDissector) {
    const auto dissector = dissectorCommands(SENTOVA_DISSECTOR);
    EXPECT_EQ(dissector.size(), kCommands.size());
    for (const CommandInfo& c : kCommands) {
        SCOPED_TRACE(c.code);
        const auto found = dissector.find(c.code);
        ASSERT_NE(found, dissector.end()) << "the dissector does not know it";
        EXPECT_EQ(found->second.name, c.name);
        std::size_t fixed = 0;
        for (const Field& f : c.arguments)
            fixed += EncodedSize(f.encoding);
        EXPECT_EQ(found->second.fixedBytes, fixed);
        EXPECT_EQ(found->second.variable, HasVariableField(c.arguments));
    }
}
