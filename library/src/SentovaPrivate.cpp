#include "SentovaPrivate.h"

#include "ReplyDecoding.h"
#include "SentovaHighPerf.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/CommandTable.h"
#include "Sentova/Protocol.h"
#include "Sentova/Sentova.h"
#include "Sentova/SentovaLogger.h"

#include <chrono>

namespace tavrel {

SentovaPrivate::SentovaPrivate(std::string address, unsigned short port)
    : SentovaBase(address, port, 0), m_responseTimeout(protocol::kResponseTimeoutMs),
      m_motionTimeout(protocol::kMotionTimeoutMs), m_libVersion(SENTOVA_VERSION) {
    m_nonBlockingTimer = std::make_shared<boost::asio::steady_timer>(IOService());
    StartReceiving();
}

SentovaPrivate::~SentovaPrivate() {
    SENTOVA_LOG(trace) << "SentovaPrivate destructor ";
    // A transaction waiting on another thread ends first; then the socket
    // thread, which uses the members and hands records to the trigger instance.
    m_blocking.Close();
    StopSocketThread();
    if (m_highPerf)
        SentovaHighPerf::DestroyInstance();
}

tavrel_error_t SentovaPrivate::SendBlockingCommand(std::string command, int timeout) {
    const unsigned int wait =
        timeout < 0 ? m_responseTimeout.load() : static_cast<unsigned int>(timeout);
    return Transact(command, wait, nullptr);
}

tavrel_error_t SentovaPrivate::Transact(const std::string& command, unsigned int timeout,
                                        const Decoder& decode) {
    return m_blocking.Run(command, timeout, decode);
}

tavrel_error_t SentovaPrivate::Transact(const std::string& command, const Decoder& decode) {
    return Transact(command,
                    WaitsForMotion(command) ? m_motionTimeout.load() : m_responseTimeout.load(),
                    decode);
}

tavrel_error_t SentovaPrivate::GetLastBlockingResponse(std::string& out) {
    return m_blocking.LastResponse(out);
}

tavrel_error_t SentovaPrivate::GetLastNonBlockingResponse(std::string& out) {
    boost::lock_guard<boost::mutex> lock(m_responseMutex);
    const tavrel_error_t result = m_lastNonBlockingError;
    if (result == NoError)
        out = m_lastNonBlockingResponse;
    return result;
}

tavrel_error_t SentovaPrivate::SendNonBlockingCommand(std::string command,
                                                      SentovaNotificationCallbackClass* callback) {
    SENTOVA_LOG(trace) << "SentovaPrivate::SendNonBlockingCommand " << command;
    if (callback == nullptr)
        return InvalidCallback;
    if (command.size() < protocol::kCodeLength)
        return UnknownCommand;
    boost::unique_lock<boost::mutex> lock(m_nonBlockingMutex, boost::try_to_lock);
    if (!lock.owns_lock() || m_nonBlockingSending || m_blocking.Busy())
        return DriverBusy;
    if (TrafficObserved()) {
        m_nonBlockingSending = true;
        lock.unlock();
        ObserveOutgoing(command);
        lock.lock();
        m_nonBlockingSending = false;
    }
    // A newer command replaces an outstanding one, whose callback is dropped.
    m_nonBlockingTransInProgress = true;
    m_nonBlockingCommand = command;
    m_notificationCallback = callback;
    const unsigned long transaction = ++m_nonBlockingTransaction;
    try {
        SendCommand(command);
    } catch (...) {
        m_nonBlockingTransInProgress = false;
        throw;
    }
    const unsigned int timeout = m_motionTimeout;
    if (timeout != 0) {
        m_nonBlockingTimer->expires_after(std::chrono::milliseconds(timeout));
        m_nonBlockingTimer->async_wait([this, transaction](const boost::system::error_code& ec) {
            NonBlockingTimerCallback(ec, transaction);
        });
    }
    return NoError;
}

void SentovaPrivate::NonBlockingTimerCallback(const boost::system::error_code& error,
                                              unsigned long transaction) {
    boost::lock_guard<boost::mutex> lock(m_nonBlockingMutex);
    if (error || !m_nonBlockingTransInProgress || transaction != m_nonBlockingTransaction)
        return;
    m_nonBlockingTransInProgress = false;
    m_notificationCallback->NotificationCallback(Timeout);
}

void SentovaPrivate::BaseRXCallback(std::string code, std::string payload, std::string sender) {
    SENTOVA_LOG(trace) << "SentovaBase::BaseRXCallback m_sender_endpoint: " << sender
                       << " Opcode: " << code;
    if (m_blocking.Complete(code, payload)) {
        SENTOVA_LOG(trace) << "SentovaPrivate::BaseRXCallback:m_transInProgress: " << code;
        return;
    }
    if (m_nonBlockingTransInProgress) {
        boost::lock_guard<boost::mutex> lock(m_nonBlockingMutex);
        SENTOVA_LOG(trace) << "TEST: BaseRXCallback::m_nonBlockingTransInProgress "
                           << m_nonBlockingCommand;
        const bool matches =
            SameStem(m_nonBlockingCommand, code) ||
            (code == protocol::kTriggerCode && SameStem(m_nonBlockingCommand, "SVSEAT"));
        if (m_nonBlockingTransInProgress && matches) {
            if (HasClass(code, protocol::kClassError)) {
                m_lastNonBlockingError = DeviceErrorCode(payload);
            } else if (HasClass(code, protocol::kClassDone)) {
                m_lastNonBlockingError = NoError;
            } else if (HasClass(code, protocol::kClassData) ||
                       HasClass(code, protocol::kClassNotify)) {
                boost::lock_guard<boost::mutex> responseLock(m_responseMutex);
                m_lastNonBlockingError = NoError;
                m_lastNonBlockingResponse = payload;
            } else {
                // The right stem with a class the device does not send: a reply
                // nobody can read, never the result of an earlier transaction.
                m_lastNonBlockingError = OtherError;
            }
            m_nonBlockingTimer->cancel();
            m_nonBlockingTransInProgress = false;
            m_notificationCallback->NotificationCallback(m_lastNonBlockingError);
            SENTOVA_LOG(trace) << "SentovaPrivate::BaseRXCallback:m_nonBlockingTransInProgress: "
                               << code;
            return;
        }
    }
    if (code == protocol::kTriggerCode)
        HighPerfTriggerCallback(payload);
}

void SentovaPrivate::HighPerfTriggerCallback(std::string payload) {
    SENTOVA_LOG(trace) << "SentovaPrivate::HighPerfTriggerCallback";
    SentovaHighPerf* const instance = m_highPerf;
    if (instance == nullptr)
        return;
    TriggerRecord record;
    if (!DecodeTriggerRecord(payload, record)) {
        SENTOVA_LOG(trace) << "SentovaPrivate::HighPerfTriggerCallback: No data returning... Len: "
                           << payload.size();
        return;
    }
    SENTOVA_LOG(trace) << "SentovaPrivate::HighPerfTriggerCallback index:" << record.index
                       << " tStamp: " << record.tStamp << " Az: " << record.azimuth
                       << " El: " << record.elevation << " Exp: " << record.exp;
    instance->SetHighPerfResponseData(record.index, record.tStamp, record.azimuth, record.elevation,
                                      record.exp);
}

tavrel_error_t
SentovaPrivate::RegisterHighPerfTriggerCallback(SentovaHighPerfTriggerCallbackClass* callback) {
    if (callback == nullptr)
        return InvalidCallback;
    SentovaHighPerfTriggerCallbackClass* none = nullptr;
    if (!m_highPerfCallback.compare_exchange_strong(none, callback))
        return DriverBusy;
    m_highPerf = SentovaHighPerf::GetInstance(callback);
    SENTOVA_LOG(debug) << "SentovaPrivate::RegisterHighPerfTriggerCallback Successfully registered";
    return NoError;
}

tavrel_error_t SentovaPrivate::SetApertureAnglesWithTrigger(double azimuth, double elevation,
                                                            double speed, unsigned int p,
                                                            unsigned int q,
                                                            SentovaHighPerfTriggerCallbackClass*) {
    return SendBlockingCommand(CommandSerialiser::SVSEAT(azimuth, elevation, speed, p, q));
}

tavrel_error_t SentovaPrivate::TestHighPerformanceTrigger(unsigned int p, unsigned int q,
                                                          SentovaHighPerfTriggerCallbackClass*) {
    return SendBlockingCommand(CommandSerialiser::SVTTRG(p, q));
}

tavrel_error_t SentovaPrivate::Home() {
    return Transact(CommandSerialiser::SVHOME(), nullptr);
}

tavrel_error_t SentovaPrivate::Home(SentovaNotificationCallbackClass* callback) {
    return SendNonBlockingCommand(CommandSerialiser::SVHOME(), callback);
}

tavrel_error_t SentovaPrivate::Stop() {
    return SendBlockingCommand(CommandSerialiser::SVSTOP());
}

tavrel_error_t SentovaPrivate::SetApertureAngles(double azimuth, double elevation, double speed) {
    return Transact(CommandSerialiser::SVSEAA(azimuth, elevation, speed), nullptr);
}

tavrel_error_t SentovaPrivate::SetApertureAngles(double azimuth, double elevation, double speed,
                                                 SentovaNotificationCallbackClass* callback) {
    return SendNonBlockingCommand(CommandSerialiser::SVSEAA(azimuth, elevation, speed), callback);
}

tavrel_error_t SentovaPrivate::TrackApertureAngles(double azimuth, double elevation, double speed) {
    return SendBlockingCommand(CommandSerialiser::SVTRAA(azimuth, elevation, speed));
}

tavrel_error_t SentovaPrivate::SetAcceleration(double acceleration) {
    return SendBlockingCommand(CommandSerialiser::SVSEAC(acceleration));
}

tavrel_error_t SentovaPrivate::StartFullFieldScan(double speed, unsigned short lines) {
    return SendBlockingCommand(CommandSerialiser::SVSFFS(speed, WholeLineCount(lines)));
}

tavrel_error_t SentovaPrivate::StartBoundedElevationScan(double speed, double elevationMin,
                                                         double elevationMax,
                                                         unsigned short lines) {
    return SendBlockingCommand(
        CommandSerialiser::SVSBES(speed, elevationMin, elevationMax, WholeLineCount(lines)));
}

tavrel_error_t SentovaPrivate::StartRegionScan(double speed, double azimuthMin, double azimuthMax,
                                               double elevationMin, double elevationMax,
                                               unsigned short lines) {
    return SendBlockingCommand(CommandSerialiser::SVSRES(
        speed, azimuthMin, azimuthMax, elevationMin, elevationMax, WholeLineCount(lines)));
}

tavrel_error_t SentovaPrivate::StartLaser(unsigned short a, unsigned short b, bool flag,
                                          unsigned short d) {
    return SendBlockingCommand(CommandSerialiser::SVRNLS(a, b, flag, d));
}

tavrel_error_t SentovaPrivate::StopLaser() {
    return SendBlockingCommand(CommandSerialiser::SVSTLS());
}

tavrel_error_t SentovaPrivate::SetLaserGain(int gain) {
    return SendBlockingCommand(CommandSerialiser::SVSLGA(
        static_cast<unsigned short>(static_cast<unsigned int>(gain) & 0xFFu)));
}

tavrel_error_t SentovaPrivate::SetMotors(bool on) {
    return SendBlockingCommand(on ? CommandSerialiser::SVMONN() : CommandSerialiser::SVMOFF());
}

tavrel_error_t SentovaPrivate::StartStabilisation() {
    return SendBlockingCommand(CommandSerialiser::SVSRUN());
}

tavrel_error_t SentovaPrivate::StopStabilisation() {
    return SendBlockingCommand(CommandSerialiser::SVSSTP());
}

tavrel_error_t SentovaPrivate::SetStabilisedTarget(double t1, double t2, double t3) {
    return SendBlockingCommand(CommandSerialiser::SVSSTG(t1, t2, t3));
}

tavrel_error_t SentovaPrivate::SetStabilisedSpeed(double speed) {
    return Transact(CommandSerialiser::SVSSSP(speed), nullptr);
}

tavrel_error_t SentovaPrivate::QueryAngles(const std::string& command, double* out,
                                           std::size_t count) {
    return Transact(command, [&command, out, count](const std::string& response) {
        return DecodeReplyAngles(command, response, out, count) ? NoError : OtherError;
    });
}

tavrel_error_t SentovaPrivate::GetApertureAngles(double& azimuth, double& elevation) {
    double angles[2];
    const tavrel_error_t result = QueryAngles(CommandSerialiser::SVGEAA(), angles, 2);
    if (result == NoError) {
        azimuth = angles[0];
        elevation = angles[1];
    }
    return result;
}

tavrel_error_t SentovaPrivate::GetStabilisedTarget(double& t1, double& t2, double& t3) {
    double angles[3];
    const tavrel_error_t result = QueryAngles(CommandSerialiser::SVSGTG(), angles, 3);
    if (result == NoError) {
        t1 = angles[0];
        t2 = angles[1];
        t3 = angles[2];
    }
    return result;
}

tavrel_error_t SentovaPrivate::GetStabilisedTargetError(double& e1, double& e2) {
    double angles[2];
    const tavrel_error_t result = QueryAngles(CommandSerialiser::SVSGER(), angles, 2);
    if (result == NoError) {
        e1 = angles[0];
        e2 = angles[1];
    }
    return result;
}

tavrel_error_t SentovaPrivate::GetStabilisedTargetDistance(double& distance) {
    double angle;
    const tavrel_error_t result = QueryAngles(CommandSerialiser::SVSGER(), &angle, 1);
    if (result == NoError)
        distance = angle;
    return result;
}

tavrel_error_t SentovaPrivate::GetStabilisedRoll(double& roll) {
    double angle;
    const tavrel_error_t result = QueryAngles(CommandSerialiser::SVSGRL(), &angle, 1);
    if (result == NoError)
        roll = angle;
    return result;
}

namespace {

SentovaPrivate::Decoder CopyPayloadTo(std::string& text) {
    return [&text](const std::string& response) {
        text = response;
        return NoError;
    };
}

} // namespace

tavrel_error_t SentovaPrivate::GetSerial(std::string& serial) {
    std::string text;
    const tavrel_error_t result = Transact(CommandSerialiser::SVCQRE(), CopyPayloadTo(text));
    if (result == NoError)
        serial = text;
    return result;
}

tavrel_error_t SentovaPrivate::GetState(std::string& state) {
    std::string text;
    const tavrel_error_t result = Transact(CommandSerialiser::SVGMTN(), CopyPayloadTo(text));
    if (result == NoError)
        state = text;
    return result;
}

tavrel_error_t SentovaPrivate::ReadFlash(unsigned short page, std::string& data) {
    std::string bytes;
    const tavrel_error_t result = Transact(CommandSerialiser::SVGUFP(page), CopyPayloadTo(bytes));
    if (result == NoError)
        data = bytes;
    return result;
}

tavrel_error_t SentovaPrivate::WriteFlash(unsigned short page, std::string data) {
    return SendBlockingCommand(CommandSerialiser::SVSUFP(page, std::move(data)));
}

tavrel_error_t SentovaPrivate::EraseFlash(unsigned short page) {
    return SendBlockingCommand(CommandSerialiser::SVEUFP(page));
}

tavrel_error_t SentovaPrivate::SetIPSettings(std::string settings, std::string address) {
    return SendBlockingCommand(CommandSerialiser::SVSIPC(std::move(settings), std::move(address)));
}

tavrel_error_t SentovaPrivate::TestError() {
    return SendBlockingCommand(CommandSerialiser::SVPPPP());
}

std::string SentovaPrivate::GetErrorString(tavrel_error_t error) {
    return FormatErrorString(error);
}

tavrel_error_t SentovaPrivate::VerifyLibVersion() {
    const int library = LibraryVersionNumber(m_libVersion);
    std::string serial;
    const tavrel_error_t result = GetSerial(serial);
    if (result != NoError)
        return result;
    const int firmware = FirmwareVersionNumber(serial);
    SENTOVA_LOG(trace) << "SV Serial Number: " << serial << "Firmware Version: " << firmware
                       << " Library Version: " << library;
    if (VersionsCompatible(firmware, library))
        return NoError;
    SENTOVA_LOG(fatal) << "The Sentova Library version: " << library
                       << " is not compatible with the Firmware version: " << firmware;
    return LibraryIncompatible;
}

} // namespace tavrel
