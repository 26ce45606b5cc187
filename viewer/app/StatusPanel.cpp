#include "StatusPanel.h"

#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "DeviceStatusText.h"
#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cmath>

using window::errorText;

namespace {

constexpr int kStatusPeriodMs = 250;
constexpr std::int64_t kStreamPeriodMs = 1000;
// A device that has been silent this long is asked for its serial number, which costs it one
// reply and shows its absence.
constexpr std::int64_t kProbeIntervalMs = 5000;

void showFigure(QLabel* label, const QString& text, viewer::Severity severity) {
    label->setText(text);
    static const char* const styles[] = {"", "color: #2e7d32;", "color: #e65100;",
                                         "color: #c62828; font-weight: bold;"};
    label->setStyleSheet(styles[static_cast<int>(severity)]);
}

} // namespace

namespace window {

StatusPanel::StatusPanel(Ui_MainWindow& ui, sentova::session::DeviceSession& session,
                         DeviceCommands& commands)
    : ui(ui), session(session), commands(commands) {
    QWidget* box = ui.device_groupBox;
    QGridLayout* grid = ui.gridLayout;
    // Eight rows in the height the controls have.
    grid->setVerticalSpacing(0);
    grid->setContentsMargins(11, 2, 11, 2);
    const auto row = [box](const QString& caption,
                           std::initializer_list<QLabel*> values) -> QLayout* {
        auto* layout = new QHBoxLayout;
        layout->addWidget(new QLabel(caption, box));
        layout->addStretch(1);
        bool first = true;
        for (QLabel* value : values) {
            if (!first) {
                layout->addWidget(new QLabel("/", box));
            }
            first = false;
            value->setAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
            layout->addWidget(value);
        }
        return layout;
    };
    const auto value = [box](const char* name, const QString& tip) {
        auto* label = new QLabel(box);
        label->setObjectName(name);
        label->setToolTip(tip);
        return label;
    };
    labels.device =
        value("deviceState_label", "Whether the device answers commands, and when it last did");
    labels.model =
        value("deviceModel_label", "The model and firmware version the serial number names");
    labels.laser = value("laserState_label", "The laser stream as this window set it");
    labels.datagramsPerSecond =
        value("datagramsPerSecond_label", "Laser data datagrams received per second");
    labels.refused =
        value("refused_label", "Datagrams refused on the data port: from another sender, or "
                               "with a bad header or size");
    labels.commandsRefused = value(
        "commandsRefused_label",
        "Datagrams from other hosts refused on the command channels: none of them can answer a "
        "command or fire an event");
    labels.kernelDrops =
        value("kernelDrops_label",
              "Datagrams the system dropped on the data port because they came faster than "
              "they were read");
    labels.queueDrops =
        value("queueDrops_label", "Datagrams the listener dropped because the window fell behind "
                                  "the stream");
    labels.gaps =
        value("gaps_label", "Gaps in the device's time stamps: measurements without a return (open "
                            "sky, glass, beyond range) or points lost on the way, which the time "
                            "stamps cannot tell apart. Not an alarm: only the drops before it are");

    // The three rows of the box keep their widgets; the status rows go between them. Whatever
    // else the box holds already (the display's "showing N of M") follows below them all, so
    // that no two rows share a cell.
    QList<QLayoutItem*> others;
    while (grid->count() > 0) {
        QLayoutItem* item = grid->takeAt(0);
        if (item->layout() != ui.horizontalLayout_2 && item->layout() != ui.horizontalLayout_3 &&
            item->layout() != ui.horizontalLayout_10) {
            others.append(item);
        }
    }
    int next = 0;
    for (QLayout* layout :
         {static_cast<QLayout*>(ui.horizontalLayout_2), row("Device:", {labels.device}),
          row("Model:", {labels.model}), row("Laser:", {labels.laser}),
          static_cast<QLayout*>(ui.horizontalLayout_3),
          row("Datagrams per second:", {labels.datagramsPerSecond}),
          static_cast<QLayout*>(ui.horizontalLayout_10),
          row("Refused, dropped, gaps:", {labels.refused, labels.commandsRefused,
                                          labels.kernelDrops, labels.queueDrops, labels.gaps})}) {
        grid->addLayout(layout, next++, 1);
    }
    for (QLayoutItem* item : others) {
        grid->addItem(item, next++, 1);
    }
    // Start-up asks for the serial number itself: the first probe is due a while after.
    lastProbeMs = sentova::session::DeviceWatch::nowMs();
    update();
}

void StatusPanel::update() {
    const std::int64_t now = sentova::session::DeviceWatch::nowMs();
    const viewer::DeviceActivity activity = session.activity();
    const viewer::DeviceActivity::Answer answer = activity.answer(now);
    showFigure(labels.device,
               QString::fromStdString(viewer::answerText(answer, activity.lastReplyMs(), now)),
               answer == viewer::DeviceActivity::Answer::Answering      ? viewer::Severity::Good
               : answer == viewer::DeviceActivity::Answer::NotAnswering ? viewer::Severity::Trouble
                                                                        : viewer::Severity::Normal);
    labels.model->setText(QString::fromStdString(viewer::describeSerial(activity.serial())));
    labels.model->setToolTip(activity.serial().empty()
                                 ? QString("No serial number read yet")
                                 : "Serial number " + QString::fromStdString(activity.serial()));
    labels.laser->setText(QString::fromStdString(viewer::laserText(activity.laser())));

    if (now - lastStreamUpdateMs >= kStreamPeriodMs) {
        lastStreamUpdateMs = now;
        viewer::StreamCounters counters;
        if (const tavrel::SentovaGrabber* listener = session.listener()) {
            const tavrel::stream_statistics_t s = listener->GetStatistics();
            counters = {s.datagrams,   s.points,        s.refusedSender + s.refusedHeader,
                        s.kernelDrops, s.pointsMissing, s.queueDrops};
        }
        streamHealth.update(counters, now);
        const viewer::StreamFigures figures = streamHealth.figures();
        labels.datagramsPerSecond->setText(
            QString::number(std::llround(figures.datagramsPerSecond)));
        showFigure(labels.refused, QString::number(figures.totals.refused), figures.refused);
        // A stranger on a command channel is never normal traffic.
        const std::uint64_t strangers = session.refusedOnCommandChannels();
        showFigure(labels.commandsRefused, QString::number(strangers),
                   strangers > 0 ? viewer::Severity::Trouble : viewer::Severity::Normal);
        showFigure(labels.kernelDrops, QString::number(figures.totals.kernelDrops),
                   figures.kernelDrops);
        showFigure(labels.queueDrops, QString::number(figures.totals.queueDrops),
                   figures.queueDrops);
        showFigure(labels.gaps, QString::number(figures.totals.gaps), viewer::Severity::Normal);
    }

    if (!quitting && !commands.inFlight() && now - lastProbeMs >= kProbeIntervalMs &&
        activity.quietFor(kProbeIntervalMs, now)) {
        lastProbeMs = now;
        // The answer reaches the status through the traffic it makes.
        commands.runInBackground([this](DeviceCommands::Steps&) {
            std::string serial;
            session.device()->GetSerial(serial);
        });
    }
    QTimer::singleShot(kStatusPeriodMs, this, &StatusPanel::update);
}

void StatusPanel::quitLeavingDeviceQuiet() {
    if (quitting) {
        return;
    }
    const viewer::DeviceActivity activity = session.activity();
    if (!activity.streamStarted() && !activity.scanStarted()) {
        QCoreApplication::exit(0);
        return;
    }
    quitting = true;
    // What the operator queued is dropped; the stops come next, each bounded by its time-out.
    commands.cancel();
    ui.statusBar->showMessage("Quitting: stopping what this window started on the device");
    commands.runInBackground([this](DeviceCommands::Steps& steps) {
        for (const auto& stop : session.stopWhatWasStarted()) {
            steps.log("Quit: " + QString::fromStdString(stop.what) + ": " + errorText(stop.result));
        }
        steps.onGui([] { QCoreApplication::exit(0); });
    });
    // Should the worker be held up beyond every time-out, quit all the same.
    const viewer::DeviceActivity::Timeouts t = session.timeouts();
    const int bound =
        static_cast<int>(std::max(t.motionMs, t.eventsMs) + 2 * t.eventsMs + t.responseMs) + 1000;
    QTimer::singleShot(bound, this, [] { QCoreApplication::exit(0); });
}

} // namespace window
