// Every command of the library's table sent to the simulator through the
// event manager's raw path: a well-formed one gets a reply of a proper class,
// one of the wrong length the length error.
#include "SimTestSupport.h"

#include "Sentova/CommandTable.h"
#include "Sentova/SentovaEventManager.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

using namespace sentova::sim;

namespace {

// Keeps the replies the event manager receives.
class ReplyLog : public tavrel::SentovaTrafficCallbackClass {
public:
    explicit ReplyLog(std::uint16_t devicePort) : m_devicePort(devicePort) {}
    void TrafficCallback(const tavrel::traffic_datagram_t& d) override {
        if (d.sourcePort != m_devicePort)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = std::string(d.data, d.size);
    }
    std::string last() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last;
    }

private:
    const std::uint16_t m_devicePort;
    std::mutex m_mutex; // guards m_last
    std::string m_last;
};

// The code followed by zero bytes: each fixed field, and a variable one at its
// shortest.
std::string wellFormed(const tavrel::CommandInfo& c) {
    return c.code + std::string(tavrel::MinimumBytes(c.arguments), '\0');
}

// One byte too many for a fixed layout; one too few for a variable one (or a
// partial parameter).
std::string wrongLength(const tavrel::CommandInfo& c) {
    const std::size_t minimum = tavrel::MinimumBytes(c.arguments);
    if (!tavrel::HasVariableField(c.arguments))
        return c.code + std::string(minimum + 1, '\0');
    if (minimum == 0)
        return c.code + std::string(tavrel::kParameterSize - 1, '\0');
    return c.code + std::string(minimum - 1, '\0');
}

} // namespace

TEST(CommandDispatch, EveryCommandIsAnsweredByItsLayout) {
    SimulatorConfig c = simtest::quietConfig(SIM_TEST_NET ".5.1");
    Simulator sim(c);
    sim.start();
    tavrel::SentovaEventManager events(SIM_TEST_NET ".5.1");
    const auto replies = std::make_shared<ReplyLog>(c.port);
    events.SetTrafficObserver(replies);

    for (const tavrel::CommandInfo& command : tavrel::kCommands) {
        SCOPED_TRACE(command.code);
        const std::string stem = std::string(command.code).substr(2);

        const tavrel::tavrel_error_t result = events.ManagerSendCommand(wellFormed(command));
        EXPECT_NE(result, tavrel::Timeout);
        EXPECT_NE(result, tavrel::UnknownCommand);
        EXPECT_NE(result, tavrel::InvalidArgumentLength);
        const std::string reply = replies->last();
        ASSERT_GE(reply.size(), 6u);
        EXPECT_EQ(reply.substr(2, 4), stem);
        if (result != tavrel::NoError) {
            EXPECT_EQ(reply.substr(0, 2), "EE");
        } else if (command.reply.empty()) {
            EXPECT_EQ(reply, "EA" + stem);
        } else {
            EXPECT_EQ(reply.substr(0, 2), "ER");
            EXPECT_GE(reply.size() - 6, tavrel::MinimumBytes(command.reply));
            if (!tavrel::HasVariableField(command.reply)) {
                EXPECT_EQ(reply.size() - 6, tavrel::MinimumBytes(command.reply));
            }
        }

        EXPECT_EQ(events.ManagerSendCommand(wrongLength(command)), tavrel::InvalidArgumentLength);
        EXPECT_EQ(replies->last(), "EE" + stem + '\x01');
    }
}
