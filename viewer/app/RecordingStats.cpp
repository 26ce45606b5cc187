#include "RecordingStats.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace window {

namespace {

QLabel* addRow(QWidget* parent, QVBoxLayout* rows, const char* text, const char* name,
               const QString& tip) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    auto* figure = new QLabel(parent);
    figure->setObjectName(name);
    figure->setToolTip(tip);
    figure->setAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    row->addWidget(new QLabel(text, parent));
    row->addStretch(1);
    row->addWidget(figure);
    rows->addLayout(row);
    return figure;
}

} // namespace

RecordingStats::RecordingStats(QWidget* box) : QWidget(box) {
    setObjectName("recordingStats");
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    frames = addRow(this, rows, "Recording frames:", "recordingFrames_label",
                    "Frames of the recording found so far");
    incomplete = addRow(this, rows, "Incomplete frames:", "incompleteFrames_label",
                        "Frames with data missing inside, or cut at the recording's ends");
    points = addRow(this, rows, "Frame points:", "framePoints_label",
                    "Points of the frame shown on the timeline");
    if (auto* stats = qobject_cast<QGridLayout*>(box->layout())) {
        stats->addWidget(this, stats->rowCount(), 1);
    }
    clear();
}

void RecordingStats::setFrames(std::size_t count, bool complete) {
    frames->setText(complete ? QString::number(count) : QString::number(count) + " so far");
    show();
}

void RecordingStats::setIncompleteFrames(std::size_t count) {
    incomplete->setText(QString::number(count));
}

void RecordingStats::setFramePoints(std::uint64_t count) {
    points->setText(QString::number(count));
}

void RecordingStats::clear() {
    frames->setText("0");
    incomplete->setText("0");
    points->setText("0");
    hide();
}

} // namespace window
