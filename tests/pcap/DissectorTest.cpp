// The Wireshark dissector, run by tshark over capture files written here.
#include "CaptureTestSupport.h"
#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "SentovaPcap/Capture.h"
#include "TsharkSupport.h"

#include <gtest/gtest.h>

using namespace sentova::pcap;
using pcaptest::runTshark;
using pcaptest::TempFile;
using pcaptest::Tshark;
using tavrel::CommandSerialiser;

namespace {

constexpr std::uint32_t kHost = 0x7f000001;
constexpr std::uint32_t kDevice = 0x7f000002;

// One capture of chosen datagrams, written with the capture writer.
class Session {
public:
    explicit Session(const std::string& name) : m_file(name), m_writer(m_file.path()) {}
    Session& command(const std::string& bytes) { return add(kHost, 40000, kDevice, 4365, bytes); }
    Session& fromDevice(const std::string& bytes, std::uint16_t from = 4365,
                        std::uint16_t to = 40000) {
        return add(kDevice, from, kHost, to, bytes);
    }
    const std::string& close() {
        m_writer.close();
        return m_file.path();
    }

private:
    Session& add(std::uint32_t src, std::uint16_t sport, std::uint32_t dst, std::uint16_t dport,
                 const std::string& bytes) {
        m_writer.write(m_time++, src, sport, dst, dport, bytes.data(), bytes.size());
        return *this;
    }
    TempFile m_file;
    Writer m_writer;
    std::uint64_t m_time = 1700000000000000;
};

class Dissector : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(TSHARK).empty())
            GTEST_SKIP() << "tshark is not installed (tools/setup.sh installs it)";
    }
};

std::string record(std::uint32_t timestamp, double azimuth, double elevation, std::int32_t range,
                   std::uint16_t amplitude, std::int16_t reflectance, std::int16_t deviation) {
    tavrel::LaserRecord r;
    r.timestamp = timestamp;
    r.azimuth = azimuth;
    r.elevation = elevation;
    r.range = range;
    r.amplitude = amplitude;
    r.reflectance = reflectance;
    r.pulseShapeDeviation = deviation;
    return tavrel::encodeLaserRecord(r);
}

} // namespace

TEST_F(Dissector, CommandsAreDecodedWithTheirArgumentsInTheirUnits) {
    Session s("commands.pcap");
    s.command(CommandSerialiser::SVSRES(1, -90, 90, 0, 45, 10))
        .command(CommandSerialiser::SVSEAA(45.5, -10, 2.5))
        .command(CommandSerialiser::SVSFFS(15.25, 99))
        .command(CommandSerialiser::SVSEAC(-1))
        .command(CommandSerialiser::SVEENB(128, 0, true))
        .command(CommandSerialiser::SVSLGA(300))
        .command(CommandSerialiser::SVERTM(40000))
        .command(CommandSerialiser::SVSIPC("abc", "10.0.0.2"))
        .command(CommandSerialiser::SVRRBE({{1, 5}, {2, 3}, {0, 4366}}))
        .command(CommandSerialiser::SVECCF(129, CommandSerialiser::SVSRBE()))
        .command(CommandSerialiser::SVSEAT(-180, 30, 1, 7, 4000000000u))
        .command(CommandSerialiser::SVRNLS(1, 2, true, 0x1234));
    const Tshark t = runTshark(
        s.close(),
        {"sentova.command",     "sentova.operation",   "sentova.az_min",     "sentova.az_max",
         "sentova.el_min",      "sentova.el_max",      "sentova.scan_speed", "sentova.lines",
         "sentova.azimuth",     "sentova.elevation",   "sentova.speed",      "sentova.acceleration",
         "sentova.event",       "sentova.buffer",      "sentova.event.flag", "sentova.gain",
         "sentova.frequency",   "sentova.ip.settings", "sentova.ip.address", "sentova.param.id",
         "sentova.param.value", "sentova.data_port",   "sentova.trigger.p",  "sentova.trigger.q",
         "sentova.laser.flag",  "sentova.laser.d"});
    EXPECT_EQ(t.errors, "");
    ASSERT_EQ(t.frames.size(), 12u);
    auto& f = t.frames;
    EXPECT_EQ(f[0].at("sentova.command"), "SVSRES");
    EXPECT_EQ(f[0].at("sentova.operation"), "Start region scan");
    EXPECT_EQ(f[0].at("sentova.az_min"), "-90");
    EXPECT_EQ(f[0].at("sentova.az_max"), "90");
    EXPECT_EQ(f[0].at("sentova.el_min"), "0");
    EXPECT_EQ(f[0].at("sentova.el_max"), "45");
    EXPECT_EQ(f[0].at("sentova.scan_speed"), "1");
    EXPECT_EQ(f[0].at("sentova.lines"), "10");
    // The angle coding truncates: within one count (8.4e-8 degree) of the value sent.
    EXPECT_NEAR(std::stod(f[1].at("sentova.azimuth")), 45.5, 1e-7);
    EXPECT_NEAR(std::stod(f[1].at("sentova.elevation")), -10, 1e-7);
    EXPECT_EQ(f[1].at("sentova.speed"), "2.5");
    EXPECT_EQ(f[2].at("sentova.scan_speed"), "15.25");
    EXPECT_EQ(f[2].at("sentova.lines"), "99");
    EXPECT_EQ(f[3].at("sentova.acceleration"), "-1");
    EXPECT_EQ(f[4].at("sentova.event"), "0");
    EXPECT_EQ(f[4].at("sentova.buffer"), "128");
    EXPECT_EQ(f[4].at("sentova.event.flag"), "1");
    EXPECT_EQ(f[5].at("sentova.gain"), "44") << "300 sent as its low byte";
    EXPECT_EQ(f[6].at("sentova.frequency"), "40000");
    EXPECT_EQ(f[7].at("sentova.ip.settings"), "abc");
    EXPECT_EQ(f[7].at("sentova.ip.address"), "10.0.0.2");
    EXPECT_EQ(f[8].at("sentova.param.id"), "1,2,0");
    EXPECT_EQ(f[8].at("sentova.param.value"), "5,3,4366");
    EXPECT_EQ(f[8].at("sentova.data_port"), "4366");
    // The stored command is decoded inside the buffer command.
    EXPECT_EQ(f[9].at("sentova.command"), "SVECCF,SVSRBE");
    EXPECT_EQ(f[9].at("sentova.buffer"), "129");
    EXPECT_EQ(f[10].at("sentova.azimuth"), "-180");
    EXPECT_EQ(f[10].at("sentova.trigger.p"), "7");
    EXPECT_EQ(f[10].at("sentova.trigger.q"), "4000000000");
    EXPECT_EQ(f[11].at("sentova.laser.flag"), "1");
    EXPECT_EQ(f[11].at("sentova.laser.d"), "4660");
}

