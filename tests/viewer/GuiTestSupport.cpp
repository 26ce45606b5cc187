#include "GuiTestSupport.h"

#include "FakeDevice.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSurfaceFormat>
#include <QTest>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <unistd.h>

namespace viewer_test {

std::string deviceAddress() {
    return processDeviceAddress();
}

unsigned processDataPort() {
    // Inside the walk of ports (4366 to 5000) but away from its start.
    return 4400 + static_cast<unsigned>(::getpid()) % 550;
}

void resetSettings() {
    QSettings settings;
    settings.clear();
    settings.setValue("network/port", processDataPort());
    settings.sync();
}

QStringList logLines(QWidget* window) {
    auto* log = child<QPlainTextEdit>(window, "log_plainTextEdit");
    QStringList lines;
    static const QRegularExpression prefix("^\\[\\d+\\]: ");
    for (QString line : log->toPlainText().split('\n', Qt::SkipEmptyParts)) {
        lines << line.remove(prefix);
    }
    return lines;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

void onNextModal(const std::function<void(QWidget*)>& action) {
    // Polls from the modal dialog's own event loop; gives up after about 5 s.
    auto attempts = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [action, attempts, poll]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            action(modal);
            return;
        }
        if (++*attempts < 500) {
            QTimer::singleShot(10, *poll);
        }
    };
    QTimer::singleShot(10, *poll);
}

} // namespace viewer_test

namespace {

// The application's arguments, from which every window reads its device address.
std::string program;
std::string address;
char* arguments[] = {nullptr, nullptr, nullptr};

} // namespace

namespace viewer_test {

void setWindowAddress(const std::string& next) {
    address = next;
    arguments[1] = address.data();
}

} // namespace viewer_test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    program = argv[0];
    arguments[0] = program.data();
    viewer_test::setWindowAddress(viewer_test::deviceAddress());
    static int count = 2;
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication application(count, arguments);
    QCoreApplication::setOrganizationName("Tavrel Dynamics");
    QCoreApplication::setApplicationName("LX30Tools");
    return RUN_ALL_TESTS();
}
