// Laser streaming per model, Get Frame, the data path into the display and a
// rendered scan.
#include "ScenePieces.h"
#include "WindowFixture.h"

#include "Sentova/LaserPacket.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRendererCollection.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <set>

namespace viewer_test {
namespace {

std::string be32(std::uint32_t value) {
    const char bytes[] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                          static_cast<char>(value >> 8), static_cast<char>(value)};
    return std::string(bytes, 4);
}

std::string parameter(unsigned char id, std::uint32_t value) {
    return std::string(1, static_cast<char>(id)) + be32(value);
}

class LaserTest : public WindowTest {
protected:
    void openOn(const char* serial) {
        device->setSerial(serial);
        openWindow();
        device->clearReceived();
    }

    std::vector<std::string> sent(const std::string& code) {
        std::vector<std::string> result;
        for (const ReceivedCommand& command : device->received()) {
            if (command.code() == code) {
                result.push_back(command.bytes);
            }
        }
        return result;
    }

    // A scan line of points at increasing azimuth with intensities spread
    // over the amplitude range.
    void stream(int datagrams, int recordsEach) {
        int n = 0;
        for (int d = 0; d < datagrams; ++d) {
            std::vector<tavrel::LaserRecord> records;
            for (int r = 0; r < recordsEach; ++r, ++n) {
                tavrel::LaserRecord record;
                record.azimuth = -90.0 + (n % 180);
                record.elevation = -30.0 + (n / 180 % 60);
                record.range = 1000 + n % 500;
                record.amplitude = static_cast<std::uint16_t>(n * 97 % 4000);
                record.timestamp = static_cast<std::uint32_t>(n);
                records.push_back(record);
            }
            device->sendData(static_cast<std::uint16_t>(processDataPort()),
                             tavrel::encodeLaserPacket(records));
        }
    }

    // Two points of this amplitude; a datagram of one point would be held back.
    void sendAmplitude(std::uint16_t amplitude) {
        std::vector<tavrel::LaserRecord> records(2);
        for (tavrel::LaserRecord& record : records) {
            record.range = 500;
            record.amplitude = amplitude;
        }
        device->sendData(static_cast<std::uint16_t>(processDataPort()),
                         tavrel::encodeLaserPacket(records));
    }

    std::array<double, 2> legend() {
        return legendRange(widget<QVTKOpenGLNativeWidget>("lidarQvtkWidget")
                               ->renderWindow()
                               ->GetRenderers()
                               ->GetFirstRenderer());
    }

    QString totalPoints() { return widget<QLabel>("totalPoints_label")->text(); }
};

TEST_F(LaserTest, LX30StartSendsMeasurementTargetAndPort) {
    openOn("SN-LX30-31");
    const std::uint32_t port = processDataPort();
    click("startLaserPushButton");
    widget<QComboBox>("measurementComboBox")->setCurrentIndex(2);
    widget<QComboBox>("targetComboBox")->setCurrentIndex(4);
    click("startLaserPushButton");

    const std::vector<std::string> starts = sent("SVRRBE");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0], "SVRRBE" + parameter(1, 0) + parameter(2, 0) + parameter(0, port));
    EXPECT_EQ(starts[1], "SVRRBE" + parameter(1, 2) + parameter(2, 4) + parameter(0, port));

    const QStringList log = logLines(window.get());
    EXPECT_EQ(log.filter(QRegularExpression("^Listening on port ")),
              QStringList{"Listening on port " + QString::number(port)});
    EXPECT_EQ(log.filter(QRegularExpression("^Start Laser: ")).size(), 2);
    EXPECT_EQ(log.last(), "Start Laser: " + text(tavrel::NoError));
    EXPECT_EQ(QSettings().value("network/port").toUInt(), port + 1);
}

