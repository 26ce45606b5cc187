// The window's file commands: "Save as..." in every point format, the LX20 writer, and "Load" of
// point files, handing recordings of the device's traffic to the recording player. The dialogs run
// on the GUI thread; the files are written and read on the file thread (FileWork), which copies the
// buffer a slice at a time for a save, and after a load replaces it in one exchange. The display's
// copy of a load into an empty scene is laid out on a thread of its own while the file is read;
// over a full scene it is laid out from the new buffer after the exchange, once the former points
// are on their way out.
#include "FileCommands.h"

#include "BufferSnapshot.h"
#include "ChunkedCloud.h"
#include "DeferredSettings.h"
#include "FileChoice.h"
#include "FileWork.h"
#include "FollowingCopy.h"
#include "Formats.h"
#include "MemoryRelease.h"
#include "PointStore.h"
#include "PointStream.h"
#include "PolyDataPoints.h"
#include "PreparedCloud.h"
#include "RecordingSave.h"

#include "SentovaMcap/Reader.h"

#include <QFile>
#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>

#include <vtkFieldData.h>
#include <vtkStringArray.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace {

// Field-data array carrying the reason when loadPCDFile could not read the file.
const char* const kLoadErrorArray = "LoadError";

// Points copied per hold of the points lock when a save takes its snapshot: a few milliseconds.
constexpr std::size_t kSnapshotSlice = 65536;
// Between two slices: time enough for a thread woken when the lock is let go to take it.
constexpr std::chrono::microseconds kFileSliceGap{300};

constexpr int kFileReportMs = 5000;

// The point cloud channel of an MCAP file as one heap of points, in the file's order.
// With the task's progress bar and cancel, as the other formats are read.
formats::ReadResult readMcap(const std::string& path, window::FileWork::Task& task) {
    sentova::mcap::PointCloudRead mcap = sentova::mcap::readPointClouds(
        path, [&task](std::uint64_t done, std::uint64_t total) { task.progress(done, total); },
        [&task] { return task.cancelled(); });
    formats::ReadResult read;
    read.ok = mcap.ok;
    read.cancelled = mcap.cancelled;
    read.error = mcap.error;
    read.points = std::move(mcap.points);
    return read;
}

// A point file read into the buffer's records, each chunk handed on to the display's copy when
// one follows the read.
formats::ReadResult readPoints(const std::string& path, const formats::Progress& progress,
                               const formats::Cancel& cancel, viewer::FollowingCopy* copy) {
    formats::ReadResult read;
    read.format = formats::guessFormat(path);
    const std::unique_ptr<formats::PointReader> reader =
        formats::openReader(path, read.format, formats::everyField(), read.error);
    if (!reader) {
        return read;
    }
    read.format = reader->format();
    read.fields = reader->fields();
    std::vector<DataPoint> chunk;
    chunk.reserve(formats::kChunkPoints);
    formats::Ticker ticker(reader->size(), progress, cancel);
    while (ticker.at(reader->position()) && reader->next(chunk)) {
        read.points.insert(read.points.end(), chunk.begin(), chunk.end());
        if (copy) {
            copy->follow(std::move(chunk));
            chunk = copy->spare();
            chunk.reserve(formats::kChunkPoints);
        }
    }
    read.cancelled = ticker.cancelled();
    read.error = read.cancelled ? std::string() : reader->error();
    read.ok = !read.cancelled && read.error.empty();
    if (!read.ok) {
        read.points.clear();
        return read;
    }
    ticker.finish();
    return read;
}

