#include "GuiTestSupport.h"

#include "FakeDevice.h"

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QSurfaceFormat>
#include <QTest>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace viewer_test {

namespace {

// A test process uses up to this many data ports from its own (taken ones walked past, a second
// window, a port chosen in the preferences), all inside the walk of ports (4366 to 5000) and
// away from its start.
constexpr unsigned kPortsPerSlot = 20;
constexpr unsigned kSlots = 30;
constexpr unsigned kFirstSlotPort = 4400;

// Claims a slot by binding an abstract socket name of its own, which this process holds until it
// ends, so that test processes run at once (from this tree or another) never share a slot.
// Waits for one to come free when all are held.
unsigned claimSlot() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const unsigned first = static_cast<unsigned>(::getpid()) % kSlots;
    do {
        for (unsigned i = 0; i < kSlots; ++i) {
            const unsigned slot = (first + i) % kSlots;
            const int s = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const std::string name = "sentova-window-test-slot-" + std::to_string(slot);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path + 1, name.data(), name.size());
            const auto length =
                static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
            if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), length) == 0) {
                return slot;
            }
            ::close(s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < deadline);
    throw std::runtime_error("no free window test slot");
}

} // namespace

unsigned processSlot() {
    static const unsigned slot = claimSlot();
    return slot;
}

std::string deviceAddress() {
    return processDeviceAddress();
}

unsigned processDataPort() {
    return kFirstSlotPort + kPortsPerSlot * processSlot();
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

bool waitForDisplayRefresh(QWidget* window, std::chrono::milliseconds timeout) {
    auto* figure = child<QLabel>(window, "totalPoints_label");
    figure->clear();
    return waitUntil([figure] { return !figure->text().isEmpty(); }, timeout);
}

namespace {

constexpr int kModalPollMs = 10;
// A dialog that the caller's exec() would wait on for good: none to answer, or one still open
// after its answer (a message box the answer raised, say), fails the test past these instead.
constexpr qint64 kModalAppearMs = 60000;
constexpr qint64 kModalCloseMs = 30000;

QString describeModal(QWidget* modal) {
    QString text =
        QString::fromLatin1(modal->metaObject()->className()) + " \"" + modal->windowTitle() + "\"";
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        text += ": " + box->text();
    }
    return text;
}

// Closes every modal widget still open, the topmost first, so that the caller's exec() returns.
void closeModals() {
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        if (QApplication::activeModalWidget() == modal) {
            modal->hide();
        }
    }
}

void watchUntilClosed(QPointer<QWidget> modal, std::shared_ptr<QElapsedTimer> clock) {
    if (!modal || !modal->isVisible()) {
        return;
    }
    if (clock->elapsed() > kModalCloseMs) {
        QString open = describeModal(modal);
        QWidget* top = QApplication::activeModalWidget();
        if (top && top != modal) {
            open += ", under " + describeModal(top);
        }
        ADD_FAILURE() << "a modal dialog stayed open after its answer: " << open.toStdString();
        closeModals();
        return;
    }
    QTimer::singleShot(kModalPollMs * 5, [modal, clock] { watchUntilClosed(modal, clock); });
}

// The poll holds itself until it ends; it lets go from a later turn of the event loop, not from
// inside its own call.
void release(const std::shared_ptr<std::function<void()>>& poll) {
    QTimer::singleShot(0, [poll] { *poll = nullptr; });
}

} // namespace

void onNextModal(const std::function<void(QWidget*)>& action) {
    // Polls from the modal dialog's own event loop.
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [action, clock, poll]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            // Watched from the start: an answer may itself wait in a dialog it raised.
            const QPointer<QWidget> answered(modal);
            clock->restart();
            QTimer::singleShot(kModalPollMs * 5,
                               [answered, clock] { watchUntilClosed(answered, clock); });
            action(modal);
            release(poll);
            return;
        }
        if (clock->elapsed() > kModalAppearMs) {
            ADD_FAILURE() << "no modal dialog opened within " << kModalAppearMs / 1000 << " s";
            release(poll);
            return;
        }
        QTimer::singleShot(kModalPollMs, *poll);
    };
    QTimer::singleShot(kModalPollMs, *poll);
}

} // namespace viewer_test

namespace {

// The application's arguments, from which every window reads its device address.
std::string program;
std::string address;
char* arguments[] = {nullptr, nullptr, nullptr};

// A window test that hangs is ended by CTest's time-out with nothing said of where it was. Short
// of that time-out (the shortest any window test has), the program writes out its threads'
// stacks, through gdb where it is installed, and aborts.
class HangReport {
public:
    HangReport() : m_thread([this] { watch(); }) {}
    ~HangReport() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    HangReport(const HangReport&) = delete;
    HangReport& operator=(const HangReport&) = delete;

private:
    static constexpr std::chrono::seconds kAfter{100};

    void watch() {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_wake.wait_for(lock, kAfter, [this] { return m_done; })) {
                return;
            }
        }
        std::fprintf(stderr, "still running after %lld s; the stacks of its threads:\n",
                     static_cast<long long>(kAfter.count()));
        std::fflush(stderr);
        ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
        const std::string command = "gdb -batch -nx -p " + std::to_string(::getpid()) +
                                    " -ex 'thread apply all bt' </dev/null 1>&2 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "(no stacks: gdb is missing or could not attach)\n");
        }
        std::abort();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake; // guarded by m_mutex, with m_done
    bool m_done = false;
    std::thread m_thread;
};

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
    const HangReport hangReport;
    return RUN_ALL_TESTS();
}
