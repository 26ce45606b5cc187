#pragma once

// The window's settings: set and read in memory at once, as with QSettings, and written to disk
// on a thread of their own. QSettings writes its file on the thread that changed it, with a
// flush to the disk, and that took over half a second while other work kept the disk busy: the
// GUI thread must not wait for it.
//
// GUI thread only (construction, destruction and every call). While the writer holds the file
// (a write in progress), a read or a change on the GUI thread waits for it; the window changes
// settings seldom, and its frequent reads keep a copy of what they need.

#include <QSettings>
#include <QThread>

#include <atomic>

namespace window {

class DeferredSettings : public QSettings {
public:
    DeferredSettings();
    // Ends the writer and writes what it had not written yet.
    ~DeferredSettings() override;
    DeferredSettings(const DeferredSettings&) = delete;
    DeferredSettings& operator=(const DeferredSettings&) = delete;

    // As QSettings::setValue (which it hides); the file follows on the writer's thread.
    void setValue(const QString& key, const QVariant& value);

protected:
    // QSettings writes its file when it receives this event, on this thread.
    bool event(QEvent* event) override;

private:
    void writeSoon();

    QThread m_thread;
    // The same file through an object of the writer's thread; the process shares one copy of
    // the file's contents between both objects.
    QSettings* m_writer;
    std::atomic<bool> m_writeQueued{false};
};

} // namespace window
