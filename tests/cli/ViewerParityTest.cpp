// The tool's capture and the viewer's "Save as" on the same stream: the simulator streams to
// both at once, and every row the tool wrote is in the viewer's file, byte for byte.
#include "SimulatorFixture.h"

#include <QFileDialog>
#include <QStatusBar>

#include <fstream>
#include <map>
#include <sstream>

namespace viewer_test {
namespace {

// The data rows of an ASCII PCD file by their last value (the timestamp).
std::map<std::string, std::string> rowsByTimestamp(const QString& path, std::size_t& rows) {
    std::ifstream in(QFile::encodeName(path).toStdString());
    std::map<std::string, std::string> byStamp;
    std::string line;
    bool data = false;
    rows = 0;
    while (std::getline(in, line)) {
        if (!data) {
            data = line == "DATA ascii";
            continue;
        }
        const std::size_t end = line.find_last_not_of(' ');
        const std::size_t start = line.rfind(' ', end);
        byStamp[line.substr(start + 1, end - start)] = line;
        ++rows;
    }
    return byStamp;
}

class ToolAndViewer : public SimulatorTest {};

TEST_F(ToolAndViewer, CaptureAndSaveAsGiveTheSameRows) {
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    startSimulator("LX30");
    click("startLaserPushButton");
    ASSERT_TRUE(waitUntil([&] { return totalPoints() > 1000; }, std::chrono::seconds(5)));

    const QString toolFile = scratch.filePath("tool.pcd");
    QProcess tool;
    tool.start(QStringLiteral(SENTOVA_CLI_PROGRAM),
               {"capture", QString::fromStdString(deviceAddress()), "-o", toolFile, "--port",
                QString::number(processDataPort() + 600), "--seconds", "1", "--quiet"});
    ASSERT_TRUE(tool.waitForStarted(5000));
    ASSERT_TRUE(
        waitUntil([&] { return tool.state() == QProcess::NotRunning; }, std::chrono::seconds(20)));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    std::size_t toolRows = 0;
    const auto fromTool = rowsByTimestamp(toolFile, toolRows);
    // The tool has stopped its stream: of all the device has sent, no more than the tool's rows
    // went to the tool. Once the window shows the rest (less a point the listener may hold back),
    // it holds everything sent while the tool captured.
    const long long sent = pointsSent(*simulator);
    ASSERT_GE(sent, 0);
    EXPECT_TRUE(waitUntil([&] {
        return totalPoints() + 1 >= sent - static_cast<long long>(toolRows);
    })) << totalPoints()
        << " shown, " << sent << " sent, " << toolRows << " to the tool";
    click("stopLaserPushButton");

    const QString viewerFile = scratch.filePath("viewer.pcd");
    onNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(viewerFile);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "saveFileAs"));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(viewerFile); }, std::chrono::seconds(10)));
    ASSERT_TRUE(waitUntil([&] { return window->statusBar()->currentMessage().endsWith("saved."); },
                          std::chrono::seconds(10)));

    std::size_t viewerRows = 0;
    const auto fromViewer = rowsByTimestamp(viewerFile, viewerRows);
    ASSERT_GT(toolRows, 10000u); // a second of the LX30's 25000 points per second
    EXPECT_EQ(fromTool.size(), toolRows) << "timestamps repeat";
    EXPECT_GT(viewerRows, toolRows);
    std::size_t same = 0;
    for (const auto& [stamp, row] : fromTool) {
        const auto found = fromViewer.find(stamp);
        ASSERT_NE(found, fromViewer.end()) << stamp;
        EXPECT_EQ(found->second, row);
        same += found->second == row;
    }
    EXPECT_EQ(same, toolRows);
}

} // namespace
} // namespace viewer_test
