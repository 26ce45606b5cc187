#pragma once

// The application, keeping a record of the GUI thread's long events: what held the event loop
// when a stall shows. Constructed and used on the GUI thread; notify() runs on every thread and
// records only the GUI thread's events.

#include <QApplication>

#include <map>
#include <string>
#include <vector>

namespace soak {

class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override;

    // Prints the kinds of event (receiver class and event type) that took over 50 ms, not
    // counting the events delivered inside them, with their count and the longest.
    void printSlowEvents() const;

private:
    static constexpr double kSlowMs = 50.0;
    struct Slow {
        int count = 0;
        double longestMs = 0.0;
    };
    // Per event being delivered, innermost last: the time spent in events delivered inside it.
    std::vector<double> m_nestedMs; // GUI thread only
    std::map<std::string, Slow> m_slow;
};

} // namespace soak
