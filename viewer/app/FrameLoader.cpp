#include "FrameLoader.h"

#include "PlaybackFrames.h"
#include "PointStore.h"

#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/RecordingIndex.h"

namespace window {

FrameLoader::FrameLoader(viewer::PointStore& store, Shown shown)
    : m_store(store), m_shown(std::move(shown)), m_thread([this] { run(); }) {}

FrameLoader::~FrameLoader() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_pending.reset();
    }
    m_wake.notify_all();
    m_thread.join();
}

void FrameLoader::request(Request request) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = std::move(request);
    }
    m_wake.notify_all();
}

void FrameLoader::stop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_pending.reset();
    m_forget = true;
    m_wake.notify_all();
    m_idle.wait(lock, [this] { return !m_busy && !m_forget; });
}

void FrameLoader::run() {
    for (;;) {
        Request next;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_busy = false;
            m_idle.notify_all();
            m_wake.wait(lock, [this] { return m_quit || m_forget || m_pending; });
            if (m_quit) {
                return;
            }
            if (m_forget) {
                m_forget = false;
                m_kept.clear();
                m_keptIndex = nullptr;
                continue;
            }
            next = std::move(*m_pending);
            m_pending.reset();
            m_busy = true;
        }
        load(next);
    }
}

void FrameLoader::load(const Request& request) {
    const sentova::pcap::RecordingIndex& index = *request.index;
    if (m_keptIndex != &index || m_keptModel != request.model ||
        m_keptHighSpeed != request.highSpeed) {
        m_kept.clear();
    }
    m_keptIndex = &index;
    m_keptModel = request.model;
    m_keptHighSpeed = request.highSpeed;

    const std::size_t k = request.frame;
    const std::size_t first =
        viewer::firstPlaybackFrame(request.mode, request.count, k, [&index](std::size_t i) {
            return index.frame(i).lastTimestamp;
        });
    // The kept frames stay a run [m_keptFirst, m_keptFirst + size) inside [first, k].
    while (!m_kept.empty() && (m_keptFirst < first || m_keptFirst > k)) {
        m_kept.pop_front();
        ++m_keptFirst;
    }
    while (!m_kept.empty() && m_keptFirst + m_kept.size() - 1 > k) {
        m_kept.pop_back();
    }
    if (m_kept.empty()) {
        m_keptFirst = k + 1;
    }
    std::string error;
    try {
        while (m_keptFirst > first) {
            --m_keptFirst;
            m_kept.push_front(sentova::pcap::readFramePoints(index, m_keptFirst, request.model,
                                                             request.highSpeed));
        }
        while (m_keptFirst + m_kept.size() <= k) {
            m_kept.push_back(sentova::pcap::readFramePoints(index, m_keptFirst + m_kept.size(),
                                                            request.model, request.highSpeed));
        }
    } catch (const sentova::pcap::CaptureError& e) {
        error = e.what();
        m_kept.clear();
        m_keptIndex = nullptr;
    }
    if (error.empty()) {
        m_store.replace(
            viewer::playbackPoints(request.mode, request.count, m_kept, m_store.maximumPoints()));
    }
    m_shown(k, error);
}

} // namespace window
