#include "SentovaPcap/RecordingIndex.h"

#include <algorithm>
#include <cmath>

namespace sentova {
namespace pcap {

namespace {

std::vector<tavrel::tavrel_rbe_obs_t> decode(const Datagram& d) {
    return tavrel::DecodeLaserDatagram(reinterpret_cast<const unsigned char*>(d.bytes.data()),
                                       d.bytes.size());
}

// Angle between two azimuths, across the ±180° seam.
double azimuthDistance(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

} // namespace

// ---------------------------------------------------------------- RecordingFrameCutter

RecordingFrameCutter::RecordingFrameCutter(const RecordingIndexOptions& options)
    : m_options(options), m_splitter(options.frames) {}

void RecordingFrameCutter::addDatagram(std::uint64_t offset, std::uint64_t hostMicros,
                                       const tavrel::tavrel_rbe_obs_t* observations,
                                       std::size_t count) {
    if (count == 0)
        return;
    const bool gap = gapBefore(observations, count);
    m_splitter.AddBatch(observations, count, hostMicros, 0, &m_pieces);
    const std::vector<tavrel::scan_frame_t> closed = m_splitter.TakeClosed();
    // The frame as the splitter has it now: closed in this batch, or still open.
    const auto closedFrame = [&](std::uint64_t index) -> const tavrel::scan_frame_t* {
        for (const tavrel::scan_frame_t& c : closed)
            if (c.index == index)
                return &c;
        return nullptr;
    };
    for (const tavrel::scan_frame_piece_t& p : m_pieces) {
        if (m_open && p.frame != m_frame) {
            if (const tavrel::scan_frame_t* f = closedFrame(m_frame))
                closeFrame(*f);
            else
                close(kFrameEndCut);
        }
        if (!m_open) {
            begin(p, offset, 0);
        } else if (p.begin == 0 && cutsBefore(p.count, hostMicros)) {
            const tavrel::scan_frame_t* f = closedFrame(m_frame);
            const bool startSeen = f ? f->startSeen : m_splitter.OpenFrame().startSeen;
            const bool startMissing = m_firstOfFrame && !startSeen;
            close(kFramePiece | (startMissing ? unsigned(kFrameStartMissing) : 0u));
            begin(p, offset, kFramePiece);
        }
        // The splitter marks a frame once; a later piece of it needs its own mark.
        if (gap && p.begin == 0 && !m_firstOfFrame)
            m_entry.flags |= kFrameDropInside;
        extend(observations + p.begin, p.count, hostMicros);
    }
    // A drop is put before a batch's first point, so it falls in the entry that batch went to.
    const tavrel::scan_frame_t& open = m_splitter.OpenFrame();
    if (m_open && m_splitter.HasOpenFrame() && open.index == m_frame && open.dropInside &&
        !m_dropMarked) {
        m_entry.flags |= kFrameDropInside;
        m_dropMarked = true;
    }
}

void RecordingFrameCutter::addEvent(unsigned event, std::uint64_t hostMicros) {
    m_splitter.AddEvent(event, hostMicros);
}

void RecordingFrameCutter::finish() {
    m_splitter.Finish();
    for (const tavrel::scan_frame_t& f : m_splitter.TakeClosed())
        if (m_open && f.index == m_frame)
            closeFrame(f);
}

std::vector<RecordingFrame> RecordingFrameCutter::take() {
    std::vector<RecordingFrame> out;
    out.swap(m_closed);
    return out;
}

bool RecordingFrameCutter::gapBefore(const tavrel::tavrel_rbe_obs_t* observations,
                                     std::size_t count) {
    if (!m_options.frames.timestampGaps)
        return false;
    // The splitter's rule: the smallest step inside a datagram is the measurement interval, and
    // a step between datagrams of more than gapIntervals of them is taken for a loss.
    std::uint32_t smallest = 0;
    for (std::size_t i = 1; i < count; ++i) {
        const auto step =
            static_cast<std::uint32_t>(observations[i].timestamp - observations[i - 1].timestamp);
        if (step > 0 && (smallest == 0 || step < smallest))
            smallest = step;
    }
    if (smallest > 0)
        m_interval = smallest;
    const auto first = static_cast<std::uint32_t>(observations[0].timestamp);
    const bool gap = m_stamped && m_interval > 0 &&
                     std::uint32_t(first - m_lastStamp) >
                         std::uint64_t(m_options.frames.gapIntervals) * m_interval;
    m_lastStamp = static_cast<std::uint32_t>(observations[count - 1].timestamp);
    m_stamped = true;
    return gap;
}

bool RecordingFrameCutter::cutsBefore(std::size_t count, std::uint64_t hostMicros) const {
    if (m_entry.points + count > m_options.maximumPoints)
        return true;
    return !m_moved && hostMicros - m_entry.firstHostMicros >= m_options.pieceMicros;
}

void RecordingFrameCutter::begin(const tavrel::scan_frame_piece_t& piece, std::uint64_t offset,
                                 unsigned flags) {
    if (piece.frame != m_frame || !m_started) {
        m_firstOfFrame = true;
        m_dropMarked = false;
    } else {
        m_firstOfFrame = false;
    }
    m_started = true;
    m_frame = piece.frame;
    m_entry = RecordingFrame{};
    m_entry.offset = offset;
    m_entry.skip = static_cast<std::uint32_t>(piece.begin);
    m_entry.flags = flags;
    m_open = true;
}

void RecordingFrameCutter::extend(const tavrel::tavrel_rbe_obs_t* observations, std::size_t count,
                                  std::uint64_t hostMicros) {
    if (count == 0)
        return;
    if (m_entry.points == 0) {
        m_entry.firstTimestamp = static_cast<std::uint32_t>(observations[0].timestamp);
        m_entry.firstHostMicros = hostMicros;
        m_azimuth = observations[0].azimuth;
        m_elevation = observations[0].elevation;
        m_moved = false;
    }
    for (std::size_t i = 0; i < count && !m_moved; ++i)
        m_moved = azimuthDistance(observations[i].azimuth, m_azimuth) > m_options.restDegrees ||
                  std::fabs(observations[i].elevation - m_elevation) > m_options.restDegrees;
    m_entry.lastTimestamp = static_cast<std::uint32_t>(observations[count - 1].timestamp);
    m_entry.lastHostMicros = hostMicros;
    m_entry.points += count;
}

void RecordingFrameCutter::close(unsigned flags) {
    m_entry.flags |= flags;
    m_closed.push_back(m_entry);
    m_open = false;
}

void RecordingFrameCutter::closeFrame(const tavrel::scan_frame_t& f) {
    unsigned flags = 0;
    if (m_firstOfFrame && !f.startSeen)
        flags |= kFrameStartMissing;
    if (!f.endSeen)
        flags |= kFrameEndCut;
    if (f.dropInside && !m_dropMarked)
        flags |= kFrameDropInside;
    close(flags);
}

// ---------------------------------------------------------------- reading

LaserReadResult indexRecording(const std::string& path, const RecordingSinks& sinks,
                               const RecordingIndexOptions& options) {
    RecordingFrameCutter cutter(options);
    const auto handOn = [&] {
        const std::vector<RecordingFrame> closed = cutter.take();
        if (!closed.empty() && sinks.frames)
            sinks.frames(closed);
    };
    LaserDatagramSinks s;
    s.deliver = [&](const Datagram& d, std::uint64_t position) {
        const std::vector<tavrel::tavrel_rbe_obs_t> batch = decode(d);
        cutter.addDatagram(position, d.timeMicros, batch.data(), batch.size());
        handOn();
    };
    s.events = [&](unsigned event, std::uint64_t micros) { cutter.addEvent(event, micros); };
    s.filter = sinks.filter;
    s.progress = sinks.progress;
    s.cancel = sinks.cancel;
    LaserReadResult result = readLaserDatagrams(path, s);
    if (!result.cancelled) {
        cutter.finish();
        handOn();
    }
    return result;
}

std::vector<tavrel::tavrel_rbe_obs_t> readRecordingFrame(const std::string& path,
                                                         const LaserFilter& filter,
                                                         const RecordingFrame& frame) {
    Reader reader(path);
    if (!reader.seek(frame.offset))
        throw CaptureError(path + ": cannot go to position " + std::to_string(frame.offset));
    std::vector<tavrel::tavrel_rbe_obs_t> out;
    out.reserve(frame.points);
    std::size_t skip = frame.skip;
    Datagram d;
    while (out.size() < frame.points && reader.next(d)) {
        if (!filter.accepts(d))
            continue;
        const std::vector<tavrel::tavrel_rbe_obs_t> batch = decode(d);
        const std::size_t from = std::min<std::size_t>(skip, batch.size());
        skip = 0;
        const std::size_t n = std::min<std::size_t>(batch.size() - from, frame.points - out.size());
        out.insert(out.end(), batch.begin() + from, batch.begin() + from + n);
    }
    return out;
}

// ---------------------------------------------------------------- RecordingIndex

RecordingIndex::RecordingIndex(std::string path, RecordingIndexOptions options, Notify notify,
                               std::chrono::milliseconds notifyInterval)
    : m_path(std::move(path)), m_options(options), m_notify(std::move(notify)),
      m_notifyInterval(notifyInterval) {
    m_thread = std::thread([this] { run(); });
}

RecordingIndex::~RecordingIndex() {
    cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void RecordingIndex::run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastNotified = Clock::now() - m_notifyInterval;
    bool unnotified = false;
    const auto notifyIfDue = [&] {
        if (!m_notify || !unnotified || Clock::now() - lastNotified < m_notifyInterval)
            return;
        unnotified = false;
        lastNotified = Clock::now();
        m_notify();
    };
    RecordingSinks sinks;
    sinks.frames = [&](const std::vector<RecordingFrame>& frames) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_frames.insert(m_frames.end(), frames.begin(), frames.end());
            m_status.frames = m_frames.size();
        }
        m_changed.notify_all();
        unnotified = true;
        notifyIfDue();
    };
    sinks.filter = [&](const LaserFilter& filter) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_filter = filter;
        m_status.device = filter.deviceAddress;
    };
    sinks.progress = [&](double done) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_status.progress = done;
        }
        notifyIfDue();
    };
    sinks.cancel = [&] { return m_cancel.load(); };

    RecordingIndexStatus end;
    try {
        const LaserReadResult read = indexRecording(m_path, sinks, m_options);
        end.cancelled = read.cancelled;
        end.problems = read.problems;
        if (!read.cancelled && read.deviceAddress == 0)
            end.error = m_path + ": it holds no laser data";
    } catch (const std::exception& e) {
        end.error = e.what();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status.complete = true;
        m_status.cancelled = end.cancelled;
        m_status.error = end.error;
        m_status.problems = end.problems;
        if (!end.cancelled && end.error.empty())
            m_status.progress = 1.0;
    }
    m_changed.notify_all();
    if (m_notify)
        m_notify();
}

RecordingIndexStatus RecordingIndex::status() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

std::size_t RecordingIndex::frameCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

bool RecordingIndex::complete() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status.complete;
}

RecordingFrame RecordingIndex::frame(std::size_t k) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.at(k);
}

std::vector<RecordingFrame> RecordingIndex::frames(std::size_t from) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (from >= m_frames.size())
        return {};
    return std::vector<RecordingFrame>(m_frames.begin() + static_cast<std::ptrdiff_t>(from),
                                       m_frames.end());
}

bool RecordingIndex::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_frames.size() > count || m_status.complete; });
    return m_frames.size() > count;
}

bool RecordingIndex::waitForComplete(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_status.complete; });
}

void RecordingIndex::cancel() {
    m_cancel = true;
}

std::vector<tavrel::tavrel_rbe_obs_t> RecordingIndex::readFrame(std::size_t k) const {
    RecordingFrame entry;
    LaserFilter filter;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        entry = m_frames.at(k);
        filter = m_filter;
    }
    return readRecordingFrame(m_path, filter, entry);
}

} // namespace pcap
} // namespace sentova
