// The window's file commands: saving the point buffer as PCD and loading a PCD file into it.
// Formatting and parsing live in the formats module; these slots ask for the name and report.
#include "MainWindow.h"

#include "PcdFile.h"
#include "PolyDataPoints.h"

#include <QFile>
#include <QFileDialog>
#include <QStandardPaths>
#include <QStatusBar>

#include <vtkFieldData.h>
#include <vtkPointData.h>
#include <vtkStringArray.h>

#include <functional>

namespace {

// Field-data array carrying the reason when loadPCDFile could not read the file.
const char* const kLoadErrorArray = "LoadError";

QString desktop() {
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString askSaveName(QWidget* parent) {
    QString selected = "*.pcd";
    return QFileDialog::getSaveFileName(parent, "Save scan as", desktop(),
                                        "Point cloud data (*.pcd)", &selected);
}

formats::FieldSelection readSelection(QSettings& settings) {
    auto on = [&settings](const char* key, int byDefault) {
        return settings.value(key, byDefault).toInt() != 0;
    };
    formats::FieldSelection s;
    s.x = on("save/x", 1);
    s.y = on("save/y", 1);
    s.z = on("save/z", 1);
    s.az = on("save/az", 0);
    s.el = on("save/el", 0);
    s.range = on("save/range", 0);
    s.intensity = on("save/intensity", 1);
    s.reflectance = on("save/reflectance", 1);
    s.pulseShapeDeviation = on("save/pulseShapeDeviation", 1);
    s.timestamp = on("save/timestamp", 1);
    return s;
}

formats::Lx20Formats readFormats(QSettings& settings) {
    auto format = [&settings](const char* key) { return settings.value(key, 0).toInt(); };
    formats::Lx20Formats f;
    f.x = format("save/x_format");
    f.y = format("save/y_format");
    f.z = format("save/z_format");
    f.az = format("save/az_format");
    f.el = format("save/el_format");
    f.range = format("save/range_format");
    f.intensity = format("save/intensity_format");
    return f;
}

using Writer = std::function<std::string(const std::string& path)>;

// Asks for the name, writes under the caller's lock through `write`, and reports the outcome.
void saveScan(QWidget* parent, QStatusBar* bar, boost::mutex& pointsMutex, const Writer& write) {
    QString name = askSaveName(parent);
    if (name.isEmpty()) {
        return;
    }
    name = QString::fromStdString(formats::withPcdExtension(name.toStdString()));
    bar->showMessage("Saving file: " + name, 0);
    std::string error;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        error = write(QFile::encodeName(name).toStdString());
    }
    if (error.empty()) {
        bar->showMessage("File " + name + " saved.", 5000);
    } else {
        bar->showMessage("Could not save file " + name + ": " + QString::fromStdString(error), 0);
    }
}

} // namespace

void MainWindow::saveFileAs() {
    const formats::FieldSelection selection = readSelection(settings);
    const LIDAR_TYPE model = mode;
    saveScan(this, statusBar(), pointsMutex, [&](const std::string& path) {
        return formats::savePcdFile(path, points, selection, model);
    });
}

void MainWindow::saveLX20FileAs() {
    const formats::FieldSelection selection = readSelection(settings);
    const formats::Lx20Formats formats = readFormats(settings);
    saveScan(this, statusBar(), pointsMutex, [&](const std::string& path) {
        return formats::saveLx20PcdFile(path, points, selection, formats);
    });
}

void MainWindow::askForPCDFileToLoad() {
    QString selected = "*.pcd";
    const QString name = QFileDialog::getOpenFileName(this, "Load PCD file", desktop(),
                                                      "Point cloud data (*.pcd)", &selected);
    if (name.isEmpty()) {
        pointsReceived = 0;
        return;
    }
    statusBar()->showMessage("Loading file: " + name, 0);

    // The file is read completely before the buffer is touched, so a file that cannot be read
    // leaves the points on screen as they were.
    vtkSmartPointer<vtkPolyData> loaded = loadPCDFile(QFile::encodeName(name).toStdString());
    if (loaded->GetPointData()->GetNumberOfArrays() == 0) {
        QString reason = "unknown error";
        if (auto error = vtkStringArray::SafeDownCast(
                loaded->GetFieldData()->GetAbstractArray(kLoadErrorArray))) {
            reason = QString::fromStdString(error->GetValue(0));
        }
        statusBar()->showMessage("Could not load file " + name + ": " + reason, 0);
        return;
    }
    std::deque<DataPoint> fresh = viewer::polyDataToPoints(loaded);
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        viewer::replaceBuffer(points, std::move(fresh), pointsLog);
    }
    statusBar()->showMessage("File " + name + " loaded.", 5000);
    pointsReceived = 0;
    cloudChanged = true;
}

vtkSmartPointer<vtkPolyData> MainWindow::loadPCDFile(std::string filename) {
    formats::PcdLoadResult result = formats::readPcdFile(filename);
    if (!result.ok) {
        auto polyData = vtkSmartPointer<vtkPolyData>::New();
        auto error = vtkSmartPointer<vtkStringArray>::New();
        error->SetName(kLoadErrorArray);
        error->InsertNextValue(result.error);
        polyData->GetFieldData()->AddArray(error);
        return polyData;
    }
    return viewer::pointsToPolyData(result.points);
}
