// The local data port: the stored choice, the listener that walks on from a port that is taken,
// and the port's place in the preferences dialog.
#include "ListenerPort.h"

#include "DataPort.h"
#include "DeferredSettings.h"
#include "DeviceSession.h"
#include "PreferencesDialog.h"
#include "ui_PreferencesDialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>

namespace {

// How many ports after a taken one the listener tries before it gives up.
constexpr int kPortsToTry = 20;

} // namespace

namespace window {

std::uint32_t ListenerPort::storedDataPort() {
    const QVariant stored = settings.value("network/port");
    if (!stored.isValid()) {
        return kDefaultDataPort;
    }
    if (const std::optional<std::uint32_t> chosen =
            viewer::parseDataPort(stored.toString().toStdString())) {
        return *chosen;
    }
    log("Stored data port '" + stored.toString() + "' is not a port from " +
        QString::number(kLowestDataPort) + " to " + QString::number(kHighestDataPort) + "; using " +
        QString::number(kDefaultDataPort));
    return kDefaultDataPort;
}

bool ListenerPort::listen(unsigned short& dataPort) {
    if (listening) {
        dataPort = static_cast<unsigned short>(port);
        return true;
    }
    const std::vector<std::uint32_t> candidates = viewer::portsToTry(port, kPortsToTry);
    for (const std::uint32_t candidate : candidates) {
        if (!session.listen(static_cast<unsigned short>(candidate), callback)) {
            continue;
        }
        if (candidate != candidates.front()) {
            log("Data port " + QString::number(candidates.front()) +
                " is in use; took the next free one");
        }
        port = candidate;
        listening = true;
        log("Listening on port " + QString::number(port));
        settings.setValue("network/port", nextDataPort(port));
        dataPort = static_cast<unsigned short>(port);
        return true;
    }
    log("Unable to listen for laser data on ports " + QString::number(candidates.front()) + " to " +
        QString::number(candidates.back()) + "; the laser stream is not started");
    return false;
}

ListenerPort::ListenerPort(sentova::session::DeviceSession& session,
                           tavrel::SentovaLaserDataCallbackClass& callback,
                           DeferredSettings& settings, PreferencesDialog& preferences, Log log)
    : session(session), callback(&callback), settings(settings), preferences(preferences),
      log(std::move(log)) {
    port = storedDataPort();
    auto* box = new QGroupBox("Network", &preferences);
    box->setObjectName("network_groupBox");
    auto* form = new QFormLayout(box);
    auto* spin = new QSpinBox(box);
    spin->setObjectName("port_spinBox");
    spin->setRange(static_cast<int>(kLowestDataPort), static_cast<int>(kHighestDataPort));
    spin->setValue(static_cast<int>(port));
    form->addRow("Data port:", spin);

    QGridLayout* layout = preferences.ui->gridLayout;
    layout->removeWidget(preferences.ui->buttonBox);
    layout->addWidget(box, 1, 0);
    layout->addWidget(preferences.ui->buttonBox, 2, 0);
    preferences.resize(preferences.width(), preferences.height() + box->sizeHint().height());
}

void ListenerPort::loadPreference() {
    if (auto* spin = preferences.findChild<QSpinBox*>("port_spinBox")) {
        spin->setValue(static_cast<int>(port));
    }
}

void ListenerPort::savePreference() {
    auto* spin = preferences.findChild<QSpinBox*>("port_spinBox");
    const std::uint32_t chosen = static_cast<std::uint32_t>(spin->value());
    if (chosen == port) {
        return;
    }
    settings.setValue("network/port", chosen);
    if (listening) {
        log("Data port " + QString::number(chosen) +
            " takes effect at the next start; listening on port " + QString::number(port));
        return;
    }
    port = chosen;
    log("Data port " + QString::number(port));
}

} // namespace window
