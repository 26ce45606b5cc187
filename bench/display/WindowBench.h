// The pieces the window benchmarks share: the application timing its GUI-thread events, the
// probe of the GUI thread's stalls, and driving the window's widgets and dialogs.
#pragma once

#include "WindowControls.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QMetaEnum>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace windowbench {

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The application, keeping the longest GUI-thread event since the last reset and what it was.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (QThread::currentThread() != thread()) {
            return QApplication::notify(receiver, event);
        }
        const char* type = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
        std::string kind = std::string(receiver->metaObject()->className()) + " " +
                           (type ? std::string(type) : std::to_string(event->type()));
        nested.push_back(0.0);
        const auto start = Clock::now();
        const bool result = QApplication::notify(receiver, event);
        const double ms = msBetween(start, Clock::now());
        const double own = ms - nested.back();
        nested.pop_back();
        if (!nested.empty()) {
            nested.back() += ms;
        }
        if (own > longestMs) {
            longestMs = own;
            longestKind = std::move(kind);
        }
        return result;
    }

    void reset() {
        longestMs = 0.0;
        longestKind.clear();
    }

    double longestMs = 0.0;
    std::string longestKind;

private:
    std::vector<double> nested;
};

// Longest interval between ticks of a 5 ms timer, and the last change of the watched labels.
struct Probe {
    explicit Probe(std::vector<QLabel*> watched) : labels(std::move(watched)) {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
        reset();
        timer.start(5);
    }

    void reset() {
        const auto now = Clock::now();
        started = last = settledAt = now;
        longestMs = 0.0;
        texts.clear();
        for (QLabel* label : labels) {
            texts.push_back(label->text());
        }
    }

    void tick() {
        const auto now = Clock::now();
        longestMs = std::max(longestMs, msBetween(last, now));
        last = now;
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (labels[i]->text() != texts[i]) {
                texts[i] = labels[i]->text();
                settledAt = now;
            }
        }
    }

    std::vector<QLabel*> labels;
    std::vector<QString> texts;
    QTimer timer;
    Clock::time_point started, last, settledAt;
    double longestMs = 0.0;
};

using bench::answerNextIntDialog;
using bench::widget;

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

} // namespace windowbench