TEST_F(Dissector, EveryCommandCodeIsKnown) {
    const char* codes[] = {"SVCQRE", "SVHOME", "SVSTOP", "SVSEAC", "SVGEAA", "SVSEAA", "SVTRAA",
                           "SVSFFS", "SVSBES", "SVSRES", "SVRRBE", "SVSRBE", "SVRNLS", "SVSTLS",
                           "SVSRUN", "SVSSTP", "SVSSTG", "SVSGTG", "SVSGRL", "SVSSSP", "SVMONN",
                           "SVMOFF", "SVSLGA", "SVSGER", "SVSTST", "SVGUFP", "SVSUFP", "SVEUFP",
                           "SVERST", "SVPPPP", "SVEENB", "SVEDIS", "SVESTS", "SVESTM", "SVERTM",
                           "SVEGTM", "SVECCF", "SVIIOS", "SVIIOT", "SVIIOG", "SVIOSE", "SVIOGE",
                           "SVGCAA", "SVGMTN", "SVSEAT", "SVTTRG", "SVSIPC"};
    Session s("all.pcap");
    // Each with enough zero argument bytes for its longest layout.
    for (const char* code : codes)
        s.command(std::string(code) + std::string(24, '\0'));
    s.command("SVXXXX");
    const Tshark t = runTshark(s.close(), {"sentova.command", "sentova.operation", "_ws.expert"});
    ASSERT_EQ(t.frames.size(), 48u);
    for (std::size_t i = 0; i < 47; ++i) {
        EXPECT_EQ(t.frames[i].at("sentova.command").substr(0, 6), codes[i]);
        EXPECT_FALSE(t.frames[i].at("sentova.operation").empty()) << codes[i];
    }
    EXPECT_EQ(t.frames[47].at("sentova.operation"), "");
    EXPECT_NE(t.frames[47].at("_ws.expert"), "");
}

