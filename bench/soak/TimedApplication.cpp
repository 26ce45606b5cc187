#include "TimedApplication.h"

#include <QEvent>
#include <QMetaEnum>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace soak {

bool TimedApplication::notify(QObject* receiver, QEvent* event) {
    if (QThread::currentThread() != thread()) {
        return QApplication::notify(receiver, event);
    }
    // Named before delivery: the receiver may delete itself.
    const char* type = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
    const std::string kind = std::string(receiver->metaObject()->className()) + " " +
                             (type ? std::string(type) : std::to_string(event->type()));
    m_nestedMs.push_back(0.0);
    const double renderedBefore = m_renderedMs;
    const auto start = std::chrono::steady_clock::now();
    const bool result = QApplication::notify(receiver, event);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // An event delivered inside another (a modal dialog's loop, a processEvents call) counts
    // for itself, and not again for the one around it.
    const double own = ms - m_nestedMs.back();
    m_nestedMs.pop_back();
    if (!m_nestedMs.empty()) {
        m_nestedMs.back() += ms;
    }
    if (own > kSlowMs) {
        // Renders in events delivered inside this one are taken off as well: a lower bound.
        const double renders = m_renderedMs - renderedBefore;
        Slow& slow = m_slow[kind];
        ++slow.count;
        if (own > slow.longestMs) {
            slow.longestMs = own;
            slow.longestRenderMs = renders;
        }
        slow.longestBesideRendersMs = std::max(slow.longestBesideRendersMs, own - renders);
    }
    return result;
}

void TimedApplication::printSlowEvents() const {
    std::printf("GUI thread: events over %.0f ms, by receiver and type:\n", kSlowMs);
    for (const auto& [kind, slow] : m_slow) {
        std::printf("  %-50s %6d, longest %.1f ms (renders %.1f ms), apart from renders at most "
                    "%.1f ms\n",
                    kind.c_str(), slow.count, slow.longestMs, slow.longestRenderMs,
                    slow.longestBesideRendersMs);
    }
}

} // namespace soak
