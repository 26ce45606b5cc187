// The device controller: blocking and non-blocking command transactions on a
// command channel, the reply dispatcher, and every device operation.
#pragma once

#include "CommandTransaction.h"
#include "SentovaBase.h"

#include "Sentova/SentovaCallbacks.h"
#include "Sentova/SentovaError.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace tavrel {

class SentovaHighPerf;

class SentovaPrivate final : public SentovaBase {
public:
    SentovaPrivate(std::string address, unsigned short port);
    ~SentovaPrivate();

    // Transactions. timeout: negative selects the response time-out, 0 waits
    // without limit, otherwise milliseconds.
    tavrel_error_t SendBlockingCommand(std::string command, int timeout = -1);
    tavrel_error_t SendNonBlockingCommand(std::string command,
                                          SentovaNotificationCallbackClass* callback);

    tavrel_error_t GetLastBlockingError() const { return m_blocking.LastError(); }
    tavrel_error_t GetLastNonBlockingError() const { return m_lastNonBlockingError; }
    // Copy the stored reply data into out when the stored result is 0; return it.
    tavrel_error_t GetLastBlockingResponse(std::string& out);
    tavrel_error_t GetLastNonBlockingResponse(std::string& out);

    unsigned int GetResponseTimeout() const { return m_responseTimeout; }
    void SetResponseTimeout(unsigned int milliseconds) { m_responseTimeout = milliseconds; }
    unsigned int GetMotionTimeout() const { return m_motionTimeout; }
    void SetMotionTimeout(unsigned int milliseconds) { m_motionTimeout = milliseconds; }

    tavrel_error_t Home();
    tavrel_error_t Home(SentovaNotificationCallbackClass* callback);
    tavrel_error_t Stop();
    tavrel_error_t SetApertureAngles(double azimuth, double elevation, double speed);
    tavrel_error_t SetApertureAngles(double azimuth, double elevation, double speed,
                                     SentovaNotificationCallbackClass* callback);
    tavrel_error_t TrackApertureAngles(double azimuth, double elevation, double speed);
    tavrel_error_t SetAcceleration(double acceleration);
    tavrel_error_t StartFullFieldScan(double speed, unsigned short lines);
    tavrel_error_t StartBoundedElevationScan(double speed, double elevationMin, double elevationMax,
                                             unsigned short lines);
    tavrel_error_t StartRegionScan(double speed, double azimuthMin, double azimuthMax,
                                   double elevationMin, double elevationMax, unsigned short lines);
    tavrel_error_t StartLaser(unsigned short a, unsigned short b, bool flag, unsigned short d);
    tavrel_error_t StopLaser();
    tavrel_error_t SetLaserGain(int gain);
    tavrel_error_t SetMotors(bool on);
    tavrel_error_t StartStabilisation();
    tavrel_error_t StopStabilisation();
    tavrel_error_t SetStabilisedTarget(double t1, double t2, double t3);
    tavrel_error_t SetStabilisedSpeed(double speed);
    tavrel_error_t GetApertureAngles(double& azimuth, double& elevation);
    tavrel_error_t GetStabilisedTarget(double& t1, double& t2, double& t3);
    tavrel_error_t GetStabilisedTargetError(double& e1, double& e2);
    tavrel_error_t GetStabilisedTargetDistance(double& distance);
    tavrel_error_t GetStabilisedRoll(double& roll);
    tavrel_error_t GetSerial(std::string& serial);
    tavrel_error_t GetState(std::string& state);
    tavrel_error_t ReadFlash(unsigned short page, std::string& data);
    tavrel_error_t WriteFlash(unsigned short page, std::string data);
    tavrel_error_t EraseFlash(unsigned short page);
    tavrel_error_t SetIPSettings(std::string settings, std::string address);
    tavrel_error_t TestError();
    tavrel_error_t VerifyLibVersion();
    static std::string GetErrorString(tavrel_error_t error);
    std::string GetLibVersion() const { return m_libVersion; }

    // High-performance trigger: 252 for null, 253 when already registered.
    tavrel_error_t RegisterHighPerfTriggerCallback(SentovaHighPerfTriggerCallbackClass* callback);
    SentovaHighPerfTriggerCallbackClass* GetHighPerfTriggerCallback() const {
        return m_highPerfCallback;
    }
    tavrel_error_t SetApertureAnglesWithTrigger(double azimuth, double elevation, double speed,
                                                unsigned int p, unsigned int q,
                                                SentovaHighPerfTriggerCallbackClass* callback);
    tavrel_error_t TestHighPerformanceTrigger(unsigned int p, unsigned int q,
                                              SentovaHighPerfTriggerCallbackClass* callback);

    using Decoder = CommandTransaction::Decoder;

    // The reply dispatcher, run on the socket thread for every datagram; public so
    // that fuzzing can hand it datagrams without a socket in between.
    void BaseRXCallback(std::string code, std::string payload, std::string sender) override;

private:
    // The blocking transaction; timeout in milliseconds, 0 without limit.
    tavrel_error_t Transact(const std::string& command, unsigned int timeout,
                            const Decoder& decode);
    // The blocking transaction with the time-out the command's reply is awaited with.
    tavrel_error_t Transact(const std::string& command, const Decoder& decode);
    tavrel_error_t QueryAngles(const std::string& command, double* out, std::size_t count);
    void NonBlockingTimerCallback(const boost::system::error_code& error,
                                  unsigned long transaction);
    void HighPerfTriggerCallback(std::string payload);

    // m_nonBlockingMutex guards m_nonBlockingCommand, m_notificationCallback,
    // m_nonBlockingTransaction, m_nonBlockingSending and the timer object. The
    // dispatcher and the timer handler call the notification callback with it held.
    boost::mutex m_nonBlockingMutex;
    // A sender shows its command to the traffic observer with the lock
    // released; meanwhile other senders are refused as if the lock were held.
    bool m_nonBlockingSending = false;
    std::string m_nonBlockingCommand;
    SentovaNotificationCallbackClass* m_notificationCallback = nullptr;
    // Counts non-blocking transactions, so that a time-out queued for an earlier
    // one never ends a later one.
    unsigned long m_nonBlockingTransaction = 0;
    // On the steady clock, so that a step of the system clock neither cuts nor
    // stretches the time-out.
    std::shared_ptr<boost::asio::steady_timer> m_nonBlockingTimer;
    // Written under m_nonBlockingMutex; read before taking it.
    std::atomic<bool> m_nonBlockingTransInProgress{false};
    std::atomic<tavrel_error_t> m_lastNonBlockingError{NoError};
    // m_responseMutex guards m_lastNonBlockingResponse only; it is taken inside
    // m_nonBlockingMutex and nothing is taken inside it, so a notification
    // callback may read the response.
    boost::mutex m_responseMutex;
    std::string m_lastNonBlockingResponse;

    // The blocking transactions.
    CommandTransaction m_blocking{*this};

    std::atomic<unsigned int> m_responseTimeout;
    std::atomic<unsigned int> m_motionTimeout;

    // Set once by the first successful registration; read on the socket thread.
    std::atomic<SentovaHighPerfTriggerCallbackClass*> m_highPerfCallback{nullptr};
    std::atomic<SentovaHighPerf*> m_highPerf{nullptr};

    const std::string m_libVersion;
};

} // namespace tavrel
