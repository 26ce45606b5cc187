#include "DeviceSession.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/DeviceAddress.h"
#include "Sentova/Protocol.h"

namespace sentova::session {

DeviceSession::DeviceSession(std::string address) : m_address(std::move(address)) {
    const std::uint32_t device = tavrel::ParseIPv4Address(m_address);
    for (auto& tee : m_traffic)
        tee = std::make_shared<TrafficTee>();
    m_device = std::make_unique<tavrel::Sentova>(m_address);
    m_eventManager = std::make_unique<tavrel::SentovaEventManager>(m_address);
    m_watch = std::make_unique<DeviceWatch>(device, timeouts());
    for (Channel channel : {Channel::Control, Channel::Events})
        traffic(channel).add(m_watch->observer(channel));
    m_device->SetTrafficObserver(m_traffic[static_cast<int>(Channel::Control)]);
    m_eventManager->SetTrafficObserver(m_traffic[static_cast<int>(Channel::Events)]);
    m_worker = std::make_unique<command::CommandWorker>();
}

DeviceSession::~DeviceSession() {
    m_worker.reset();
    m_eventManager.reset();
    // No notification comes any more: its thread may end.
    m_frameNotifications.reset();
    m_device.reset();
    m_listener.reset();
}

std::uint64_t DeviceSession::refusedOnCommandChannels() const {
    return m_device->GetRefusedSenderCount() + m_eventManager->GetRefusedSenderCount();
}

DeviceActivity::Timeouts DeviceSession::timeouts() const {
    DeviceActivity::Timeouts t;
    t.responseMs = m_device->GetResponseTimeout();
    t.motionMs = m_device->GetMotionTimeout();
    t.eventsMs = tavrel::protocol::kEventManagerTimeoutMs;
    return t;
}

void DeviceSession::setLaserTrafficObserver(
    std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer) {
    m_laserTraffic = std::move(observer);
    if (m_listener)
        m_listener->SetTrafficObserver(m_laserTraffic);
}

tavrel::SentovaGrabber& DeviceSession::prepareListener() {
    if (!m_listener) {
        m_listener = std::make_unique<tavrel::SentovaGrabber>();
        m_listener->SetTrafficObserver(m_laserTraffic);
    }
    return *m_listener;
}

bool DeviceSession::listen(unsigned short port, tavrel::SentovaLaserDataCallbackClass* callback) {
    return prepareListener().StartListening(m_address, port, callback);
}

void DeviceSession::stopListening() {
    if (m_listener)
        m_listener->StopListening();
}

void DeviceSession::setFrameNotifications(FrameNotifications::Hooks hooks) {
    constexpr unsigned kEvents[] = {tavrel::protocol::kFrameStartEvent,
                                    tavrel::protocol::kFrameEndEvent};
    if (m_frameNotifications) {
        // Once deregistered no dispatch can be under way in it: the event manager dispatches
        // under the lock that deregistering takes.
        for (const unsigned event : kEvents)
            m_eventManager->DeregisterEventCallback(event, m_frameNotifications.get());
        m_frameNotifications.reset();
    }
    if (!hooks.notified)
        return;
    m_frameNotifications = std::make_unique<FrameNotifications>(std::move(hooks));
    for (const unsigned event : kEvents)
        m_eventManager->RegisterEventCallback(event, m_frameNotifications.get());
}

std::uint64_t DeviceSession::frameNotificationsDropped() const {
    return m_frameNotifications ? m_frameNotifications->dropped() : 0;
}

tavrel::tavrel_error_t DeviceSession::startStream(const tavrel::LaserSettings& settings,
                                                  unsigned short port) {
    return m_eventManager->ManagerSendCommand(
        tavrel::CommandSerialiser::SVRRBE(tavrel::LaserStreamParameters(settings, port)));
}

tavrel::tavrel_error_t DeviceSession::stopStream() {
    return m_eventManager->ManagerSendCommand(tavrel::CommandSerialiser::SVSRBE());
}

DeviceSession::Outcome DeviceSession::armFrameCapture(const tavrel::LaserSettings& settings,
                                                      unsigned short port,
                                                      const FrameCaptureHooks& hooks) {
    const auto proceed = [&hooks](const std::string& step) {
        return !hooks.before || hooks.before(step);
    };
    if (!proceed("ResetEvents"))
        return {tavrel::NoError, "ResetEvents"};
    // A reset that fails (a lost reply) is tried once more; the sequence goes on either way,
    // as the buffers it programs replace what they held.
    if (const tavrel::tavrel_error_t reset = m_eventManager->ResetEvents();
        reset != tavrel::NoError) {
        if (hooks.resetFailed)
            hooks.resetFailed(reset);
        if (!proceed("ResetEvents"))
            return {tavrel::NoError, "ResetEvents"};
        m_eventManager->ResetEvents();
    }
    if (hooks.afterReset && !hooks.afterReset(port))
        return {tavrel::NoError, "listening"};
    using Kind = tavrel::FrameCaptureStep::Kind;
    for (const tavrel::FrameCaptureStep& step :
         tavrel::FrameCaptureSequence(tavrel::LaserStreamParameters(settings, port))) {
        if (!proceed(step.name))
            return {tavrel::NoError, step.name};
        const tavrel::tavrel_error_t result =
            step.kind == Kind::ConfigureCommandBuffer
                ? m_eventManager->ConfigureCommandBuffer(step.buffer, step.command)
                : m_eventManager->EventEnable(step.buffer, step.event, false);
        if (result != tavrel::NoError)
            return {result, step.name};
    }
    return {};
}

std::vector<DeviceSession::Stop> DeviceSession::stopWhatWasStarted() {
    const DeviceActivity now = activity();
    // Armed events would start the stream again at the next scan, whoever starts it.
    const bool armed = now.laser() == DeviceActivity::Laser::Armed ||
                       now.laser() == DeviceActivity::Laser::StreamingFrame;
    std::vector<Stop> stops;
    if (armed)
        stops.push_back({"Reset events", m_eventManager->ResetEvents()});
    if (now.streamStarted())
        stops.push_back({"Stop Laser", stopStream()});
    if (now.scanStarted())
        stops.push_back({"Stop", m_device->Stop()});
    return stops;
}

} // namespace sentova::session
