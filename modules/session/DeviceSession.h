// One program's session with one device: the device facade, the event manager and the laser
// listener for its address, the command worker that runs device operations off the caller's
// thread, what the session has set the device doing, and the operator's sequences built on them.
//
// Threads: the sequences block for up to their commands' time-outs; a program with a GUI runs
// them as jobs on worker(). activity() and the traffic tees may be used from any thread.
#pragma once

#include "CommandWorker.h"
#include "DeviceActivity.h"
#include "DeviceWatch.h"
#include "FrameNotifications.h"

#include "Sentova/DeviceModel.h"
#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"
#include "Sentova/SentovaGrabber.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sentova::session {

class DeviceSession {
public:
    // address: the device's dotted IPv4 address. Throws std::invalid_argument ("'X' is not an
    // IPv4 address") for anything else, before anything is opened.
    explicit DeviceSession(std::string address);
    // Ends the worker (the job in progress ends within its time-out), then destroys the event
    // manager, the device facade and the listener, in that order.
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    const std::string& address() const { return m_address; }
    tavrel::Sentova* device() const { return m_device.get(); }
    tavrel::SentovaEventManager* eventManager() const { return m_eventManager.get(); }
    // Null until listen() has created it.
    tavrel::SentovaGrabber* listener() const { return m_listener.get(); }
    command::CommandWorker& worker() { return *m_worker; }

    // The traffic of the control (device facade) or event manager channel: observers added
    // here see every datagram sent and received on it.
    TrafficTee& traffic(Channel channel) { return *m_traffic[static_cast<int>(channel)]; }
    // Watches the laser datagrams the listener receives, now or once it exists; null: none
    // (then the listener spends nothing on it).
    void setLaserTrafficObserver(std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer);
    // What the traffic so far tells of the device and of what this session set it doing.
    DeviceActivity activity() const { return m_watch->activity(); }
    // Datagrams from other hosts that both command channels refused.
    std::uint64_t refusedOnCommandChannels() const;
    // The time-outs the library waits for replies with.
    DeviceActivity::Timeouts timeouts() const;

    // The listener, made now if it was not there, not yet listening.
    tavrel::SentovaGrabber& prepareListener();
    // Listens for laser data on port, handing it to callback; the listener is made on first
    // use. False when the port cannot be bound. Listening on another port ends the first.
    bool listen(unsigned short port, tavrel::SentovaLaserDataCallbackClass* callback);
    // Ends listening; the callback is not called after it returns.
    void stopListening();

    // Hands the device's frame start and end notifications to hooks, on a thread of their own
    // (never the event manager's socket thread); empty hooks.notified: none. Replaces hooks set
    // before: once it returns, those are not called any more. On the caller's thread.
    void setFrameNotifications(FrameNotifications::Hooks hooks);
    // Frame notifications dropped because the program fell behind them.
    std::uint64_t frameNotificationsDropped() const;

    // Starts the laser stream of the model's settings to port ("SVRRBE"), or stops it.
    tavrel::tavrel_error_t startStream(const tavrel::LaserSettings& settings, unsigned short port);
    tavrel::tavrel_error_t stopStream();

    // Arms the capture of one scan frame: resets the device's events (once more if the first
    // reset fails), then programs the frame-capture sequence for the model's stream to port.
    struct FrameCaptureHooks {
        // Runs before each device call; returning false ends the sequence there.
        std::function<bool(const std::string& step)> before;
        // The first reset failed with this result (the sequence goes on).
        std::function<void(tavrel::tavrel_error_t)> resetFailed;
        // Runs once the events are reset, before they are programmed: the place to start
        // listening, and to change the data port to the one bound. False ends the sequence.
        std::function<bool(unsigned short& port)> afterReset;
    };
    struct Outcome {
        tavrel::tavrel_error_t result = tavrel::NoError;
        std::string step; // the step that failed or was not run; empty on success
        bool completed() const { return result == tavrel::NoError && step.empty(); }
    };
    Outcome armFrameCapture(const tavrel::LaserSettings& settings, unsigned short port,
                            const FrameCaptureHooks& hooks = {});

    // Stops what this session started and has not seen stopped: the frame capture's armed
    // events ("Reset events"), the laser stream ("Stop Laser"), a scan ("Stop"). Each stop
    // with its result, in the order sent.
    struct Stop {
        std::string what;
        tavrel::tavrel_error_t result = tavrel::NoError;
    };
    std::vector<Stop> stopWhatWasStarted();

private:
    std::string m_address;
    // Destroyed in reverse order: the worker first, then the event manager, the device facade,
    // the listener, and last what watches their traffic.
    std::shared_ptr<TrafficTee> m_traffic[2];
    std::shared_ptr<tavrel::SentovaTrafficCallbackClass> m_laserTraffic;
    std::unique_ptr<DeviceWatch> m_watch;
    std::unique_ptr<tavrel::SentovaGrabber> m_listener;
    // Registered with the event manager while set; outlives it.
    std::unique_ptr<FrameNotifications> m_frameNotifications;
    std::unique_ptr<tavrel::Sentova> m_device;
    std::unique_ptr<tavrel::SentovaEventManager> m_eventManager;
    std::unique_ptr<command::CommandWorker> m_worker;
};

} // namespace sentova::session
