// The window's settings reach their file from a thread of their own: the GUI thread sees every
// change at once and never writes the file.
#include "DeferredSettings.h"
#include "GuiTestSupport.h"

#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace viewer_test {
namespace {

QString fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Polls without running this thread's event loop: what happens meanwhile is the writer's doing.
bool becomesTrue(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(DeferredSettings, ChangesAreSeenAtOnceAndWrittenByTheWriter) {
    resetSettings();
    window::DeferredSettings settings;
    const QString path = settings.fileName();

    settings.setValue("view/pointSize", 3);
    EXPECT_EQ(QSettings().value("view/pointSize").toInt(), 3);
    EXPECT_TRUE(becomesTrue([&] { return fileText(path).contains("pointSize=3"); }));

    // A burst of changes ends with the last one in the file, each key once.
    for (int i = 0; i < 200; ++i) {
        settings.setValue("view/helperLength", 1000 + i);
    }
    EXPECT_EQ(settings.value("view/helperLength").toInt(), 1199);
    EXPECT_TRUE(becomesTrue([&] { return fileText(path).contains("helperLength=1199"); }));
    EXPECT_EQ(fileText(path).count("helperLength="), 1);
}

TEST(DeferredSettings, AChangeJustBeforeTheEndIsWritten) {
    resetSettings();
    QString path;
    {
        window::DeferredSettings settings;
        path = settings.fileName();
        settings.setValue("network/port", 4711);
    }
    EXPECT_TRUE(fileText(path).contains("port=4711"));
}

} // namespace
} // namespace viewer_test
