#include "DeviceCommands.h"

#include <QMetaObject>

#include <exception>
#include <utility>

void DeviceCommands::Steps::log(const QString& message) {
    m_owner.toGui([owner = &m_owner, message] { owner->m_hooks.log(message); });
}

void DeviceCommands::Steps::waitingFor(const QString& step) {
    const QString text = m_operation + ": " + step;
    m_owner.toGui([owner = &m_owner, text] { owner->m_hooks.waiting(text); });
}

bool DeviceCommands::Steps::onGui(std::function<void()> call) {
    return m_job.runThere(
        [owner = &m_owner](std::function<void()> c) { owner->toGui(std::move(c)); },
        std::move(call));
}

DeviceCommands::DeviceCommands(QObject* context, Hooks hooks,
                               sentova::command::CommandWorker& worker)
    : m_context(context), m_hooks(std::move(hooks)), m_worker(worker) {}

DeviceCommands::~DeviceCommands() {
    cancel();
    finish();
}

void DeviceCommands::toGui(std::function<void()> call) {
    // Queued calls are dropped by Qt if the context object is gone by the time they would run.
    QMetaObject::invokeMethod(m_context.data(), std::move(call), Qt::QueuedConnection);
}

void DeviceCommands::release(const QList<QPointer<QWidget>>& controls) {
    --m_inFlight;
    for (const QPointer<QWidget>& control : controls) {
        if (!control) {
            continue;
        }
        auto hold = m_holds.find(control.data());
        if (hold != m_holds.end() && --hold.value() == 0) {
            m_holds.erase(hold);
            control->setEnabled(true);
        }
    }
}

void DeviceCommands::run(const QString& operation, const QList<QWidget*>& controls, Work work) {
    ++m_inFlight;
    QList<QPointer<QWidget>> held;
    for (QWidget* control : controls) {
        ++m_holds[control];
        control->setEnabled(false);
        held << control;
    }
    const bool queued = m_worker.post(
        [this, operation, held, work = std::move(work)](sentova::command::JobContext& job) {
            Steps steps(*this, job, operation);
            toGui([this, operation] { m_hooks.waiting(operation); });
            try {
                work(steps);
            } catch (const std::exception& error) {
                steps.log(operation + ": " + QString::fromLocal8Bit(error.what()));
            }
            toGui([this, held] { release(held); });
        });
    if (!queued) {
        release(held);
    }
}

void DeviceCommands::runInBackground(Work work) {
    m_worker.post([this, work = std::move(work)](sentova::command::JobContext& job) {
        Steps steps(*this, job, QString());
        try {
            work(steps);
        } catch (const std::exception& error) {
            steps.log(QString::fromLocal8Bit(error.what()));
        }
    });
}

void DeviceCommands::cancel() {
    m_worker.cancel();
}

void DeviceCommands::finish() {
    m_worker.finish();
}
