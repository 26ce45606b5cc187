#include "FileWork.h"

#include <QAction>
#include <QMainWindow>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <exception>

namespace window {

namespace {

// How often the progress bar follows the job.
constexpr int kProgressPeriodMs = 100;

// The file thread yields the processor to the GUI thread: on a busy machine a load or save that
// competes with the window on equal terms starves it for hundreds of milliseconds, while the
// window leaves the file thread most of the time anyway. Linux gives each thread its own nice
// value (where that fails, the thread keeps the process's).
void yieldToTheWindow() {
    static thread_local bool yielded = false;
    if (!yielded) {
        yielded = true;
        const auto self = static_cast<id_t>(::syscall(SYS_gettid));
        ::setpriority(PRIO_PROCESS, self, ::getpriority(PRIO_PROCESS, self) + 5);
    }
}

} // namespace

void FileWork::Task::progress(std::uint64_t done, std::uint64_t total) {
    const int permille =
        total == 0 ? 0 : static_cast<int>(done >= total ? 1000 : done * 1000 / total);
    m_owner.m_permille.store(permille, std::memory_order_relaxed);
}

bool FileWork::Task::cancelled() const {
    return m_owner.m_cancelRequested.load() ||
           (m_owner.m_closing.load() && m_owner.m_endsWithWindow.load());
}

FileWork::FileWork(QMainWindow* window, QList<QAction*> actions) : m_window(window) {
    for (QAction* action : actions) {
        m_actions << action;
    }
    m_bar = new QProgressBar(window);
    m_bar->setObjectName("fileProgress_bar");
    m_bar->setRange(0, 1000);
    m_bar->setMaximumWidth(220);
    m_cancel = new QPushButton("Cancel", window);
    m_cancel->setObjectName("fileCancel_pushButton");
    QObject::connect(m_cancel, &QPushButton::clicked, [this] {
        m_cancelRequested = true;
        m_cancel->setEnabled(false);
    });
    window->statusBar()->addPermanentWidget(m_bar);
    window->statusBar()->addPermanentWidget(m_cancel);
    setIdle(true);
}

FileWork::~FileWork() {
    m_closing = true;
    m_worker.finish();
}

bool FileWork::run(const QString& label, bool endsWithWindow, Work work) {
    if (m_busy) {
        return false;
    }
    m_busy = true;
    m_label = label;
    m_permille = 0;
    m_cancelRequested = false;
    m_endsWithWindow = endsWithWindow;
    setIdle(false);
    showProgress();
    const bool posted =
        m_worker.post([this, work = std::move(work)](sentova::command::JobContext&) {
            yieldToTheWindow();
            Task task(*this);
            Report report;
            try {
                report = work(task);
            } catch (const std::exception& e) {
                // The work reports its own failures; this is the last resort (out of memory, say).
                const QString what = m_label + " failed: " + QString::fromLocal8Bit(e.what());
                report = [this, what] { m_window->statusBar()->showMessage(what, 0); };
            }
            // Dropped by Qt when the window is gone by then.
            QMetaObject::invokeMethod(
                m_window, [this, report] { finished(report); }, Qt::QueuedConnection);
        });
    if (!posted) {
        m_busy = false;
        setIdle(true);
    }
    return posted;
}

void FileWork::showProgress() {
    if (!m_busy || !m_bar) {
        return;
    }
    m_bar->setValue(m_permille.load(std::memory_order_relaxed));
    QTimer::singleShot(kProgressPeriodMs, m_window, [this] { showProgress(); });
}

void FileWork::finished(const Report& report) {
    m_busy = false;
    setIdle(true);
    if (report) {
        report();
    }
}

void FileWork::setIdle(bool idle) {
    for (const QPointer<QAction>& action : m_actions) {
        if (action) {
            action->setEnabled(idle);
        }
    }
    if (m_bar) {
        m_bar->setFormat(m_label + " %p%");
        m_bar->setValue(0);
        m_bar->setVisible(!idle);
    }
    if (m_cancel) {
        m_cancel->setEnabled(!idle);
        m_cancel->setVisible(!idle);
    }
}

} // namespace window
