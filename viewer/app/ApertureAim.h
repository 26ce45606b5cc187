// "Point the aperture here" in the view's context menu: moves the aperture to the azimuth and
// elevation of the marked point through the device session, at the default move speed, with the
// result in the window log as every command. A point beyond the aperture's reach is refused in
// the log instead of being moved to the nearest direction it reaches.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class DeviceCommands;
class QAction;

namespace sentova::session {
class DeviceSession;
}

namespace window {

class PickTool;
class ViewContextMenu;

class ApertureAim : public QObject {
    Q_OBJECT

public:
    // session, commands and pick must outlive this; log writes the window log.
    ApertureAim(sentova::session::DeviceSession& session, DeviceCommands& commands, PickTool& pick,
                ViewContextMenu& contextMenu, std::function<void(const QString&)> log);

    void aim();

private:
    sentova::session::DeviceSession& session;
    DeviceCommands& commands;
    PickTool& pick;
    std::function<void(const QString&)> log;
    QAction* action = nullptr;
};

} // namespace window
