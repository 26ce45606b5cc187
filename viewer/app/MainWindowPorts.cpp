// The local data port: the stored choice, the listener that walks on from a port that is taken,
// and the port's place in the preferences dialog.
#include "MainWindow.h"

#include "DataPort.h"
#include "ui_PreferencesDialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>

namespace {

// How many ports after a taken one the listener tries before it gives up.
constexpr int kPortsToTry = 20;

} // namespace

std::uint32_t MainWindow::storedDataPort() {
    const QVariant stored = settings.value("network/port");
    if (!stored.isValid()) {
        return kDefaultDataPort;
    }
    if (const std::optional<std::uint32_t> chosen =
            viewer::parseDataPort(stored.toString().toStdString())) {
        return *chosen;
    }
    logMessage("Stored data port '" + stored.toString() + "' is not a port from " +
               QString::number(kLowestDataPort) + " to " + QString::number(kHighestDataPort) +
               "; using " + QString::number(kDefaultDataPort));
    return kDefaultDataPort;
}

bool MainWindow::setupListener() {
    if (listening) {
        return true;
    }
    const std::vector<std::uint32_t> candidates = viewer::portsToTry(port, kPortsToTry);
    for (const std::uint32_t candidate : candidates) {
        if (!session->listen(static_cast<unsigned short>(candidate), this)) {
            continue;
        }
        if (candidate != candidates.front()) {
            logMessage("Data port " + QString::number(candidates.front()) +
                       " is in use; took the next free one");
        }
        port = candidate;
        listening = true;
        logMessage("Listening on port " + QString::number(port));
        settings.setValue("network/port", nextDataPort(port));
        return true;
    }
    logMessage("Unable to listen for laser data on ports " + QString::number(candidates.front()) +
               " to " + QString::number(candidates.back()) + "; the laser stream is not started");
    return false;
}

void MainWindow::setupPortPreference() {
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

void MainWindow::loadPortPreference() {
    if (auto* spin = preferences.findChild<QSpinBox*>("port_spinBox")) {
        spin->setValue(static_cast<int>(port));
    }
}

void MainWindow::savePortPreference() {
    auto* spin = preferences.findChild<QSpinBox*>("port_spinBox");
    const std::uint32_t chosen = static_cast<std::uint32_t>(spin->value());
    if (chosen == port) {
        return;
    }
    settings.setValue("network/port", chosen);
    if (listening) {
        logMessage("Data port " + QString::number(chosen) +
                   " takes effect at the next start; listening on port " + QString::number(port));
        return;
    }
    port = chosen;
    logMessage("Data port " + QString::number(port));
}
