// The window's device operations, run on the command worker one at a time in the order the
// operator asked, so the GUI thread never waits on the device. What an operation reports, and
// the GUI-side steps it needs, come back to the GUI thread by queued invocation, in the order
// they were made.
#pragma once

#include "CommandWorker.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class DeviceCommands {
public:
    // A running operation's way back to the GUI thread. Used on the worker thread only.
    class Steps {
    public:
        // True once the window is shutting down: a sequence stops before its next device call.
        bool cancelled() const { return m_job.cancelled(); }
        // Queues a window log line; returns at once.
        void log(const QString& message);
        // Names the step that now waits for the device in the status bar.
        void waitingFor(const QString& step);
        // Runs call on the GUI thread and waits until it has run. False when the window shut
        // down first; call may then not run at all.
        bool onGui(std::function<void()> call);

    private:
        friend class DeviceCommands;
        Steps(DeviceCommands& owner, sentova::command::JobContext& job, const QString& operation)
            : m_owner(owner), m_job(job), m_operation(operation) {}
        DeviceCommands& m_owner;
        sentova::command::JobContext& m_job;
        QString m_operation;
    };
    using Work = std::function<void(Steps&)>;

    struct Hooks {
        // The window log (GUI thread).
        std::function<void(const QString&)> log;
        // Shows that an operation waits for the device (GUI thread).
        std::function<void(const QString&)> waiting;
    };

    // context: the GUI-thread object through which reports are delivered; it must outlive
    // finish(). worker: where the operations run; it must outlive this.
    DeviceCommands(QObject* context, Hooks hooks, sentova::command::CommandWorker& worker);
    ~DeviceCommands();
    DeviceCommands(const DeviceCommands&) = delete;
    DeviceCommands& operator=(const DeviceCommands&) = delete;

    // GUI thread. Queues the operation behind the others; controls stay disabled from now until
    // it has ended. An exception from the library (a send that failed) ends the operation with a
    // log line naming it.
    void run(const QString& operation, const QList<QWidget*>& controls, Work work);

    // GUI thread. Queues work of the window's own, not the operator's (a status query, the stops
    // at quit): no controls are held, the status bar is left alone, and inFlight() does not
    // count it.
    void runInBackground(Work work);

    // GUI thread. Drops the queued operations (their controls stay disabled: the window is
    // going) and tells the running one to stop before its next device call. Operations queued
    // afterwards still run.
    void cancel();
    // GUI thread. Runs what is queued, waits for the running operation (at most its device
    // time-out) and ends the worker. Later operations are ignored.
    void finish();

    // GUI thread. True from run() until the operation has ended and everything it reported has
    // reached the window; for each one queued or running.
    bool inFlight() const { return m_inFlight != 0; }

private:
    void toGui(std::function<void()> call);
    void release(const QList<QPointer<QWidget>>& controls);

    QPointer<QObject> m_context;
    Hooks m_hooks;
    // GUI thread: how many queued or running operations hold each control disabled.
    QHash<QWidget*, int> m_holds;
    // GUI thread: operations run() and not yet released.
    int m_inFlight = 0;
    sentova::command::CommandWorker& m_worker;
};