TEST_F(LaserTest, LX20StartSendsRateSamplesGainAndPortAndLogsOnlyFailures) {
    openOn("SN-LX20-31");
    const std::uint32_t port = processDataPort();
    click("laserPushButton");
    ASSERT_EQ(sent("SVRRBE").size(), 1u);
    EXPECT_EQ(sent("SVRRBE")[0], "SVRRBE" + parameter(3, 10000) + parameter(4, 1) +
                                     parameter(5, 0) + parameter(0, port));
    EXPECT_TRUE(logLines(window.get()).filter(QRegularExpression("^Start Laser")).isEmpty());

    device->failCommand("SVRRBE", 2);
    click("laserPushButton");
    EXPECT_EQ(logLines(window.get()).last(), "Start Laser: " + text(tavrel::ArgumentOutOfRange));
}

TEST_F(LaserTest, LX20HighSpeedSendsThirtyKilohertzAndRestoresTenOnUncheck) {
    openOn("SN-LX20-31");
    auto* rate = widget<QSpinBox>("sampleRatespinBox");
    auto* averaged = widget<QSpinBox>("avgSamplesspinBox");
    averaged->setValue(4);
    widget<QSpinBox>("laserGainspinBox")->setValue(3);

    click("laserHighSpeedcheckBox");
    EXPECT_EQ(rate->value(), 30000);
    EXPECT_EQ(averaged->value(), 1);
    EXPECT_FALSE(rate->isEnabled());
    EXPECT_FALSE(averaged->isEnabled());
    click("laserPushButton");
    ASSERT_EQ(sent("SVRRBE").size(), 1u);
    EXPECT_EQ(sent("SVRRBE")[0], "SVRRBE" + parameter(3, 30000) + parameter(4, 1) +
                                     parameter(5, 3) + parameter(0, processDataPort()));

    click("laserHighSpeedcheckBox");
    EXPECT_EQ(rate->value(), 10000);
    EXPECT_EQ(rate->maximum(), 10000);
    EXPECT_EQ(averaged->value(), 1);
    EXPECT_TRUE(rate->isEnabled());
    EXPECT_TRUE(averaged->isEnabled());
}

TEST_F(LaserTest, GenericStartSendsOnlyThePortAndStopAlwaysLogs) {
    openOn("SN-GENERIC-31");
    click("genericScanStopPushButton");
    EXPECT_EQ(logLines(window.get()).last(), "Stop Laser: " + text(tavrel::NoError));
    click("genericScanPushButton");
    device->failCommand("SVSRBE", 3);
    click("genericScanStopPushButton");
    EXPECT_EQ(logLines(window.get()).last(), "Stop Laser: " + text(tavrel::NotReady));

    EXPECT_EQ(device->codes(), (std::vector<std::string>{"SVSRBE", "SVRRBE", "SVSRBE"}));
    EXPECT_EQ(sent("SVRRBE")[0], "SVRRBE" + parameter(0, processDataPort()));
    EXPECT_EQ(sent("SVSRBE")[0], "SVSRBE");
    EXPECT_TRUE(logLines(window.get()).filter(QRegularExpression("^Start Laser")).isEmpty());
}

TEST_F(LaserTest, BusyDataPortIsWalkedPastOnceForEveryLaterStart) {
    const int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(blocker, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(processDataPort()));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);

    openOn("SN-LX30-31");
    click("startLaserPushButton");
    click("startLaserPushButton");
    ::close(blocker);

    // Both starts name the port listened on, found once.
    const std::uint32_t used = processDataPort() + 1;
    const QStringList log = logLines(window.get());
    EXPECT_EQ(log.filter(QRegularExpression("^Listening on port")),
              QStringList{"Listening on port " + QString::number(used)});
    EXPECT_TRUE(log.filter(QRegularExpression("^Unable to listen")).isEmpty());
    EXPECT_EQ(QSettings().value("network/port").toUInt(), used + 1);
    ASSERT_EQ(sent("SVRRBE").size(), 2u);
    for (const std::string& start : sent("SVRRBE")) {
        EXPECT_EQ(start.substr(start.size() - 5), parameter(0, used));
    }
}

