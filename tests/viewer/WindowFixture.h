// A window built against a fake device on this process's loopback address.
#pragma once

#include "FakeDevice.h"
#include "GuiTestSupport.h"
#include "MainWindow.h"

#include "Sentova/Sentova.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace viewer_test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetSettings();
        device = std::make_unique<FakeDevice>(deviceAddress());
    }

    void TearDown() override {
        // The window first: it stops the listener and the command channels.
        window.reset();
        device.reset();
    }

    MainWindow* openWindow() {
        window = std::make_unique<MainWindow>();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        // The serial number's answer (or its time-out) picks the panel.
        EXPECT_TRUE(settle());
        return window.get();
    }

    // Waits until the window's device commands have ended and reported.
    bool settle(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return waitUntil([this] { return !window->waitingForDevice(); }, timeout);
    }

    // Presses a button and waits for the command it starts, if any.
    void click(const char* name) {
        QTest::mouseClick(widget<QWidget>(name), Qt::LeftButton);
        EXPECT_TRUE(settle()) << name;
    }

    template <class T> T* widget(const char* name) {
        T* found = child<T>(window.get(), name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    static QString text(tavrel::tavrel_error_t code) {
        return QString::fromStdString(tavrel::Sentova::GetErrorString(code));
    }

    std::unique_ptr<FakeDevice> device;
    std::unique_ptr<MainWindow> window;
};

} // namespace viewer_test
