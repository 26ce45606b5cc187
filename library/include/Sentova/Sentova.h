// Device control: one tavrel::Sentova per connected device.
#pragma once

#include "Sentova/SentovaCallbacks.h"
#include "Sentova/SentovaError.h"
#include "Sentova/SentovaTraffic.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tavrel {

// The library version; the firmware check compares its major and minor digits.
inline const std::string SENTOVA_VERSION = "3.5.548";

class SentovaPrivate;

// Every operation returns 0 on success, the device's error code from an "EE"
// reply, 253 while another transaction holds the channel, or 254 when no reply
// came within the time-out. Out-parameters are written only on success; a reply
// too short for the fields asked for gives 255.
//
// Blocking operations run on the caller's thread for at most their time-out:
// the response time-out (500 ms initially) or, for Home, SetApertureAngles and
// SetStabilisedSpeed, the motion time-out (2500 ms initially). Non-blocking
// operations (those taking a SentovaNotificationCallbackClass) return at once
// and report through the callback; their time-out is the motion time-out.
// A time-out of 0 means no limit. Two blocking operations do not queue: the
// second returns 253 at once.
//
// Construction sends "SVPPPP" to the device's command port 4365 from an
// ephemeral local port and starts the socket thread; the destructor stops it.
// Neither may be done from one of this object's callbacks. A blocking operation
// waiting on another thread when the destructor runs returns 254 first; an
// outstanding non-blocking operation's callback is not called.
class Sentova {
public:
    // address: dotted IPv4. Throws boost::system::system_error for any other
    // text (its what() begins "'TEXT' is not an IPv4 address", the code is the
    // parser's, EINVAL if none) or when the socket cannot be opened or the
    // first datagram not sent.
    explicit Sentova(std::string address);
    ~Sentova();
    Sentova(const Sentova&) = delete;
    Sentova& operator=(const Sentova&) = delete;

    tavrel_error_t StartLaser(unsigned short a, unsigned short b, bool flag, unsigned short d);
    tavrel_error_t StopLaser();
    tavrel_error_t Home();
    tavrel_error_t Home(SentovaNotificationCallbackClass* callback);
    tavrel_error_t Stop();

    // Scan line counts are truncated toward zero and taken modulo 65536, then
    // clamped to 32767, the largest whole count the 16.16 wire field holds
    // (7F FF 00 00): 40000 lines, and -1 (65535 after the modulo), both send
    // 32767 lines.
    tavrel_error_t StartFullFieldScan(double speed, double lines);
    tavrel_error_t StartBoundedElevationScan(double speed, double elevationMin, double elevationMax,
                                             double lines);
    tavrel_error_t StartRegionScan(double speed, double azimuthMin, double azimuthMax,
                                   double elevationMin, double elevationMax, double lines);

    tavrel_error_t SetApertureAngles(double azimuth, double elevation, double speed);
    tavrel_error_t SetApertureAngles(double azimuth, double elevation, double speed,
                                     SentovaNotificationCallbackClass* callback);
    tavrel_error_t TrackApertureAngles(double azimuth, double elevation, double speed);
    tavrel_error_t SetAcceleration(double acceleration);
    // Throws boost::system::system_error when address is not dotted IPv4, as
    // the constructor does.
    tavrel_error_t SetIPSettings(std::string settings, std::string address);
    tavrel_error_t GetApertureAngles(double& azimuth, double& elevation);
    tavrel_error_t GetSerial(std::string& serial);
    // The device's motion state ("SVGMTN") as text; state is unchanged unless the result is 0.
    tavrel_error_t GetState(std::string& state);

    tavrel_error_t GetLastBlockingError();
    tavrel_error_t GetLastNonBlockingError();
    // "Error 0x" + the code in hex + ": " + its text.
    static std::string GetErrorString(tavrel_error_t error);

    // Milliseconds; 0 means wait without limit.
    unsigned int GetResponseTimeout();
    void SetResponseTimeout(unsigned int milliseconds);
    unsigned int GetMotionTimeout();
    void SetMotionTimeout(unsigned int milliseconds);

    // Only the low byte of gain is sent.
    tavrel_error_t SetLaserGain(int gain);
    tavrel_error_t SetMotors(bool on);
    tavrel_error_t StartStabilisation();
    tavrel_error_t StopStabilisation();
    tavrel_error_t SetStabilisedTarget(double t1, double t2, double t3);
    tavrel_error_t GetStabilisedTarget(double& t1, double& t2, double& t3);
    tavrel_error_t GetStabilisedTargetDistance(double& distance);
    tavrel_error_t GetStabilisedRoll(double& roll);
    tavrel_error_t SetStabilisedSpeed(double speed);

    // The two trigger operations return 252 without sending until a trigger
    // callback is registered; the records then reach that callback.
    tavrel_error_t SetApertureAnglesWithTrigger(double azimuth, double elevation, double speed,
                                                unsigned int p, unsigned int q);
    tavrel_error_t TestHighPerformanceTrigger(unsigned int p, unsigned int q);
    // 252 for a null callback, 253 if this object already has one (the first
    // stays). Trigger records of every controller in the process go to the
    // callback registered first while any registration is alive.
    tavrel_error_t RegisterHighPerfTriggerCallback(SentovaHighPerfTriggerCallbackClass* callback);

    // Reads the serial number and checks that firmware and library are
    // compatible: 0, 251 (incompatible, also written to the library log), or
    // the failure of the serial query.
    tavrel_error_t VerifyLibVersion();

    // Shows every command this object sends and every datagram its socket
    // receives (replies, trigger records) to observer; nullptr removes it. Commands are shown
    // on the calling thread just before they are sent, received datagrams on
    // the socket thread before they are dispatched. Any thread may call this.
    void SetTrafficObserver(std::shared_ptr<SentovaTrafficCallbackClass> observer);

    // Datagrams that reached this object's socket from a host other than the
    // device and were dropped unread (no reply, notification or record is
    // taken from them). With a broadcast device address every sender is taken,
    // and this stays 0. Any thread.
    std::uint64_t GetRefusedSenderCount();

private:
    SentovaPrivate* m_private;
};

} // namespace tavrel