TEST_F(LaserTest, GetFrameProgramsBuffersAndEventsThenStartsTheScan) {
    openOn("SN-LX30-31");
    click("regionradioButton");
    device->clearReceived();
    click("getFramePushButton");

    const std::string start =
        "SVRRBE" + parameter(1, 0) + parameter(2, 0) + parameter(0, processDataPort());
    const std::vector<ReceivedCommand> received = device->received();
    std::vector<std::string> bytes;
    for (const ReceivedCommand& command : received) {
        bytes.push_back(command.bytes);
    }
    EXPECT_EQ(bytes, (std::vector<std::string>{
                         "SVERST",
                         "SVECCF\x80" + start,
                         "SVECCF\x81SVSRBE",
                         "SVECCF\x82SVSTOP",
                         std::string("SVEENB\x00\x80\x00", 9),
                         std::string("SVEENB\x01\x81\x00", 9),
                         std::string("SVEENB\x01\x82\x00", 9),
                         received.back().bytes,
                     }));
    EXPECT_EQ(received.back().code(), "SVSRES");
    // Buffers and events go through the event manager, the scan through the device facade.
    EXPECT_NE(received.front().senderPort, received.back().senderPort);
    EXPECT_EQ(logLines(window.get()).last(),
              "StartRegionScan(5, 15, 345, -35, 35, 99.99): " + text(tavrel::NoError));
}

TEST_F(LaserTest, GetFrameStopsAtTheFirstFailingStep) {
    openOn("SN-LX20-31");
    device->failCommand("SVERST", 7);
    device->failCommand("SVEENB", 5);
    click("lx20GetFramePushButton");

    EXPECT_EQ(device->codes(), (std::vector<std::string>{"SVERST", "SVERST", "SVECCF", "SVECCF",
                                                         "SVECCF", "SVEENB"}));
    const QStringList errors = logLines(window.get()).filter(QRegularExpression("^Error: "));
    EXPECT_EQ(errors, (QStringList{"Error: " + text(tavrel::InvalidCommand),
                                   "Error: " + text(tavrel::InvalidArgument)}));
    EXPECT_EQ(sent("SVECCF")[0].substr(6, 7), "\x80SVRRBE");
}

TEST_F(LaserTest, StreamedPointsFillTheSceneAndTheFigures) {
    openOn("SN-LX30-31");
    click("startLaserPushButton");
    stream(10, 50);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "500"; })) << totalPoints().toStdString();
    auto* rate = widget<QLabel>("pointsPerSecond_label");
    EXPECT_TRUE(waitUntil([&] { return rate->text().toInt() > 0; }, std::chrono::seconds(3)));
    EXPECT_LE(rate->text().toInt(), 500);
    // With nothing more arriving the rate falls back to zero.
    EXPECT_TRUE(waitUntil([&] { return rate->text() == "0"; }, std::chrono::seconds(3)));

    widget<QAction>("actionClear_Scene")->trigger();
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "0"; }));
    stream(1, 40);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "40"; })) << totalPoints().toStdString();
}

TEST_F(LaserTest, MaximumPointsCapsTheBufferAndEmptiesIt) {
    openOn("SN-LX30-31");
    click("startLaserPushButton");
    stream(2, 50);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "100"; }));

    onNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Set maximum number of points in current scan");
        EXPECT_EQ(dialog->intValue(), 100000);
        dialog->setIntValue(1000);
        dialog->accept();
    });
    widget<QAction>("actionSet_max_points")->trigger();
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "0"; }));

    stream(30, 50);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "1000"; }));
    // An amplitude beyond the stream's, sent last: once the legend reaches it, the display has
    // taken in every datagram before it.
    sendAmplitude(60000);
    EXPECT_TRUE(waitUntil([&] { return legend()[1] == 60000; }));
    EXPECT_EQ(totalPoints(), "1000");
}

// Opens an intensity dialog from its action; returns the value it offered and
// answers with answer (or cancels when answer is negative).
int intensityDialog(QAction* action, int answer) {
    int offered = -1;
    onNextModal([&offered, answer](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        offered = dialog->intValue();
        if (answer < 0) {
            dialog->reject();
        } else {
            dialog->setIntValue(answer);
            dialog->accept();
        }
    });
    action->trigger();
    return offered;
}

