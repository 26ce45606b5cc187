// One-at-a-time command transactions on a command channel: send a command, then
// wait, with a deadline, for the reply whose four-letter stem matches it. The
// device controller's blocking transactions and the event manager's
// transactions both run on this.
//
// Reply data never outlives its transaction: it is cleared when the next one
// begins, so a reply without data ("EA") to a query finds nothing rather than
// the data of an earlier reply.
#pragma once

#include "Sentova/SentovaError.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <functional>
#include <string>

namespace tavrel {

class SentovaBase;

class CommandTransaction {
public:
    // Reads the data of a successful reply and returns the transaction's result
    // (0, or for instance 255 when the data is too short). Runs with the
    // transaction lock held, so no other transaction replaces the data meanwhile.
    using Decoder = std::function<tavrel_error_t(const std::string& response)>;

    explicit CommandTransaction(SentovaBase& channel) : m_channel(channel) {}
    CommandTransaction(const CommandTransaction&) = delete;
    CommandTransaction& operator=(const CommandTransaction&) = delete;

    // Sends command through the channel and waits for its reply: timeout in
    // milliseconds, 0 without limit. Returns 6 for a command shorter than six
    // bytes and 253 while another transaction runs (nothing is sent then), 254
    // when no reply came in time (or the channel is closing), else the reply's
    // result, then the decoder's. The result is also kept as LastError. A send
    // failure propagates as the channel's exception and leaves the channel free.
    tavrel_error_t Run(const std::string& command, unsigned int timeout, const Decoder& decode);

    // On the socket thread, for every datagram: when it answers the outstanding
    // command (same stem), stores its result ("EE": the error byte, "EA": 0,
    // "ER": 0 and its data; any other class 255), wakes the waiting
    // thread and returns true. A reply after the time-out finds nothing
    // outstanding.
    bool Complete(const std::string& code, const std::string& payload);

    // Ends a waiting transaction as a time-out and refuses new ones; returns
    // once no thread is inside Run, so that the channel may go. Not from the
    // socket thread.
    void Close();

    // A thread is inside Run (from its start until it returns).
    bool Busy() const { return m_busy; }
    tavrel_error_t LastError() const { return m_lastError; }
    // Copies the data of the last reply into out when the last result is 0;
    // returns the last result.
    tavrel_error_t LastResponse(std::string& out);

private:
    tavrel_error_t Wait(boost::unique_lock<boost::mutex>& lock, unsigned int timeout);
    void Leave();

    SentovaBase& m_channel;
    // m_mutex guards m_command and m_response, and is held by the requesting
    // thread for the whole transaction except while it waits on m_condition or
    // shows the command to a traffic observer. m_condition wakes the requester
    // (reply, close) and Close (requester left).
    boost::mutex m_mutex;
    boost::condition_variable m_condition;
    std::string m_command;
    std::string m_response;
    // Written under m_mutex; the dispatcher and the non-blocking path read
    // them before taking it.
    std::atomic<bool> m_busy{false};
    // A reply is awaited.
    std::atomic<bool> m_inProgress{false};
    std::atomic<bool> m_closing{false};
    std::atomic<tavrel_error_t> m_lastError{NoError};
};

} // namespace tavrel
