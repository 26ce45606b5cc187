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

    // A render of the view took ms (GUI thread): the long events say how much of them was not.
    void rendered(double ms) { m_renderedMs += ms; }

    // Prints the kinds of event (receiver class and event type) that took over 50 ms, not
    // counting the events delivered inside them, with their count and the longest, the renders
    // in the longest, and the longest time such an event spent apart from renders.
    void printSlowEvents() const;

private:
    static constexpr double kSlowMs = 50.0;
    struct Slow {
        int count = 0;
        double longestMs = 0.0;
        double longestRenderMs = 0.0; // in the longest
        double longestBesideRendersMs = 0.0;
    };
    // Per event being delivered, innermost last: the time spent in events delivered inside it.
    std::vector<double> m_nestedMs; // GUI thread only
    double m_renderedMs = 0.0;      // all renders so far, GUI thread only
    std::map<std::string, Slow> m_slow;
};

} // namespace soak
