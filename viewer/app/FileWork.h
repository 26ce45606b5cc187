// The window's file work (saving and loading point files) on a thread of its own, apart from the
// device commands, so that neither the window nor a device command ever waits for a file. While
// a job runs, the status bar shows its progress with a Cancel button and the file actions are
// disabled; one job runs at a time.
//
// Threads: the constructor, run(), busy() and the destructor on the GUI thread; a job's work on
// the file thread, where it may call its Task; the job's report back on the GUI thread.
#pragma once

#include "CommandWorker.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

class QAction;
class QMainWindow;
class QProgressBar;
class QPushButton;

namespace window {

class FileWork {
public:
    // What a running job may ask. File thread only.
    class Task {
    public:
        // Work done so far of the total (any unit); total 0 when not known yet.
        void progress(std::uint64_t done, std::uint64_t total);
        // The operator pressed Cancel, or the window is closing and the job ends with it.
        bool cancelled() const;

    private:
        friend class FileWork;
        explicit Task(FileWork& owner) : m_owner(owner) {}
        FileWork& m_owner;
    };

    // Runs on the GUI thread once the work has ended.
    using Report = std::function<void()>;
    using Work = std::function<Report(Task&)>;

    // Adds the progress bar and Cancel button to the window's status bar (hidden until a job
    // runs); actions are disabled while one runs.
    FileWork(QMainWindow* window, QList<QAction*> actions);
    // A job that ends with the window is cancelled, any other (a save) is finished; waits for it.
    ~FileWork();
    FileWork(const FileWork&) = delete;
    FileWork& operator=(const FileWork&) = delete;

    // A job is running (until its report has run).
    bool busy() const { return m_busy; }

    // Starts work, shown as label ("Saving", "Loading") beside the progress. endsWithWindow:
    // closing the window cancels it rather than waiting for it. False when a job runs already.
    bool run(const QString& label, bool endsWithWindow, Work work);

private:
    void showProgress();
    void finished(const Report& report);
    void setIdle(bool idle);

    QMainWindow* m_window;
    QList<QPointer<QAction>> m_actions;
    QPointer<QProgressBar> m_bar;
    QPointer<QPushButton> m_cancel;
    // GUI thread only.
    bool m_busy = false;
    QString m_label;
    // Shared with the running job.
    std::atomic<int> m_permille{0};
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_endsWithWindow{false};
    // Last, so that its thread has ended before anything the job uses goes.
    sentova::command::CommandWorker m_worker;
};

} // namespace window