TEST_F(Dissector, RepliesErrorsNotificationsAndTriggerRecords) {
    Session s("replies.pcap");
    s.command(CommandSerialiser::SVSRES(1, -90, 90, 0, 45, 10))
        .fromDevice(std::string("EESRES\x08", 7))
        .fromDevice(std::string("EEHOME\xff", 7))
        .fromDevice("EACQRE")
        .fromDevice("ERCQRELX30-31-0001")
        .fromDevice(std::string("ERGEAA\x40\x00\x00\x00\xc0\x00\x00\x00", 14))
        .fromDevice(std::string("EBAANG\x80\x01\x02", 9))
        .fromDevice(std::string("EBHPTG\x00\x00\x00\x07\x00\x01\x86\xa0\x40\x00\x00\x00\xc0\x00"
                                "\x00\x00\x00\x00\x00\x02",
                                26))
        .fromDevice(std::string("ERGCAA\x8c\xa0\xfc\x18", 10));
    const Tshark t = runTshark(
        s.close(), {"sentova.reply.class", "sentova.reply.stem", "sentova.error",
                    "sentova.error.text", "sentova.serial", "sentova.azimuth", "sentova.elevation",
                    "sentova.notification.kind", "sentova.notification.event",
                    "sentova.notification.data", "sentova.trigger.index", "sentova.trigger.tstamp",
                    "sentova.trigger.azimuth", "sentova.trigger.elevation", "sentova.trigger.exp",
                    "sentova.captured.first", "sentova.captured.second", "_ws.col.Info"});
    EXPECT_EQ(t.errors, "");
    ASSERT_EQ(t.frames.size(), 9u);
    auto& f = t.frames;
    EXPECT_EQ(f[1].at("sentova.reply.class"), "EE (error)");
    EXPECT_EQ(f[1].at("sentova.reply.stem"), "SRES");
    EXPECT_EQ(f[1].at("sentova.error"), "8");
    EXPECT_EQ(f[1].at("sentova.error.text"), "Scan Too Sparse");
    EXPECT_EQ(f[1].at("_ws.col.Info"), "EESRES reply to SVSRES: error 8, Scan Too Sparse");
    EXPECT_EQ(f[2].at("sentova.error.text"), "Other Error");
    EXPECT_EQ(f[3].at("sentova.reply.class"), "EA (acknowledged)");
    EXPECT_EQ(f[4].at("sentova.serial"), "LX30-31-0001");
    EXPECT_EQ(f[5].at("sentova.azimuth"), "90");
    EXPECT_EQ(f[5].at("sentova.elevation"), "-90");
    EXPECT_EQ(f[6].at("sentova.notification.kind"), "2");
    EXPECT_EQ(f[6].at("sentova.notification.event"), "128");
    EXPECT_EQ(f[6].at("sentova.notification.data"), "0102");
    EXPECT_EQ(f[7].at("sentova.trigger.index"), "7");
    EXPECT_EQ(f[7].at("sentova.trigger.tstamp"), "100000");
    EXPECT_EQ(f[7].at("sentova.trigger.azimuth"), "90");
    EXPECT_EQ(f[7].at("sentova.trigger.elevation"), "-90");
    EXPECT_EQ(f[7].at("sentova.trigger.exp"), "2");
    EXPECT_EQ(f[8].at("sentova.captured.first"), "360");
    EXPECT_EQ(f[8].at("sentova.captured.second"), "-10");
}

TEST_F(Dissector, LaserPacketsOnTheLaserPortAndByTheirHeaderAnywhere) {
    const std::string first = record(7, 90, -90, -1, 65535, -1, 3);
    const std::string second = record(16777217, -180, 45.5, 123456, 500, -20, -7);
    Session s("laser.pcap");
    s.fromDevice("EBRBEP" + first + second + "xyz", 4365, 4366) // header, trailing bytes
        .fromDevice(first, 4365, 4366)                          // headerless on the laser port
        .fromDevice("EBRBEP" + second, 50123, 51000)            // any port, by its header
        .fromDevice("EBRBEQ" + first, 4365, 4366)               // discarded by receivers
        .fromDevice(first, 4365, 5000);                         // headerless on another port
    const std::vector<std::string> fields = {
        "sentova_laser.records",     "sentova_laser.timestamp",
        "sentova_laser.azimuth",     "sentova_laser.elevation",
        "sentova_laser.range",       "sentova_laser.amplitude",
        "sentova_laser.reflectance", "sentova_laser.pulse_shape_deviation",
        "sentova_laser.trailing",    "_ws.expert"};
    const std::string path = s.close();
    Tshark t = runTshark(path, fields);
    EXPECT_EQ(t.errors, "");
    ASSERT_EQ(t.frames.size(), 5u);
    auto& f = t.frames;
    EXPECT_EQ(f[0].at("sentova_laser.records"), "2");
    EXPECT_EQ(f[0].at("sentova_laser.timestamp"), "7,16777217");
    EXPECT_EQ(f[0].at("sentova_laser.azimuth"), "90,-180");
    const std::string elevations = f[0].at("sentova_laser.elevation");
    EXPECT_EQ(elevations.substr(0, 4), "-90,");
    EXPECT_NEAR(std::stod(elevations.substr(4)), 45.5, 1e-7);
    EXPECT_EQ(f[0].at("sentova_laser.range"), "-1,123456");
    EXPECT_EQ(f[0].at("sentova_laser.amplitude"), "65535,500");
    EXPECT_EQ(f[0].at("sentova_laser.reflectance"), "-1,-20");
    EXPECT_EQ(f[0].at("sentova_laser.pulse_shape_deviation"), "3,-7");
    EXPECT_EQ(f[0].at("sentova_laser.trailing"), "78797a");
    EXPECT_EQ(f[1].at("sentova_laser.records"), "1");
    EXPECT_EQ(f[2].at("sentova_laser.timestamp"), "16777217");
    EXPECT_EQ(f[3].at("sentova_laser.records"), "");
    EXPECT_NE(f[3].at("_ws.expert"), "");
    EXPECT_EQ(f[4].at("sentova_laser.records"), "") << "not the laser port";

    // The laser port is a preference.
    t = runTshark(path, fields, "-o sentova_laser.port:5000");
    ASSERT_EQ(t.frames.size(), 5u);
    EXPECT_EQ(t.frames[4].at("sentova_laser.timestamp"), "7");
    EXPECT_EQ(t.frames[2].at("sentova_laser.timestamp"), "16777217");
}
