#include "CommandLine.h"
#include "DataPort.h"
#include "IntensityDialog.h"

#include <gtest/gtest.h>

using namespace viewer;

TEST(CommandLine, AnAddressRuns) {
    const CommandLine run = parseCommandLine({"192.168.0.10"});
    EXPECT_EQ(run.action, CommandLine::Action::Run);
    EXPECT_EQ(run.address, "192.168.0.10");

    // Qt's own options pass, with their values.
    const CommandLine qt = parseCommandLine({"-platform", "offscreen", "10.0.0.2", "--reverse"});
    EXPECT_EQ(qt.action, CommandLine::Action::Run);
    EXPECT_EQ(qt.address, "10.0.0.2");
}

TEST(CommandLine, AskAddressRunsWithoutOneAndAnAddressGivenWins) {
    const CommandLine ask = parseCommandLine({"--ask-address"});
    EXPECT_EQ(ask.action, CommandLine::Action::Run);
    EXPECT_TRUE(ask.askAddress);
    EXPECT_EQ(ask.address, "");

    const CommandLine given = parseCommandLine({"10.0.0.2", "--ask-address"});
    EXPECT_EQ(given.action, CommandLine::Action::Run);
    EXPECT_EQ(given.address, "10.0.0.2");

    // Asking does not excuse a malformed address given beside it.
    const CommandLine wrong = parseCommandLine({"--ask-address", "10.0.0"});
    EXPECT_EQ(wrong.action, CommandLine::Action::Error);
    EXPECT_FALSE(parseCommandLine({"10.0.0.2"}).askAddress);
}

TEST(CommandLine, HelpAndVersionWinWhereverTheyStand) {
    EXPECT_EQ(parseCommandLine({"--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(parseCommandLine({"10.0.0.2", "-h"}).action, CommandLine::Action::Help);
    EXPECT_EQ(parseCommandLine({"--version"}).action, CommandLine::Action::Version);
    EXPECT_NE(usageText("sentova-viewer").find("Usage: sentova-viewer <device IPv4 address>"),
              std::string::npos);
}

TEST(CommandLine, MistakesSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> arguments;
        const char* says;
    };
    for (const Case& c : std::vector<Case>{
             {{}, "no device address"},
             {{"not-an-ip"}, "'not-an-ip' is not an IPv4 address"},
             {{"300.1.2.3"}, "'300.1.2.3' is not an IPv4 address"},
             {{"10.0.0.2", "10.0.0.3"}, "unexpected argument '10.0.0.3'"},
             {{"--colour", "10.0.0.2"}, "unknown option '--colour'"},
             {{"10.0.0.2", "-platform"}, "-platform needs a value"},
         }) {
        const CommandLine result = parseCommandLine(c.arguments);
        EXPECT_EQ(result.action, CommandLine::Action::Error) << c.says;
        EXPECT_NE(result.error.find(c.says), std::string::npos) << result.error;
    }
}

TEST(DataPort, StoredPortsOutsideTheRangeAreRefused) {
    EXPECT_EQ(parseDataPort("4366"), 4366u);
    EXPECT_EQ(parseDataPort(" 1024 "), 1024u);
    EXPECT_EQ(parseDataPort("65535"), 65535u);
    for (const char* bad :
         {"70000", "1023", "80", "0", "-1", "", "43 66", "4366x", "4.5", "99999999999999999999"}) {
        EXPECT_FALSE(parseDataPort(bad).has_value()) << bad;
    }
}

TEST(DataPort, TheWalkGoesOnPastATakenPortAndWraps) {
    EXPECT_EQ(portsToTry(4366, 3), (std::vector<std::uint32_t>{4366, 4367, 4368}));
    EXPECT_EQ(portsToTry(65534, 4), (std::vector<std::uint32_t>{65534, 65535, 1024, 1025}));
    EXPECT_EQ(portsToTry(80, 1), (std::vector<std::uint32_t>{4366}));
    EXPECT_EQ(nextDataPort(5000), 5001u);
    EXPECT_EQ(nextDataPort(5001), 4366u);
}

TEST(IntensityDialog, ShowsTheTrueRangeOfFileData) {
    // Device data: the dialog's own 0 to 65535.
    IntensityDialogRange device = intensityDialogRange(3000, 100);
    EXPECT_EQ(device.maximum, 65535);
    EXPECT_EQ(device.initial, 3000);
    // A file with intensities up to 100000: the dialogs reach that far.
    const IntensityDialogRange high = intensityDialogRange(100000, 70000);
    EXPECT_EQ(high.initial, 100000);
    EXPECT_EQ(high.maximum, 100000);
    const IntensityDialogRange low = intensityDialogRange(70000, 100000);
    EXPECT_EQ(low.initial, 70000);
    EXPECT_EQ(low.maximum, 100000);
    // Beyond what the dialog takes: bounded, never negative.
    const IntensityDialogRange huge = intensityDialogRange(4294967295u, 0);
    EXPECT_EQ(huge.initial, 2147483647);
    EXPECT_EQ(huge.maximum, 2147483647);
}