TEST_F(LaserTest, IntensityRangeFollowsTheDataUntilSetByHand) {
    openOn("SN-LX30-31");
    click("startLaserPushButton");
    auto send = [&](std::vector<std::uint16_t> amplitudes) {
        std::vector<tavrel::LaserRecord> records;
        for (std::uint16_t amplitude : amplitudes) {
            tavrel::LaserRecord record;
            record.range = 500;
            record.amplitude = amplitude;
            records.push_back(record);
        }
        device->sendData(static_cast<std::uint16_t>(processDataPort()),
                         tavrel::encodeLaserPacket(records));
    };
    QAction* setMax = widget<QAction>("actionSet_max_intensity");
    QAction* setMin = widget<QAction>("actionSet_min_intensity");

    send({300, 1200, 2500, 800});
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "4"; }));
    EXPECT_EQ(intensityDialog(setMax, -1), 2500);
    EXPECT_EQ(intensityDialog(setMin, -1), 300);

    // A maximum not above the minimum is dropped and the range stays automatic.
    EXPECT_EQ(intensityDialog(setMax, 300), 2500);
    send({100, 200});
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "6"; }));
    EXPECT_EQ(intensityDialog(setMin, -1), 100);

    // By hand, the range no longer follows the data.
    EXPECT_EQ(intensityDialog(setMax, 2000), 2500);
    send({5000, 50});
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "8"; }));
    // A later refresh with points inside the range, so that any following would have happened.
    send({1000, 1000});
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "10"; }));
    EXPECT_EQ(intensityDialog(setMax, -1), 2000);
    EXPECT_EQ(intensityDialog(setMin, -1), 100);

    widget<QAction>("actionSet_auto_int")->trigger();
    EXPECT_TRUE(waitUntil([&] { return legend() == std::array<double, 2>{50, 5000}; }));
    EXPECT_EQ(intensityDialog(setMax, -1), 5000);
    EXPECT_EQ(intensityDialog(setMin, -1), 50);
}

TEST_F(LaserTest, LX20HighSpeedPointsCarryNoIntensity) {
    openOn("SN-LX20-31");
    click("laserHighSpeedcheckBox");
    click("laserPushButton");
    std::vector<tavrel::LaserRecord> records(20);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].range = 700;
        records[i].amplitude = static_cast<std::uint16_t>(1000 + 100 * i);
    }
    device->sendData(static_cast<std::uint16_t>(processDataPort()),
                     tavrel::encodeLaserPacket(records));
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "20"; }));
    // Every point at intensity 0 leaves no range, so the scale spans 0 to 65535.
    EXPECT_EQ(intensityDialog(widget<QAction>("actionSet_max_intensity"), -1), 65535);
    EXPECT_EQ(intensityDialog(widget<QAction>("actionSet_min_intensity"), -1), 0);
}

// Pixels of the image that differ from its corner colour (the background).
int foregroundPixels(const QImage& image, std::set<QRgb>* colours) {
    const QRgb background = image.pixel(0, 0);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (pixel != background) {
                ++count;
                colours->insert(pixel);
            }
        }
    }
    return count;
}

TEST_F(LaserTest, ScreenshotShowsTheWindowAndTheScan) {
    openOn("SN-LX30-31");
    std::set<QRgb> windowColours;
    EXPECT_GT(foregroundPixels(window->grab().toImage(), &windowColours), 1000);
    EXPECT_GT(windowColours.size(), 5u);

    auto* view = widget<QVTKOpenGLNativeWidget>("lidarQvtkWidget");
    std::set<QRgb> emptyColours;
    const int emptyScene = foregroundPixels(view->grabFramebuffer(), &emptyColours);

    click("startLaserPushButton");
    stream(40, 50);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "2000"; }));
    int sceneForeground = 0;
    std::set<QRgb> sceneColours;
    // Intensities spread over the range give several colours of the scale.
    EXPECT_TRUE(waitUntil([&] {
        sceneColours.clear();
        sceneForeground = foregroundPixels(view->grabFramebuffer(), &sceneColours);
        return sceneForeground > emptyScene + 200 && sceneColours.size() > 10u;
    })) << sceneForeground
        << " foreground pixels against " << emptyScene << " empty, " << sceneColours.size()
        << " colours";
}

} // namespace
} // namespace viewer_test
