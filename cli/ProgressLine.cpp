#include "ProgressLine.h"

#include <unistd.h>

namespace cli {

ProgressStyle progressStyle(bool quiet, bool terminal) {
    if (quiet) {
        return ProgressStyle::Silent;
    }
    return terminal ? ProgressStyle::InPlace : ProgressStyle::Lines;
}

ProgressStyle errorOutputStyle(bool quiet) {
    return progressStyle(quiet, ::isatty(STDERR_FILENO) == 1);
}

ProgressLine::ProgressLine(ProgressStyle style, std::FILE* out, Now now)
    : m_style(style), m_out(out), m_now(std::move(now)), m_start(m_now()) {}

void ProgressLine::share(const std::string& what, std::uint64_t done, std::uint64_t total) {
    const double percent = total == 0 ? 100.0 : 100.0 * static_cast<double>(done) / total;
    if (m_style == ProgressStyle::InPlace) {
        char text[16];
        std::snprintf(text, sizeof text, ": %3.0f%%", percent);
        show(what + text);
        return;
    }
    if (m_style != ProgressStyle::Lines) {
        return;
    }
    const Clock::time_point now = m_now();
    if (what != m_what) {
        m_what = what;
        m_whatStart = now;
        m_tenth = 0;
        m_percent = 0;
        m_lined = false;
    }
    const int whole = static_cast<int>(percent);
    const bool tenth = whole / 10 > m_tenth;
    const bool stale = whole > m_percent && (!m_lined || now - m_lastLine >= kLineInterval);
    if (now - m_whatStart >= kFirstLine && (tenth || stale)) {
        m_tenth = whole / 10;
        m_percent = whole;
        show(what + ": " + std::to_string(whole) + "%");
    }
}

void ProgressLine::figure(const std::string& text) {
    if (m_style == ProgressStyle::InPlace) {
        show(text);
        return;
    }
    const Clock::time_point now = m_now();
    if (m_style == ProgressStyle::Lines && now - m_start >= kFirstLine &&
        (!m_lined || now - m_lastLine >= kLineInterval)) {
        show(text);
    }
}

void ProgressLine::show(const std::string& text) {
    if (m_style == ProgressStyle::InPlace) {
        std::fprintf(m_out, "\r%s\x1b[K", text.c_str());
        m_inPlace = true;
    } else {
        std::fprintf(m_out, "%s\n", text.c_str());
        m_lined = true;
        m_lastLine = m_now();
    }
    std::fflush(m_out);
}

void ProgressLine::end() {
    if (m_inPlace) {
        std::fprintf(m_out, "\r\x1b[K");
        std::fflush(m_out);
        m_inPlace = false;
    }
}

} // namespace cli
