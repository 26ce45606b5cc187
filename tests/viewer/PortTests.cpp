// The data port: a taken port is walked past before any laser start names it, a stored port
// outside 1024 to 65535 is refused, and the preferences dialog sets it.
#include "WindowFixture.h"

#include "Sentova/LaserPacket.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace viewer_test {
namespace {

// Holds UDP ports on every address, as another program listening there would.
class PortsTaken {
public:
    PortsTaken(unsigned first, int count) {
        for (int i = 0; i < count; ++i) {
            const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(first + i));
            address.sin_addr.s_addr = htonl(INADDR_ANY);
            if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ADD_FAILURE() << "port " << first + i << " is already taken";
            }
            m_sockets.push_back(s);
        }
    }
    ~PortsTaken() { release(); }
    PortsTaken(const PortsTaken&) = delete;
    PortsTaken& operator=(const PortsTaken&) = delete;

    void release() {
        for (int s : m_sockets) {
            ::close(s);
        }
        m_sockets.clear();
    }

private:
    std::vector<int> m_sockets;
};

class PortTest : public WindowTest {
protected:
    void openOn(const char* serial) {
        device->setSerial(serial);
        openWindow();
        device->clearReceived();
    }

    // Ports named by the laser starts the device received (parameter 0, the last one).
    std::vector<unsigned> startedPorts() {
        std::vector<unsigned> ports;
        for (const ReceivedCommand& command : device->received()) {
            if (command.code() == "SVRRBE" && command.bytes.size() >= 11) {
                const std::string& b = command.bytes;
                const auto byte = [&](std::size_t i) {
                    return static_cast<unsigned>(static_cast<unsigned char>(b[i]));
                };
                const std::size_t n = b.size();
                ports.push_back(byte(n - 4) << 24 | byte(n - 3) << 16 | byte(n - 2) << 8 |
                                byte(n - 1));
            }
        }
        return ports;
    }

    // The preferences dialog's port box (the dialog has no parent window).
    QSpinBox* portBox() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "PreferencesDialog") {
                return top->findChild<QSpinBox*>("port_spinBox");
            }
        }
        return nullptr;
    }

    QStringList logged(const char* pattern) {
        return logLines(window.get()).filter(QRegularExpression(pattern));
    }
};

TEST_F(PortTest, ATakenPortIsWalkedPastBeforeTheStartNamesAPort) {
    const unsigned stored = processDataPort();
    PortsTaken taken(stored, 2);
    openOn("SN-LX30-31");
    click("startLaserPushButton");

    EXPECT_EQ(startedPorts(), std::vector<unsigned>{stored + 2});
    EXPECT_EQ(logged("^Listening on port "),
              QStringList{"Listening on port " + QString::number(stored + 2)});
    EXPECT_EQ(logged("^Data port ").size(), 1);
    EXPECT_EQ(QSettings().value("network/port").toUInt(), stored + 3);

    // Points sent to the port in use arrive.
    std::vector<tavrel::LaserRecord> records(20);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].azimuth = static_cast<double>(i);
        records[i].range = 1500;
    }
    device->sendData(static_cast<std::uint16_t>(stored + 2), tavrel::encodeLaserPacket(records));
    EXPECT_TRUE(waitUntil([&] { return widget<QLabel>("totalPoints_label")->text() == "20"; }));
}

TEST_F(PortTest, NoFreePortMeansNoStartUntilOneIsFree) {
    const unsigned stored = processDataPort();
    PortsTaken taken(stored, 20);
    openOn("SN-LX30-31");
    click("startLaserPushButton");
    click("getFramePushButton");
    EXPECT_TRUE(startedPorts().empty());
    const std::vector<std::string> codes = device->codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), "SVECCF"), 0) << "no buffer names a port";
    EXPECT_EQ(logged("^Unable to listen for laser data on ports ").size(), 2);
    EXPECT_TRUE(logged("^Start Laser: ").isEmpty());

    taken.release();
    click("startLaserPushButton");
    EXPECT_EQ(startedPorts(), std::vector<unsigned>{stored});
    EXPECT_EQ(logged("^Start Laser: ").size(), 1);
}

TEST_F(PortTest, AStoredPortOutsideTheRangeIsRefusedAndTheDefaultUsed) {
    for (const char* bad : {"70000", "80", "junk"}) {
        window.reset();
        QSettings().setValue("network/port", bad);
        openOn("SN-GENERIC-31");
        EXPECT_EQ(logged("^Stored data port "),
                  QStringList{QString("Stored data port '") + bad +
                              "' is not a port from 1024 to 65535; using 4366"});
        ASSERT_NE(portBox(), nullptr);
        EXPECT_EQ(portBox()->value(), 4366) << bad;
    }
}

TEST_F(PortTest, PreferencesSetThePortOfTheNextStart) {
    openOn("SN-LX30-31");
    QSpinBox* spin = portBox();
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->minimum(), 1024);
    EXPECT_EQ(spin->maximum(), 65535);
    const unsigned chosen = processDataPort() + 7;
    onNextModal([chosen](QWidget* modal) {
        auto* box = modal->findChild<QSpinBox*>("port_spinBox");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->value(), static_cast<int>(processDataPort()));
        box->setValue(static_cast<int>(chosen));
        modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    widget<QAction>("actionPreferences")->trigger();
    EXPECT_EQ(QSettings().value("network/port").toUInt(), chosen);

    click("startLaserPushButton");
    EXPECT_EQ(startedPorts(), std::vector<unsigned>{chosen});

    // While listening, a new choice waits for the next start of the program.
    onNextModal([](QWidget* modal) {
        modal->findChild<QSpinBox*>("port_spinBox")->setValue(5000);
        modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    widget<QAction>("actionPreferences")->trigger();
    EXPECT_EQ(QSettings().value("network/port").toUInt(), 5000u);
    click("startLaserPushButton");
    EXPECT_EQ(startedPorts(), (std::vector<unsigned>{chosen, chosen}));
}

} // namespace
} // namespace viewer_test
