#include "SentovaHighPerf.h"

#include "Sentova/SentovaLogger.h"

#include <exception>

namespace tavrel {

boost::mutex SentovaHighPerf::s_instanceMutex;
SentovaHighPerf* SentovaHighPerf::m_sentovaHighPerf = nullptr;
unsigned int SentovaHighPerf::s_registrations = 0;

SentovaHighPerf* SentovaHighPerf::GetInstance(SentovaHighPerfTriggerCallbackClass* callback) {
    boost::lock_guard<boost::mutex> lock(s_instanceMutex);
    if (m_sentovaHighPerf == nullptr)
        m_sentovaHighPerf = new SentovaHighPerf(callback);
    ++s_registrations;
    return m_sentovaHighPerf;
}

void SentovaHighPerf::DestroyInstance() {
    SentovaHighPerf* last = nullptr;
    {
        boost::lock_guard<boost::mutex> lock(s_instanceMutex);
        if (m_sentovaHighPerf == nullptr || --s_registrations > 0)
            return;
        last = m_sentovaHighPerf;
        m_sentovaHighPerf = nullptr;
    }
    // Joined outside the lock: the callback running meanwhile may register.
    delete last;
}

SentovaHighPerf::SentovaHighPerf(SentovaHighPerfTriggerCallbackClass* callback)
    : m_callback(callback) {
    StartIOThread();
}

SentovaHighPerf::~SentovaHighPerf() {
    SENTOVA_LOG(trace) << "SentovaHighPerf destructor";
    StopIOThread();
}

void SentovaHighPerf::StartIOThread() {
    SENTOVA_LOG(trace) << "SentovaHighPerf::StartIOThread ";
    m_ioService = std::make_shared<boost::asio::io_context>();
    // On the steady clock: a step of the system clock cannot make it expire.
    m_timer = std::make_shared<boost::asio::steady_timer>(
        *m_ioService, boost::asio::steady_timer::time_point::max());
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        // Armed before the thread runs the service, so the service always has work.
        AsynchronousWait();
    }
    m_ioThread = std::make_shared<boost::thread>([this] { RunIOThread(); });
}

void SentovaHighPerf::RunIOThread() {
    SENTOVA_LOG(trace) << "SentovaHighPerf::RunIOThread";
    m_ioService->run();
}

void SentovaHighPerf::StopIOThread() {
    SENTOVA_LOG(trace) << "SentovaHighPerf::StopIOThread ";
    m_ioService->stop();
    if (m_ioThread && m_ioThread->joinable())
        m_ioThread->join();
    m_ioThread.reset();
    m_timer.reset();
    m_ioService.reset();
}

void SentovaHighPerf::AsynchronousWait() {
    m_waitPending = true;
    m_timer->async_wait([this](const boost::system::error_code&) {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        m_waitPending = false;
        TriggerCallback(lock);
    });
}

void SentovaHighPerf::TriggerCallback(boost::unique_lock<boost::mutex>& lock) {
    SENTOVA_LOG(debug) << "SentovaHighPerf::TriggerCallback";
    if (m_fresh) {
        m_fresh = false;
        const unsigned int index = m_index, tStamp = m_tStamp, exp = m_exp;
        const double azimuth = m_azimuth, elevation = m_elevation;
        SENTOVA_LOG(trace) << "TEST: SentovaHighPerf::TriggerCallback after GetCallBackdata";
        lock.unlock();
        // A throwing callback must not end the thread (nor the process): it is
        // logged, and the next record is delivered as usual.
        try {
            if (m_callback != nullptr)
                m_callback->HighPerfTriggerCallback(index, tStamp, azimuth, elevation, exp);
        } catch (const std::exception& e) {
            SENTOVA_LOG(error) << "SentovaHighPerf: trigger callback: " << e.what();
        } catch (...) {
            SENTOVA_LOG(error) << "SentovaHighPerf: trigger callback: unknown exception";
        }
        SENTOVA_LOG(trace) << "TEST: SentovaHighPerf::TriggerCallback Returning ";
        lock.lock();
    }
    AsynchronousWait();
    // Records stored while the callback ran found no wait to cancel: complete
    // this one at once, so the latest of them is delivered now rather than with
    // the next record.
    if (m_fresh) {
        m_timer->cancel();
        m_waitPending = false;
    }
}

void SentovaHighPerf::SetHighPerfResponseData(unsigned int index, unsigned int tStamp,
                                              double azimuth, double elevation, unsigned int exp) {
    SENTOVA_LOG(trace) << "SentovaHighPerf::SetHighPerfResponseData ";
    boost::lock_guard<boost::mutex> lock(m_mutex);
    SENTOVA_LOG(trace) << "SetHighPerfResponseData acquired lock";
    m_index = index;
    m_tStamp = tStamp;
    m_azimuth = azimuth;
    m_elevation = elevation;
    m_exp = exp;
    m_fresh = true;
    if (m_waitPending) {
        m_timer->cancel();
        m_waitPending = false;
    }
}

void SentovaHighPerf::GetCallbackData(unsigned int& index, unsigned int& tStamp, double& azimuth,
                                      double& elevation, unsigned int& exp) {
    boost::lock_guard<boost::mutex> lock(m_mutex);
    index = m_index;
    tStamp = m_tStamp;
    azimuth = m_azimuth;
    elevation = m_elevation;
    exp = m_exp;
}

} // namespace tavrel
