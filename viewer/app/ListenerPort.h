// The local data port: the stored choice, the listener that walks on from a port that is taken,
// and the port's place in the preferences dialog.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

class PreferencesDialog;

namespace sentova::session {
class DeviceSession;
}

namespace tavrel {
class SentovaLaserDataCallbackClass;
}

namespace window {

class DeferredSettings;

class ListenerPort {
public:
    using Log = std::function<void(const QString&)>;

    // Reads the stored port and adds its spin box to the preferences dialog. The listener hands
    // its batches to callback. Everything given must outlive this.
    ListenerPort(sentova::session::DeviceSession& session,
                 tavrel::SentovaLaserDataCallbackClass& callback, DeferredSettings& settings,
                 PreferencesDialog& preferences, Log log);

    // Listens for laser data if it does not yet, walking on from a port that is taken, and
    // gives the port; false (logged) when no port could be bound, and then no laser start may
    // be sent.
    bool listen(unsigned short& dataPort);

    // The dialog's spin box from the port, and the port from it.
    void loadPreference();
    void savePreference();

private:
    std::uint32_t storedDataPort();

    sentova::session::DeviceSession& session;
    tavrel::SentovaLaserDataCallbackClass* callback;
    DeferredSettings& settings;
    PreferencesDialog& preferences;
    Log log;
    std::uint32_t port = 0;
    // The listener is bound to port.
    bool listening = false;
};

} // namespace window
