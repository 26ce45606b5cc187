// Playing a recording frame by frame: which frame is shown, when the next one falls due, at the
// pace the frames were captured scaled by the chosen speed. Pure: the caller passes the time
// (any steady microsecond count) and runs the timer; frames are added as the index grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class PlaybackSpeed { Quarter, Half, Normal, Double, Quadruple, Octuple, AsFastAsPossible };
constexpr int kPlaybackSpeedCount = 7;

// The speed's item in the speed choice (UTF-8): "¼×", "½×", "1×", "2×", "4×", "8×",
// "As fast as possible".
const char* playbackSpeedText(PlaybackSpeed speed);

// "Frame k of n" for the 0-based frame k.
std::string frameCountText(std::size_t frame, std::size_t frames);
// A time within a recording: "0:01.250", "12:00.000", "1:02:03.004".
std::string recordingTimeText(std::uint64_t micros);

struct PlaybackFrameTimes {
    // Capture times of the frame's first and last datagram, microseconds.
    std::uint64_t firstMicros = 0;
    std::uint64_t lastMicros = 0;
};

class PlaybackClock {
public:
    // Frames found since the last call, in order.
    void addFrames(const std::vector<PlaybackFrameTimes>& frames);
    // No more frames will come; playback may now end (stop or loop) at the last one.
    void setIndexComplete(bool complete);
    void setLoop(bool loop);
    void setSpeed(PlaybackSpeed speed, std::uint64_t nowMicros);

    // Playing from the current frame; from the first when stopped at the end.
    void play(std::uint64_t nowMicros);
    void pause();
    void togglePlaying(std::uint64_t nowMicros);
    // The user takes over: steps pause playback.
    void stepForward();
    void stepBack();
    // Shows frame k (clamped to the frames known); playing goes on from there.
    void seek(std::size_t frame, std::uint64_t nowMicros);

    // Moves on to the frame due at nowMicros; true when the current frame changed or playback
    // stopped. At the end of a complete index, playback loops to the first frame or stops on
    // the last.
    bool update(std::uint64_t nowMicros);
    // Microseconds from nowMicros to the next update with something to do; -1 when none will
    // have until something else changes (paused, stopped, waiting for the index to grow).
    std::int64_t untilNextMicros(std::uint64_t nowMicros) const;

    std::size_t current() const { return m_current; }
    std::size_t frameCount() const { return m_frames.size(); }
    bool playing() const { return m_playing; }
    bool loops() const { return m_loop; }
    PlaybackSpeed speed() const { return m_speed; }
    bool indexComplete() const { return m_complete; }
    // "Frame k of n (0:01.250)", the time counted from the first frame; "No frames yet".
    std::string text() const;

private:
    // Where the recording stands at nowMicros, on the frames' clock.
    std::uint64_t recordingTime(std::uint64_t nowMicros) const;
    void anchor(std::uint64_t nowMicros, std::uint64_t recordingMicros);
    bool atEnd() const;

    std::vector<PlaybackFrameTimes> m_frames;
    std::size_t m_current = 0;
    bool m_complete = false;
    bool m_loop = false;
    bool m_playing = false;
    // Waiting at the last frame known for the index to find the next.
    bool m_starved = false;
    PlaybackSpeed m_speed = PlaybackSpeed::Normal;
    // At wall time m_anchorNow the recording stood at m_anchorRecording.
    std::uint64_t m_anchorNow = 0;
    std::uint64_t m_anchorRecording = 0;
};
