#include "DeferredSettings.h"

#include <QEvent>
#include <QMetaObject>

namespace window {

DeferredSettings::DeferredSettings() : m_writer(new QSettings) {
    m_thread.setObjectName("settings writer");
    m_writer->moveToThread(&m_thread);
    m_thread.start();
}

DeferredSettings::~DeferredSettings() {
    m_thread.quit();
    m_thread.wait();
    delete m_writer;
    // A write queued as the thread ended may not have run.
    QSettings::sync();
}

void DeferredSettings::setValue(const QString& key, const QVariant& value) {
    QSettings::setValue(key, value);
    writeSoon();
}

void DeferredSettings::writeSoon() {
    if (m_writeQueued.exchange(true)) {
        return;
    }
    QSettings* writer = m_writer;
    std::atomic<bool>* queued = &m_writeQueued;
    QMetaObject::invokeMethod(
        writer,
        [writer, queued] {
            // Cleared first: a change made while the file is written asks for another write.
            queued->store(false);
            writer->sync();
        },
        Qt::QueuedConnection);
}

bool DeferredSettings::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest) {
        // Swallowed: QSettings then posts no more of them, and the writer writes every change.
        return true;
    }
    return QSettings::event(event);
}

} // namespace window
