// The tool's pure parts: output choices and what it prints.
#include "CliStatus.h"
#include "Device.h"
#include "Failure.h"
#include "Models.h"
#include "Output.h"
#include "ProgressLine.h"
#include "Report.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace cli;

TEST(Report, InfoTextAndJson) {
    DeviceInfo info;
    info.address = "127.0.0.1";
    info.serial = "LX30-31-\"A\"\\\x01\xe9";
    info.model = "LX30";
    info.firmware = 31;
    info.library = "3.5.548";
    info.compatible = true;
    info.azimuth = 12.5;
    info.elevation = -3;
    info.state = "idle";
    EXPECT_EQ(infoJson(info),
              "{\"address\": \"127.0.0.1\", \"serial\": \"LX30-31-\\\"A\\\"\\\\\\u0001\\u00e9\", "
              "\"model\": \"LX30\", \"firmware\": 31, \"library\": \"3.5.548\", \"compatible\": "
              "true, \"azimuth\": 12.5, \"elevation\": -3, \"state\": \"idle\"}\n");
    const std::string text = infoText(info);
    EXPECT_NE(text.find("azimuth    12.5000\n"), std::string::npos);
    EXPECT_NE(text.find("library    3.5.548 (compatible)\n"), std::string::npos);

    CaptureProgress p;
    p.points = 12345;
    p.rate = 4321.4;
    p.seconds = 3.25;
    p.missing = 2;
    EXPECT_EQ(progressLine(p),
              "12345 points  4321 points/s  3.2 s  missing 2  dropped 0  refused 0");
    p.commandRefused = 3;
    EXPECT_EQ(progressLine(p),
              "12345 points  4321 points/s  3.2 s  missing 2  dropped 0  refused 0  "
              "commands refused 3");
}

TEST(Output, FormatsFieldsAndExistingFiles) {
    const testing_support::ScratchDir scratch("cli_unit");
    const std::filesystem::path& dir = scratch.path();
    EXPECT_EQ(chooseOutput((dir / "a.LAS").string(), "", false).format, formats::Format::Las);
    EXPECT_EQ(chooseOutput((dir / "a.pcd").string(), "pcd-binary", false).format,
              formats::Format::PcdBinary);
    EXPECT_EQ(statusOf([&] { chooseOutput((dir / "a.txt").string(), "", false); }), kUsage);
    EXPECT_EQ(statusOf([&] { chooseOutput((dir / "a.pcd").string(), "ascii", false); }), kUsage);
    std::ofstream(dir / "there.csv") << "x\n";
    EXPECT_EQ(statusOf([&] { chooseOutput((dir / "there.csv").string(), "", false); }), kUsage);
    EXPECT_EQ(statusOf([&] { chooseOutput((dir / "there.csv").string(), "", true); }), kSuccess);
    EXPECT_EQ(statusOf([&] { checkWritable({(dir / "x" / "y.csv").string()}); }), kFailed);
    EXPECT_EQ(statusOf([&] { checkWritable({(dir / "y.csv").string()}); }), kSuccess);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1); // the probe leaves nothing

    const std::optional<formats::FieldSelection> f = parseFields("x,intensity,timestamp");
    ASSERT_TRUE(f);
    EXPECT_EQ(formats::selectedFields(*f),
              (std::vector<formats::Field>{formats::Field::X, formats::Field::Intensity,
                                           formats::Field::Timestamp}));
    EXPECT_FALSE(parseFields(""));
    EXPECT_EQ(statusOf([] { parseFields("x,,y"); }), kUsage);
    EXPECT_EQ(statusOf([] { parseFields("x,colour"); }), kUsage);
}

namespace {

// A progress line writing to memory, on a clock the test moves.
struct ProgressOnClock {
    explicit ProgressOnClock(ProgressStyle style)
        : out(open_memstream(&buffer, &size)), line(style, out, [this] { return now; }) {}
    ~ProgressOnClock() {
        std::fclose(out);
        std::free(buffer);
    }
    std::string text() {
        std::fflush(out);
        return std::string(buffer, size);
    }

    char* buffer = nullptr;
    std::size_t size = 0;
    ProgressLine::Clock::time_point now{};
    std::FILE* out;
    ProgressLine line;
};

} // namespace

TEST(Progress, PlainLinesAtEachTenthOnceTheWorkHasGoneOnAWhile) {
    using std::chrono::milliseconds;
    ProgressOnClock p(ProgressStyle::Lines);
    // 0.1% every 10 ms: 10 s from 0 to 100%.
    for (int done = 0; done <= 1000; ++done) {
        p.line.share("converting a.ply", done, 1000);
        p.now += milliseconds(10);
    }
    EXPECT_EQ(p.text(), "converting a.ply: 20%\nconverting a.ply: 30%\nconverting a.ply: 40%\n"
                        "converting a.ply: 50%\nconverting a.ply: 60%\nconverting a.ply: 70%\n"
                        "converting a.ply: 80%\nconverting a.ply: 90%\nconverting a.ply: 100%\n");

    // A new piece of work starts over, and says nothing if it ends within its first seconds.
    p.line.share("writing b.las", 0, 10);
    p.now += milliseconds(1900);
    p.line.share("writing b.las", 10, 10);
    p.line.end();
    EXPECT_EQ(p.text().find("writing"), std::string::npos);
}

TEST(Progress, ASlowShareIsRepeatedEveryFewSeconds) {
    ProgressOnClock p(ProgressStyle::Lines);
    // 0.3% a second: no tenth for half a minute.
    for (int second = 0; second < 30; ++second) {
        p.line.share("converting big.pcd", second * 3, 1000);
        p.now += std::chrono::seconds(1);
    }
    // The first once the share has grown after 2 s, at 4 s; then every 5 s.
    EXPECT_EQ(p.text(), "converting big.pcd: 1%\nconverting big.pcd: 2%\n"
                        "converting big.pcd: 4%\nconverting big.pcd: 5%\n"
                        "converting big.pcd: 7%\nconverting big.pcd: 8%\n");
}

TEST(Progress, FiguresEveryFewSecondsOnAPipeAndInPlaceOnATerminal) {
    ProgressOnClock piped(ProgressStyle::Lines);
    ProgressOnClock terminal(ProgressStyle::InPlace);
    ProgressOnClock quiet(ProgressStyle::Silent);
    for (int tick = 0; tick <= 48; ++tick) {
        for (ProgressOnClock* p : {&piped, &terminal, &quiet}) {
            p->line.figure(std::to_string(tick * 250) + " ms");
            p->now += std::chrono::milliseconds(250);
        }
    }
    terminal.line.share("writing c.csv", 1, 2);
    for (ProgressOnClock* p : {&piped, &terminal, &quiet}) {
        p->line.end();
    }
    EXPECT_EQ(piped.text(), "2000 ms\n7000 ms\n12000 ms\n");
    const std::string shown = terminal.text();
    EXPECT_EQ(shown.substr(0, 8), "\r0 ms\x1b[K");
    EXPECT_NE(shown.find("\r12000 ms\x1b[K\rwriting c.csv:  50%\x1b[K\r\x1b[K"), std::string::npos);
    EXPECT_EQ(quiet.text(), "");
}
