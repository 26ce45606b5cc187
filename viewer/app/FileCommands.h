// The window's file commands: "Save as..." in every point format, the LX20 writer, and "Load" of
// point files, handing recordings of the device's traffic to the recording player. The dialogs run
// on the GUI thread; the files are written and read on the file thread (FileWork), which copies the
// buffer a slice at a time for a save, and after a load replaces it in one exchange, then lays the
// display's copy out from it.
#pragma once

#include "Formats.h"

#include "Sentova/DeviceModel.h"

#include <QList>
#include <QString>

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QMainWindow;

namespace sentova::pcap {
class RecordingIndex;
}

namespace viewer {
class PointStore;
}

namespace window {

class DeferredSettings;
class FileWork;

class FileCommands {
public:
    // fileActions are disabled while a file is saved or loaded. store and settings must outlive
    // this.
    FileCommands(QMainWindow* window, viewer::PointStore& store, DeferredSettings& settings,
                 QList<QAction*> fileActions);
    // A load in progress stops; a save is finished first.
    ~FileCommands();
    FileCommands(const FileCommands&) = delete;
    FileCommands& operator=(const FileCommands&) = delete;

    // The model shown and the LX20's high-speed mode: the columns saved, and how a recording's
    // observations become points.
    void setModel(LIDAR_TYPE model, bool fast);

    // Recordings are opened by the recording player; anything loaded first closes the one open,
    // so that the store is the file thread's.
    struct Recordings {
        std::function<void(const std::string& path, const QString& name)> open;
        std::function<void()> close;
        // The recording open, or null: "Save as" then offers the whole of it.
        std::function<std::shared_ptr<const sentova::pcap::RecordingIndex>()> current;
    };
    void setRecordings(Recordings recordings);

    void saveFileAs();
    void saveLX20FileAs();
    // Writes points (a selection of the view's) in the format the operator picks, with the
    // columns of "Save as...".
    void saveSelectionAs(std::shared_ptr<const std::deque<DataPoint>> points);
    void askForFileToLoad();
    vtkSmartPointer<vtkPolyData> loadPCDFile(const std::string& filename);

private:
    // True, with a word in the status bar, while a file is being saved or loaded.
    bool refused();
    void saveInBackground(const QString& name, formats::Format format,
                          const formats::WriteOptions& options);
    void reportSaved(const QString& name, const formats::Outcome& outcome);
    void saveRecordingInBackground(const QString& name, formats::Format format,
                                   const formats::WriteOptions& options,
                                   std::shared_ptr<const sentova::pcap::RecordingIndex> recording);

    QMainWindow* window;
    viewer::PointStore& store;
    DeferredSettings& settings;
    Recordings recordings;
    LIDAR_TYPE mode = LIDAR_GENERIC;
    bool highSpeed = false;
    // The file thread; last, so that a save still running has finished before what it uses
    // goes.
    std::unique_ptr<FileWork> fileWork;
};

} // namespace window
