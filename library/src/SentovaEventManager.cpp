#include "Sentova/SentovaEventManager.h"

#include "SentovaEventManagerPrivate.h"

#include "Sentova/Protocol.h"

namespace tavrel {

SentovaEventManager::SentovaEventManager(std::string address)
    : m_private(new SentovaEventManagerPrivate(std::move(address), protocol::kCommandPort, 0)) {}

SentovaEventManager::~SentovaEventManager() {
    delete m_private;
}

tavrel_error_t SentovaEventManager::ResetEvents() {
    return m_private->ResetEvents();
}
tavrel_error_t SentovaEventManager::EventEnable(unsigned int a, unsigned int b, bool flag) {
    return m_private->EventEnable(a, b, flag);
}
tavrel_error_t SentovaEventManager::EventDisable(unsigned int a, unsigned int b) {
    return m_private->EventDisable(a, b);
}
tavrel_error_t SentovaEventManager::EventStatus(unsigned int a, unsigned int b, bool& first,
                                                bool& second) {
    return m_private->EventStatus(a, b, first, second);
}
tavrel_error_t SentovaEventManager::StartTimer(unsigned int frequency) {
    return m_private->StartTimer(frequency);
}
tavrel_error_t SentovaEventManager::StopTimer() {
    return m_private->StopTimer();
}
tavrel_error_t SentovaEventManager::GetTimerFrequency(unsigned int& frequency) {
    return m_private->GetTimerFrequency(frequency);
}
tavrel_error_t SentovaEventManager::ConfigureCommandBuffer(unsigned int n, std::string command) {
    return m_private->ConfigureCommandBuffer(n, std::move(command));
}
tavrel_error_t SentovaEventManager::IsolatedIOSet(unsigned int n) {
    return m_private->IsolatedIOSet(n);
}
tavrel_error_t SentovaEventManager::IsolatedIOToggle(unsigned int n) {
    return m_private->IsolatedIOToggle(n);
}
tavrel_error_t SentovaEventManager::IsolatedIOGet(unsigned char& first, unsigned char& second) {
    return m_private->IsolatedIOGet(first, second);
}
tavrel_error_t SentovaEventManager::IsolatedIOSetEventInput(unsigned char a, unsigned char b) {
    return m_private->IsolatedIOSetEventInput(a, b);
}
tavrel_error_t SentovaEventManager::IsolatedIOGetEventInput(unsigned char& first,
                                                            unsigned char& second) {
    return m_private->IsolatedIOGetEventInput(first, second);
}
tavrel_error_t SentovaEventManager::IsolatedIOGetCapturedAngles(double& first, double& second) {
    return m_private->IsolatedIOGetCapturedAngles(first, second);
}
tavrel_error_t SentovaEventManager::ManagerSendCommand(std::string command) {
    return m_private->ManagerSendCommand(std::move(command));
}

int SentovaEventManager::RegisterEventCallback(unsigned int event,
                                               SentovaEventCallbackClass* callback) {
    return m_private->RegisterEventCallback(event, callback);
}
int SentovaEventManager::DeregisterEventCallback(unsigned int event,
                                                 SentovaEventCallbackClass* callback) {
    return m_private->DeregisterEventCallback(event, callback);
}
int SentovaEventManager::ResetEventCallbacks(unsigned int event) {
    return m_private->ResetEventCallbacks(event);
}
int SentovaEventManager::ResetEventCallbacks() {
    return m_private->ResetEventCallbacks();
}

void SentovaEventManager::SetTrafficObserver(
    std::shared_ptr<SentovaTrafficCallbackClass> observer) {
    m_private->SetTrafficObserver(std::move(observer));
}

std::uint64_t SentovaEventManager::GetRefusedSenderCount() {
    return m_private->GetRefusedSenderCount();
}

} // namespace tavrel
