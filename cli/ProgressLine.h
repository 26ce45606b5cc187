#pragma once

// Progress on standard error as users of a command-line tool expect it: on a terminal one line
// rewritten in place; sent to a pipe or a log, a plain line now and then once the work has gone
// on for a while, so that a log shows a long piece of work going on, holds no carriage returns,
// and a short one leaves only its summary; with --quiet, nothing.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace cli {

enum class ProgressStyle { Silent, InPlace, Lines };

// Silent when quiet, in place on a terminal, lines otherwise.
ProgressStyle progressStyle(bool quiet, bool terminal);
// The style for this process's standard error.
ProgressStyle errorOutputStyle(bool quiet);

class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;
    // No plain line before the work (a share's since its first report) has gone on this long.
    static constexpr std::chrono::seconds kFirstLine{2};
    // How often a plain line repeats a figure that changes all the time (a recording's size),
    // or a share that has not reached its next tenth.
    static constexpr std::chrono::seconds kLineInterval{5};

    explicit ProgressLine(ProgressStyle style, std::FILE* out = stderr, Now now = Clock::now);
    ~ProgressLine() { end(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    ProgressStyle style() const { return m_style; }

    // "<what>: N%"; as a plain line at every tenth reached, and after kLineInterval without one.
    void share(const std::string& what, std::uint64_t done, std::uint64_t total);
    // A running figure; as a plain line every kLineInterval.
    void figure(const std::string& text);
    // Clears the line in place; plain lines stay as they are.
    void end();

private:
    void show(const std::string& text);

    const ProgressStyle m_style;
    std::FILE* const m_out;
    const Now m_now;
    const Clock::time_point m_start;
    bool m_inPlace = false; // a line in place is on the terminal
    std::string m_what;     // of the shares: a new one starts over
    Clock::time_point m_whatStart;
    int m_tenth = 0;      // the last tenth given a plain line
    int m_percent = 0;    // the last share given a plain line
    bool m_lined = false; // a plain line was given
    Clock::time_point m_lastLine;
};

} // namespace cli
