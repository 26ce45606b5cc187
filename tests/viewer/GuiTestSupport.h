// Shared pieces of the window tests: the application set-up, the window's
// log, modal dialogs answered from a timer, and waiting with the event loop
// running.
#pragma once

#include <QApplication>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

class MainWindow;

namespace viewer_test {

// This process's slot among the window test processes running at once on this machine: its
// loopback addresses and ports come from it.
unsigned processSlot();

// The address given to the window as its command-line argument in this process.
std::string deviceAddress();

// Makes the windows built from now on talk to the device at this address (the application's
// argument 1); deviceAddress() unless a test changes it.
void setWindowAddress(const std::string& address);

// The laser data port stored for this process before each window is built, the first of
// twenty of its own.
unsigned processDataPort();

// Clears the settings store and sets "network/port" to processDataPort().
void resetSettings();

// The window log's lines without their "[ms]: " prefixes.
QStringList logLines(QWidget* window);

// Processes events until condition() holds or the time-out passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

// Waits for the next display refresh that takes in a change of the point buffer: only such a
// refresh writes the points figure, which this blanks first. For showing that something did not
// happen by the time the display had caught up.
bool waitForDisplayRefresh(QWidget* window,
                           std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

// Calls action with the next modal widget that opens, from the event loop,
// while the caller blocks in that modal dialog.
void onNextModal(const std::function<void(QWidget*)>& action);

template <class T> T* child(QWidget* window, const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
}

} // namespace viewer_test

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& value, std::ostream* out) {
    *out << value.toStdString();
}
inline void PrintTo(const QStringList& value, std::ostream* out) {
    *out << value.join(" | ").toStdString();
}
