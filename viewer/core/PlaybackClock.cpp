#include "PlaybackClock.h"

#include <cstdio>

namespace {

struct Ratio {
    std::uint64_t numerator;
    std::uint64_t denominator;
};

// Recording time per wall time; "as fast as possible" has none and steps on every update.
Ratio ratioOf(PlaybackSpeed speed) {
    switch (speed) {
    case PlaybackSpeed::Quarter:
        return {1, 4};
    case PlaybackSpeed::Half:
        return {1, 2};
    case PlaybackSpeed::Double:
        return {2, 1};
    case PlaybackSpeed::Quadruple:
        return {4, 1};
    case PlaybackSpeed::Octuple:
        return {8, 1};
    case PlaybackSpeed::Normal:
    case PlaybackSpeed::AsFastAsPossible:
        break;
    }
    return {1, 1};
}

} // namespace

const char* playbackSpeedText(PlaybackSpeed speed) {
    switch (speed) {
    case PlaybackSpeed::Quarter:
        return "\u00bc\u00d7";
    case PlaybackSpeed::Half:
        return "\u00bd\u00d7";
    case PlaybackSpeed::Normal:
        return "1\u00d7";
    case PlaybackSpeed::Double:
        return "2\u00d7";
    case PlaybackSpeed::Quadruple:
        return "4\u00d7";
    case PlaybackSpeed::Octuple:
        return "8\u00d7";
    case PlaybackSpeed::AsFastAsPossible:
        return "As fast as possible";
    }
    return "";
}

std::string frameCountText(std::size_t frame, std::size_t frames) {
    return "Frame " + std::to_string(frame + 1) + " of " + std::to_string(frames);
}

std::string recordingTimeText(std::uint64_t micros) {
    const std::uint64_t millis = micros / 1000;
    const std::uint64_t seconds = millis / 1000;
    const std::uint64_t minutes = seconds / 60;
    const std::uint64_t hours = minutes / 60;
    char text[48];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%03llu",
                      static_cast<unsigned long long>(hours),
                      static_cast<unsigned long long>(minutes % 60),
                      static_cast<unsigned long long>(seconds % 60),
                      static_cast<unsigned long long>(millis % 1000));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu.%03llu",
                      static_cast<unsigned long long>(minutes),
                      static_cast<unsigned long long>(seconds % 60),
                      static_cast<unsigned long long>(millis % 1000));
    return text;
}

void PlaybackClock::addFrames(const std::vector<PlaybackFrameTimes>& frames) {
    m_frames.insert(m_frames.end(), frames.begin(), frames.end());
}

void PlaybackClock::setIndexComplete(bool complete) {
    m_complete = complete;
}

void PlaybackClock::setLoop(bool loop) {
    m_loop = loop;
}

void PlaybackClock::setSpeed(PlaybackSpeed speed, std::uint64_t nowMicros) {
    // The recording goes on from where it stands, at the new pace.
    const std::uint64_t at = recordingTime(nowMicros);
    m_speed = speed;
    if (m_playing)
        anchor(nowMicros, at);
}

void PlaybackClock::play(std::uint64_t nowMicros) {
    if (atEnd() && !m_loop)
        m_current = 0;
    m_playing = true;
    m_starved = false;
    anchor(nowMicros, m_current < m_frames.size() ? m_frames[m_current].firstMicros : 0);
}

void PlaybackClock::pause() {
    m_playing = false;
    m_starved = false;
}

void PlaybackClock::togglePlaying(std::uint64_t nowMicros) {
    if (m_playing)
        pause();
    else
        play(nowMicros);
}

void PlaybackClock::stepForward() {
    pause();
    if (m_current + 1 < m_frames.size())
        ++m_current;
}

void PlaybackClock::stepBack() {
    pause();
    if (m_current > 0)
        --m_current;
}

void PlaybackClock::seek(std::size_t frame, std::uint64_t nowMicros) {
    if (m_frames.empty())
        return;
    m_current = frame < m_frames.size() ? frame : m_frames.size() - 1;
    m_starved = false;
    if (m_playing)
        anchor(nowMicros, m_frames[m_current].firstMicros);
}

bool PlaybackClock::update(std::uint64_t nowMicros) {
    if (!m_playing || m_frames.empty())
        return false;
    const std::size_t before = m_current;
    if (m_starved) {
        if (m_current + 1 >= m_frames.size())
            return false;
        // The frame came later than it was due: it is shown now and the pace taken up from it.
        m_starved = false;
        ++m_current;
        anchor(nowMicros, m_frames[m_current].firstMicros);
        return true;
    }
    const bool fast = m_speed == PlaybackSpeed::AsFastAsPossible;
    const std::uint64_t at = recordingTime(nowMicros);
    if (fast) {
        if (m_current + 1 < m_frames.size())
            ++m_current;
    } else {
        while (m_current + 1 < m_frames.size() && m_frames[m_current + 1].firstMicros <= at)
            ++m_current;
    }
    if (m_current == before && m_current + 1 == m_frames.size() &&
        (fast || at >= m_frames[m_current].lastMicros)) {
        // The last frame known has had its time.
        if (!m_complete) {
            m_starved = true;
        } else if (m_loop) {
            m_current = 0;
            anchor(nowMicros, m_frames[0].firstMicros);
        } else {
            m_playing = false;
        }
    }
    return m_current != before || !m_playing;
}

std::int64_t PlaybackClock::untilNextMicros(std::uint64_t nowMicros) const {
    if (!m_playing || m_frames.empty())
        return -1;
    if (m_starved)
        return m_current + 1 < m_frames.size() ? 0 : -1;
    if (m_speed == PlaybackSpeed::AsFastAsPossible)
        return 0;
    const std::uint64_t due = m_current + 1 < m_frames.size() ? m_frames[m_current + 1].firstMicros
                                                              : m_frames[m_current].lastMicros;
    if (due <= m_anchorRecording)
        return 0;
    const Ratio r = ratioOf(m_speed);
    // Rounded up, so that the update at that time finds the frame due.
    const std::uint64_t wall =
        m_anchorNow + ((due - m_anchorRecording) * r.denominator + r.numerator - 1) / r.numerator;
    return wall <= nowMicros ? 0 : static_cast<std::int64_t>(wall - nowMicros);
}

std::string PlaybackClock::text() const {
    if (m_frames.empty())
        return "No frames yet";
    const std::uint64_t start = m_frames.front().firstMicros;
    const std::uint64_t at = m_frames[m_current].firstMicros;
    return frameCountText(m_current, m_frames.size()) + " (" +
           recordingTimeText(at > start ? at - start : 0) + ")";
}

std::uint64_t PlaybackClock::recordingTime(std::uint64_t nowMicros) const {
    if (!m_playing)
        return m_current < m_frames.size() ? m_frames[m_current].firstMicros : 0;
    const Ratio r = ratioOf(m_speed);
    const std::uint64_t elapsed = nowMicros > m_anchorNow ? nowMicros - m_anchorNow : 0;
    return m_anchorRecording + elapsed * r.numerator / r.denominator;
}

void PlaybackClock::anchor(std::uint64_t nowMicros, std::uint64_t recordingMicros) {
    m_anchorNow = nowMicros;
    m_anchorRecording = recordingMicros;
}

bool PlaybackClock::atEnd() const {
    return m_complete && !m_frames.empty() && m_current + 1 == m_frames.size();
}
