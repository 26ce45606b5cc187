#include "Sentova/Sentova.h"

#include "ReplyDecoding.h"
#include "SentovaPrivate.h"

#include "Sentova/Protocol.h"

namespace tavrel {

Sentova::Sentova(std::string address)
    : m_private(new SentovaPrivate(std::move(address), protocol::kCommandPort)) {}

Sentova::~Sentova() {
    delete m_private;
}

tavrel_error_t Sentova::StartLaser(unsigned short a, unsigned short b, bool flag,
                                   unsigned short d) {
    return m_private->StartLaser(a, b, flag, d);
}
tavrel_error_t Sentova::StopLaser() {
    return m_private->StopLaser();
}
tavrel_error_t Sentova::Home() {
    return m_private->Home();
}
tavrel_error_t Sentova::Home(SentovaNotificationCallbackClass* callback) {
    return m_private->Home(callback);
}
tavrel_error_t Sentova::Stop() {
    return m_private->Stop();
}

tavrel_error_t Sentova::StartFullFieldScan(double speed, double lines) {
    return m_private->StartFullFieldScan(speed, TruncateLineCount(lines));
}
tavrel_error_t Sentova::StartBoundedElevationScan(double speed, double elevationMin,
                                                  double elevationMax, double lines) {
    return m_private->StartBoundedElevationScan(speed, elevationMin, elevationMax,
                                                TruncateLineCount(lines));
}
tavrel_error_t Sentova::StartRegionScan(double speed, double azimuthMin, double azimuthMax,
                                        double elevationMin, double elevationMax, double lines) {
    return m_private->StartRegionScan(speed, azimuthMin, azimuthMax, elevationMin, elevationMax,
                                      TruncateLineCount(lines));
}

tavrel_error_t Sentova::SetApertureAngles(double azimuth, double elevation, double speed) {
    return m_private->SetApertureAngles(azimuth, elevation, speed);
}
tavrel_error_t Sentova::SetApertureAngles(double azimuth, double elevation, double speed,
                                          SentovaNotificationCallbackClass* callback) {
    return m_private->SetApertureAngles(azimuth, elevation, speed, callback);
}
tavrel_error_t Sentova::TrackApertureAngles(double azimuth, double elevation, double speed) {
    return m_private->TrackApertureAngles(azimuth, elevation, speed);
}
tavrel_error_t Sentova::SetAcceleration(double acceleration) {
    return m_private->SetAcceleration(acceleration);
}
tavrel_error_t Sentova::SetIPSettings(std::string settings, std::string address) {
    return m_private->SetIPSettings(std::move(settings), std::move(address));
}
tavrel_error_t Sentova::GetApertureAngles(double& azimuth, double& elevation) {
    return m_private->GetApertureAngles(azimuth, elevation);
}
tavrel_error_t Sentova::GetSerial(std::string& serial) {
    return m_private->GetSerial(serial);
}
tavrel_error_t Sentova::GetState(std::string& state) {
    return m_private->GetState(state);
}

tavrel_error_t Sentova::GetLastBlockingError() {
    return m_private->GetLastBlockingError();
}
tavrel_error_t Sentova::GetLastNonBlockingError() {
    return m_private->GetLastNonBlockingError();
}
std::string Sentova::GetErrorString(tavrel_error_t error) {
    return FormatErrorString(error);
}

unsigned int Sentova::GetResponseTimeout() {
    return m_private->GetResponseTimeout();
}
void Sentova::SetResponseTimeout(unsigned int milliseconds) {
    m_private->SetResponseTimeout(milliseconds);
}
unsigned int Sentova::GetMotionTimeout() {
    return m_private->GetMotionTimeout();
}
void Sentova::SetMotionTimeout(unsigned int milliseconds) {
    m_private->SetMotionTimeout(milliseconds);
}

tavrel_error_t Sentova::SetLaserGain(int gain) {
    return m_private->SetLaserGain(gain);
}
tavrel_error_t Sentova::SetMotors(bool on) {
    return m_private->SetMotors(on);
}
tavrel_error_t Sentova::StartStabilisation() {
    return m_private->StartStabilisation();
}
tavrel_error_t Sentova::StopStabilisation() {
    return m_private->StopStabilisation();
}
tavrel_error_t Sentova::SetStabilisedTarget(double t1, double t2, double t3) {
    return m_private->SetStabilisedTarget(t1, t2, t3);
}
tavrel_error_t Sentova::GetStabilisedTarget(double& t1, double& t2, double& t3) {
    return m_private->GetStabilisedTarget(t1, t2, t3);
}
tavrel_error_t Sentova::GetStabilisedTargetDistance(double& distance) {
    return m_private->GetStabilisedTargetDistance(distance);
}
tavrel_error_t Sentova::GetStabilisedRoll(double& roll) {
    return m_private->GetStabilisedRoll(roll);
}
tavrel_error_t Sentova::SetStabilisedSpeed(double speed) {
    return m_private->SetStabilisedSpeed(speed);
}

tavrel_error_t Sentova::SetApertureAnglesWithTrigger(double azimuth, double elevation, double speed,
                                                     unsigned int p, unsigned int q) {
    SentovaHighPerfTriggerCallbackClass* const callback = m_private->GetHighPerfTriggerCallback();
    if (callback == nullptr)
        return InvalidCallback;
    return m_private->SetApertureAnglesWithTrigger(azimuth, elevation, speed, p, q, callback);
}
tavrel_error_t Sentova::TestHighPerformanceTrigger(unsigned int p, unsigned int q) {
    SentovaHighPerfTriggerCallbackClass* const callback = m_private->GetHighPerfTriggerCallback();
    if (callback == nullptr)
        return InvalidCallback;
    return m_private->TestHighPerformanceTrigger(p, q, callback);
}
tavrel_error_t
Sentova::RegisterHighPerfTriggerCallback(SentovaHighPerfTriggerCallbackClass* callback) {
    return m_private->RegisterHighPerfTriggerCallback(callback);
}

tavrel_error_t Sentova::VerifyLibVersion() {
    return m_private->VerifyLibVersion();
}

void Sentova::SetTrafficObserver(std::shared_ptr<SentovaTrafficCallbackClass> observer) {
    m_private->SetTrafficObserver(std::move(observer));
}

std::uint64_t Sentova::GetRefusedSenderCount() {
    return m_private->GetRefusedSenderCount();
}

} // namespace tavrel
