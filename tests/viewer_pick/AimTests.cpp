// Against the device simulator: a pick on its stream reports what its room holds there, and
// "Point the aperture here" sends the move, the simulator's angles follow, and points out of
// reach are refused.
#include "PickFixture.h"
#include "SimulatorFixture.h"

#include "PointReadout.h"
#include "Scene.h"

#include <QRegularExpression>
#include <QStatusBar>

#include "Sentova/Encoding.h"
#include "Sentova/Sentova.h"
#include "Sentova/SentovaError.h"

namespace viewer_test {
namespace {

class AimTest : public SimulatorTest {
protected:
    static QString errorText(tavrel::tavrel_error_t code) {
        return QString::fromStdString(tavrel::Sentova::GetErrorString(code));
    }

    // Points on a grid of directions at 10 m as the listener hands them over: azimuth -45 to
    // 45, elevation -20 to 40, the top row beyond the aperture's reach.
    void feedGrid() {
        std::vector<tavrel::tavrel_rbe_obs_t> batch;
        std::uint64_t time = 1000;
        for (int az = -45; az <= 45; az += 15) {
            for (int el = -20; el <= 40; el += 20) {
                const double amplitude =
                    az == 30 && el == 20 ? 4321.0 : (az == 0 && el == 40 ? 999.0 : 500.0);
                batch.push_back({double(az), double(el), 10000.0, time++, amplitude, 7.0, 1.5});
            }
        }
        window->LaserDataCallback(batch, 0);
        ASSERT_TRUE(waitUntil([&] { return totalPoints() == 28; }));
    }

    QPoint direction(double az, double el) {
        const double a = az * M_PI / 180.0;
        const double e = el * M_PI / 180.0;
        return onScreen(window.get(), 10000.0 * std::cos(e) * std::sin(a),
                        10000.0 * std::cos(e) * std::cos(a), 10000.0 * std::sin(e));
    }

    // The simulator's aperture angles, read back with the get-angles command.
    std::optional<std::pair<double, double>> apertureAngles() {
        const std::string reply = ask(deviceAddress(), "SVGEAA");
        if (reply.size() != 14 || reply.compare(0, 6, "ERGEAA") != 0) {
            return std::nullopt;
        }
        std::string payload = reply.substr(6);
        auto it = payload.begin();
        const double az = tavrel::UnpackAngle(it);
        const double el = tavrel::UnpackAngle(it);
        return std::make_pair(az, el);
    }

    bool inLog(const QString& line) {
        return waitUntil([&] { return logLines(window.get()).contains(line); },
                         std::chrono::seconds(5));
    }

    bool aim() {
        if (!chooseFromViewMenu(window.get(), sceneView(window.get())->rect().center(),
                                "Point the aperture here")) {
            return false;
        }
        return settle();
    }
};

TEST_F(AimTest, APickOnTheStreamReportsTheRangeOfTheRoomThere) {
    startSimulator("LX30", {"--noise", "off", "--multiple-returns", "off"});
    click("homePushButton");
    ASSERT_TRUE(waitUntil([&] { return atRest(deviceAddress()); }, std::chrono::seconds(5)));
    const std::optional<std::pair<double, double>> angles = apertureAngles();
    ASSERT_TRUE(angles);
    const std::optional<sentova::sim::BeamHit> hit =
        sentova::sim::castBeam(angles->first, angles->second);
    ASSERT_TRUE(hit);
    click("startLaserPushButton");
    ASSERT_TRUE(waitUntil([&] { return totalPoints() > 2000; }, std::chrono::seconds(10)));
    click("stopLaserPushButton");
    ASSERT_TRUE(settle());

    // The aperture stands still, so every point lies where its beam meets the room.
    const double range = hit->range * 1000.0;
    const double a = angles->first * M_PI / 180.0;
    const double e = angles->second * M_PI / 180.0;
    clickView(window.get(),
              onScreen(window.get(), range * std::cos(e) * std::sin(a),
                       range * std::cos(e) * std::cos(a), range * std::sin(e)),
              Qt::ControlModifier);
    const QRegularExpression rangeText("Range ([0-9.]+) mm");
    QRegularExpressionMatch match;
    ASSERT_TRUE(waitUntil([&] {
        match = rangeText.match(labelText(window.get(), "pickLabel"));
        return match.hasMatch();
    })) << labelText(window.get(), "pickLabel").toStdString();
    EXPECT_NEAR(match.captured(1).toDouble(), range, 2.0)
        << labelText(window.get(), "pickLabel").toStdString();
}

TEST_F(AimTest, TheApertureTurnsToThePickedPoint) {
    startSimulator("LX30");
    feedGrid();
    auto* action = window->findChild<QAction*>("actionPoint_aperture_here");
    ASSERT_NE(action, nullptr);
    // Nothing picked: nothing to aim at.
    EXPECT_FALSE(action->isEnabled());

    clickView(window.get(), direction(30, 20), Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] {
        return labelText(window.get(), "pickLabel").contains("Amplitude 4321");
    })) << labelText(window.get(), "pickLabel").toStdString()
        << " status " << window->statusBar()->currentMessage().toStdString() << " at "
        << direction(30, 20).x() << "," << direction(30, 20).y();
    // The LX30 measures both.
    EXPECT_TRUE(
        labelText(window.get(), "pickLabel").contains("Reflectance 7  Pulse shape deviation 1.5"));

    // Not homed yet: the device's refusal is in the log, like every command's result.
    ASSERT_TRUE(aim());
    EXPECT_TRUE(inLog("SetApertureAngles(30, 20, 45): " + errorText(tavrel::NotHomed)))
        << logLines(window.get()).join(" | ").toStdString();

    click("homePushButton");
    ASSERT_TRUE(waitUntil([&] { return atRest(deviceAddress()); }, std::chrono::seconds(5)));
    ASSERT_TRUE(aim());
    EXPECT_TRUE(inLog("SetApertureAngles(30, 20, 45): " + errorText(tavrel::NoError)));
    std::optional<std::pair<double, double>> angles;
    EXPECT_TRUE(waitUntil(
        [&] {
            angles = apertureAngles();
            return angles && std::fabs(viewer::azimuthDifference(angles->first, 30.0)) < 0.01 &&
                   std::fabs(angles->second - 20.0) < 0.01;
        },
        std::chrono::seconds(10)))
        << (angles ? angles->first : -999) << " " << (angles ? angles->second : -999);
    EXPECT_EQ(logged("SVSEAA").size(), 2);
}

TEST_F(AimTest, APointBeyondTheAperturesReachIsRefusedWithoutAMove) {
    startSimulator("LX30");
    feedGrid();
    click("homePushButton");
    clickView(window.get(), direction(0, 40), Qt::ControlModifier);
    ASSERT_TRUE(
        waitUntil([&] { return labelText(window.get(), "pickLabel").contains("Amplitude 999"); }));
    ASSERT_TRUE(aim());
    EXPECT_TRUE(inLog("Point the aperture here: elevation 40.000 is beyond the aperture's reach "
                      "(-35 to 35)"))
        << logLines(window.get()).join(" | ").toStdString();

    // The next aim is sent; the simulator saw only that one.
    clickView(window.get(), direction(-45, -20), Qt::ControlModifier);
    ASSERT_TRUE(
        waitUntil([&] { return labelText(window.get(), "pickLabel").contains("El -20.000"); }));
    ASSERT_TRUE(aim());
    EXPECT_TRUE(inLog("SetApertureAngles(315, -20, 45): " + errorText(tavrel::NoError)));
    EXPECT_EQ(logged("SVSEAA").size(), 1);
}

} // namespace
} // namespace viewer_test
