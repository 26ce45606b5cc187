// Delivery of high-performance trigger records to the application on a thread
// of its own, so that the controllers' socket threads never run application
// code for triggers. One instance per process, shared by every controller.
//
// Lifetime: the instance is counted. Each successful GetInstance is one
// registration (a controller registers at most once) and each DestroyInstance
// releases one; the instance and its thread go when the last registration is
// released. So no controller's destructor can remove the instance from under
// another controller that still uses it. A controller releases its
// registration only after its own socket thread, the only caller of
// SetHighPerfResponseData for it, has stopped.
#pragma once

#include "Sentova/SentovaCallbacks.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <memory>

namespace tavrel {

class SentovaHighPerf {
public:
    // Registers one user and returns the instance, creating it with callback
    // when there is none; otherwise callback is ignored (the first one stays).
    static SentovaHighPerf* GetInstance(SentovaHighPerfTriggerCallbackClass* callback);
    // Releases one registration; destroys the instance with the last one. Must
    // not be called from the trigger callback.
    static void DestroyInstance();

    // Stores a record (replacing any undelivered one) and wakes the I/O thread.
    void SetHighPerfResponseData(unsigned int index, unsigned int tStamp, double azimuth,
                                 double elevation, unsigned int exp);
    void GetCallbackData(unsigned int& index, unsigned int& tStamp, double& azimuth,
                         double& elevation, unsigned int& exp);
    SentovaHighPerfTriggerCallbackClass* GetHighPerfTriggerCallback() const { return m_callback; }

private:
    explicit SentovaHighPerf(SentovaHighPerfTriggerCallbackClass* callback);
    ~SentovaHighPerf();

    void StartIOThread();
    void RunIOThread();
    void StopIOThread();
    // Called with m_mutex held.
    void AsynchronousWait();
    // Called with m_mutex held through lock; releases it while the callback runs.
    void TriggerCallback(boost::unique_lock<boost::mutex>& lock);

    // m_mutex guards the record, m_fresh, m_waitPending and the timer object
    // (armed on the I/O thread, cancelled on socket threads). Never held while
    // the application's callback runs.
    boost::mutex m_mutex;
    unsigned int m_index = 0;
    unsigned int m_tStamp = 0;
    double m_azimuth = 0.0;
    double m_elevation = 0.0;
    unsigned int m_exp = 0;
    // A record is stored that the callback has not seen yet.
    bool m_fresh = false;
    // A wait on m_timer is armed.
    bool m_waitPending = false;

    SentovaHighPerfTriggerCallbackClass* const m_callback;
    std::shared_ptr<boost::asio::io_context> m_ioService;
    // Never expires: it is only a wake-up that gets cancelled.
    std::shared_ptr<boost::asio::steady_timer> m_timer;
    std::shared_ptr<boost::thread> m_ioThread;

    // s_instanceMutex guards m_sentovaHighPerf and s_registrations.
    static boost::mutex s_instanceMutex;
    static SentovaHighPerf* m_sentovaHighPerf;
    static unsigned int s_registrations;
};

} // namespace tavrel