// The display's copy of the points a load has just put in the store, laid out from the store's
// buffer a slice at a time (so that the listener and the display wait for one slice at most),
// and given to the store however this ends, so that the display never waits for it in vain. A
// Cancel no longer applies: the new points are in the store, and this takes a few tenths of a
// second.
void layDisplayCopy(viewer::PointStore& store) {
    struct Given {
        viewer::PointStore& store;
        std::shared_ptr<viewer::PreparedCloud> copy;
        ~Given() { store.giveCopy(std::move(copy)); }
    };
    Given given{store, nullptr};
    auto copy = std::make_shared<viewer::PreparedCloud>(viewer::ChunkedCloud::kDefaultLargeBits,
                                                        viewer::ChunkedCloud::kDefaultSmallBits);
    using Step = viewer::PointStore::CopyStep;
    Step step = Step::More;
    while (step == Step::More) {
        step = store.layCopy(*copy, kSnapshotSlice);
        std::this_thread::sleep_for(kFileSliceGap);
    }
    if (step == Step::Done) {
        copy->finish();
        given.copy = std::move(copy);
    }
}

QString desktop() {
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
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

// Asks for the name to save as; the filter chosen picks the format. Empty when cancelled.
std::optional<viewer::SaveTarget> askSaveTarget(QWidget* parent, bool everyFormat,
                                                const QString& caption = "Save scan as") {
    const std::vector<viewer::SaveFilter>& filters = viewer::saveFilters();
    QString selected = QString::fromStdString(filters.front().text);
    const QString list = everyFormat ? QString::fromStdString(viewer::saveFilterList()) : selected;
    const QString name = QFileDialog::getSaveFileName(parent, caption, desktop(), list, &selected);
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return viewer::saveTarget(name.toStdString(), selected.toStdString());
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

enum class SaveChoice { Shown, Whole, Cancelled };

SaveChoice askShownOrWhole(QWidget* parent) {
    QMessageBox box(QMessageBox::Question, "Save scan as",
                    "Save the frames shown, or every frame of the recording?", QMessageBox::Cancel,
                    parent);
    QPushButton* shown = box.addButton("The shown frame(s)", QMessageBox::AcceptRole);
    shown->setObjectName("saveShownPushButton");
    QPushButton* whole = box.addButton("The whole recording", QMessageBox::AcceptRole);
    whole->setObjectName("saveWholePushButton");
    box.setDefaultButton(shown);
    box.exec();
    if (box.clickedButton() == shown) {
        return SaveChoice::Shown;
    }
    return box.clickedButton() == whole ? SaveChoice::Whole : SaveChoice::Cancelled;
}

} // namespace

namespace window {

FileCommands::FileCommands(QMainWindow* window, viewer::PointStore& store,
                           DeferredSettings& settings, QList<QAction*> fileActions)
    : window(window), store(store), settings(settings),
      fileWork(std::make_unique<FileWork>(window, std::move(fileActions))) {}

FileCommands::~FileCommands() = default;

void FileCommands::setModel(LIDAR_TYPE model, bool fast) {
    mode = model;
    highSpeed = fast;
}

void FileCommands::setRecordings(Recordings given) {
    recordings = std::move(given);
}

bool FileCommands::refused() {
    if (!fileWork->busy()) {
        return false;
    }
    window->statusBar()->showMessage("A file is being saved or loaded: wait for it, or cancel it.",
                                     kFileReportMs);
    return true;
}

void FileCommands::saveFileAs() {
    if (refused()) {
        return;
    }
    std::shared_ptr<const sentova::pcap::RecordingIndex> whole =
        recordings.current ? recordings.current() : nullptr;
    if (whole) {
        const SaveChoice choice = askShownOrWhole(window);
        if (choice == SaveChoice::Cancelled) {
            return;
        }
        if (choice == SaveChoice::Shown) {
            whole.reset();
        }
    }
    const std::optional<viewer::SaveTarget> target = askSaveTarget(window, true);
    if (!target) {
        return;
    }
    formats::WriteOptions options;
    options.fields = formats::forModel(readSelection(settings), mode);
    if (whole) {
        saveRecordingInBackground(text(target->path), target->format, options, std::move(whole));
    } else {
        saveInBackground(text(target->path), target->format, options);
    }
}

void FileCommands::saveRecordingInBackground(
    const QString& name, formats::Format format, const formats::WriteOptions& options,
    std::shared_ptr<const sentova::pcap::RecordingIndex> recording) {
    window->statusBar()->showMessage("Saving file: " + name, 0);
    const std::string path = QFile::encodeName(name).toStdString();
    const LIDAR_TYPE model = mode;
    const bool fast = highSpeed;
    // A long save ends with the window: the file is then not written at all.
    fileWork->run("Saving", true, [=](FileWork::Task& task) -> FileWork::Report {
        const formats::Outcome outcome = saveRecording(
            *recording, path, format, options, model, fast,
            [&task](std::uint64_t done, std::uint64_t total) { task.progress(done, total); },
            [&task] { return task.cancelled(); });
        return [this, name, outcome] { reportSaved(name, outcome); };
    });
}

void FileCommands::saveLX20FileAs() {
    if (refused()) {
        return;
    }
    const std::optional<viewer::SaveTarget> target = askSaveTarget(window, false);
    if (!target) {
        return;
    }
    formats::WriteOptions options;
    options.fields = readSelection(settings);
    options.lx20 = readFormats(settings);
    saveInBackground(text(target->path), formats::Format::PcdAscii, options);
}

void FileCommands::saveSelectionAs(std::shared_ptr<const std::deque<DataPoint>> points) {
    if (!points || refused()) {
        return;
    }
    const std::optional<viewer::SaveTarget> target =
        askSaveTarget(window, true, "Save selection as");
    if (!target) {
        return;
    }
    formats::WriteOptions options;
    options.fields = formats::forModel(readSelection(settings), mode);
    const QString name = text(target->path);
    window->statusBar()->showMessage("Saving file: " + name, 0);
    const std::string path = QFile::encodeName(name).toStdString();
    const formats::Format format = target->format;
    // The selection is a copy of its own: nothing to take from the buffer.
    fileWork->run("Saving", false, [=](FileWork::Task& task) -> FileWork::Report {
        const formats::Outcome outcome = formats::write(
            path, format, *points, options,
            [&task](std::uint64_t done, std::uint64_t total) { task.progress(done, total); },
            [&task] { return task.cancelled(); });
        return [this, name, outcome] { reportSaved(name, outcome); };
    });
}

void FileCommands::saveInBackground(const QString& name, formats::Format format,
                                    const formats::WriteOptions& options) {
    window->statusBar()->showMessage("Saving file: " + name, 0);
    const std::string path = QFile::encodeName(name).toStdString();
    // The file holds the points of the buffer now. They are copied on the file thread a slice at
    // a time; points that arrive meanwhile join the buffer (and the display) but not the file.
    using Points = std::deque<DataPoint>;
    const std::shared_ptr<viewer::BufferSnapshot> snapshot =
        store.withBuffer([](const Points& points, viewer::BufferLog& log) {
            return std::make_shared<viewer::BufferSnapshot>(points, log);
        });
    const bool started =
        fileWork->run("Saving", false, [=](FileWork::Task& task) -> FileWork::Report {
            using Step = viewer::BufferSnapshot::Step;
            Step step = Step::More;
            while (step == Step::More && !task.cancelled()) {
                step = store.withBuffer([&](const Points& points, const viewer::BufferLog& log) {
                    return snapshot->copy(points, log, kSnapshotSlice);
                });
                // The lock goes to no one in particular when it is let go: without a pause this
                // thread takes it straight back, and the display and the listener wait for the
                // whole copy (a second for 10,000,000 points).
                std::this_thread::sleep_for(kFileSliceGap);
            }
            if (store.withBuffer([&](Points& points, viewer::BufferLog& log) {
                    return snapshot->release(points, log);
                })) {
                store.markChanged();
            }
            formats::Outcome outcome;
            if (step == Step::Done && !task.cancelled()) {
                const std::deque<DataPoint> copy = snapshot->take();
                outcome = formats::write(
                    path, format, copy, options,
                    [&task](std::uint64_t done, std::uint64_t total) {
                        task.progress(done, total);
                    },
                    [&task] { return task.cancelled(); });
            } else if (step == Step::Replaced) {
                outcome.error = "the scene was cleared or replaced before all its points were "
                                "copied";
            } else {
                outcome.cancelled = true;
            }
            // The copy, whole or partial, is freed and its memory handed back to the system.
            snapshot->take();
            viewer::returnFreeMemory();
            return [this, name, outcome] { reportSaved(name, outcome); };
        });
    if (!started) {
        store.withBuffer(
            [&](Points& points, viewer::BufferLog& log) { snapshot->release(points, log); });
    }
}

void FileCommands::reportSaved(const QString& name, const formats::Outcome& outcome) {
    if (outcome.ok) {
        window->statusBar()->showMessage("File " + name + " saved.", kFileReportMs);
    } else if (outcome.cancelled) {
        window->statusBar()->showMessage("Saving file " + name + " cancelled; nothing was written.",
                                         kFileReportMs);
    } else {
        window->statusBar()->showMessage("Could not save file " + name + ": " + text(outcome.error),
                                         0);
    }
}

void FileCommands::askForFileToLoad() {
    if (refused()) {
        return;
    }
    const QString filters = text(viewer::loadFilterList());
    QString selected = filters.section(";;", 0, 0);
    const QString name =
        QFileDialog::getOpenFileName(window, "Load PCD file", desktop(), filters, &selected);
    if (name.isEmpty()) {
        store.forgetReceived();
        return;
    }
    const std::string path = QFile::encodeName(name).toStdString();
    // Whatever comes next replaces what the recording shows.
    recordings.close();
    window->statusBar()->showMessage("Loading file: " + name, 0);
    fileWork->run("Loading", true, [=](FileWork::Task& task) -> FileWork::Report {
        // Telling a capture by its first bytes is a read of the file too: here, not on the GUI
        // thread.
        const viewer::LoadKind kind = viewer::loadKind(path);
        if (kind == viewer::LoadKind::Capture) {
            return [this, path, name] { recordings.open(path, name); };
        }
        formats::ReadResult read;
        // Into an empty scene the display's copy follows the read: there are no former points to
        // free before it takes its memory.
        std::optional<viewer::FollowingCopy> following;
        if (kind == viewer::LoadKind::Mcap) {
            read = readMcap(path, task);
        } else {
            const formats::Progress progress = [&task](std::uint64_t done, std::uint64_t total) {
                task.progress(done, total);
            };
            const formats::Cancel cancel = [&task] { return task.cancelled(); };
            const bool empty = store.withBuffer([](const std::deque<DataPoint>& points,
                                                   viewer::BufferLog&) { return points.empty(); });
            if (empty) {
                following.emplace(viewer::ChunkedCloud::kDefaultLargeBits,
                                  viewer::ChunkedCloud::kDefaultSmallBits);
            }
            read = readPoints(path, progress, cancel, following ? &*following : nullptr);
        }
        const QString error = text(read.error);
        // A cancel the reader did not see in time still keeps the buffer as it is.
        if (read.cancelled || task.cancelled()) {
            return [this, name] {
                window->statusBar()->showMessage("Loading file " + name +
                                                     " cancelled; the points shown are kept.",
                                                 kFileReportMs);
            };
        }
        if (!error.isEmpty()) {
            return [this, name, error] {
                window->statusBar()->showMessage("Could not load file " + name + ": " + error, 0);
            };
        }
        // The former points go to the store's release thread at once, so that they are gone
        // before the display's copy of the new ones takes its memory (freed here, with the
        // window, when it is closing).
        auto former = std::make_shared<std::deque<DataPoint>>(
            following ? store.exchangeWithCopy(std::move(read.points), following->finish())
                      : store.exchangeBeforeCopy(std::move(read.points)));
        QMetaObject::invokeMethod(
            window, [this, former] { store.release(std::move(*former)); }, Qt::QueuedConnection);
        if (!following) {
            layDisplayCopy(store);
        }
        return [this, name] {
            window->statusBar()->showMessage("File " + name + " loaded.", kFileReportMs);
        };
    });
}

vtkSmartPointer<vtkPolyData> FileCommands::loadPCDFile(const std::string& filename) {
    formats::ReadResult result = formats::read(filename);
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

} // namespace window
