#include "ApertureAim.h"

#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "PickTool.h"
#include "PointReadout.h"
#include "ViewContextMenu.h"
#include "WindowSupport.h"

#include "Sentova/DeviceModel.h"
#include "Sentova/Sentova.h"

#include <QAction>

namespace window {

ApertureAim::ApertureAim(sentova::session::DeviceSession& session, DeviceCommands& commands,
                         PickTool& pick, ViewContextMenu& contextMenu,
                         std::function<void(const QString&)> log)
    : session(session), commands(commands), pick(pick), log(std::move(log)) {
    action = new QAction("Point the aperture here", contextMenu.menu());
    action->setObjectName("actionPoint_aperture_here");
    action->setEnabled(false);
    connect(action, &QAction::triggered, this, &ApertureAim::aim);
    connect(&pick, &PickTool::markChanged, action,
            [this] { action->setEnabled(this->pick.marked().has_value()); });
    contextMenu.addAction(action);
}

void ApertureAim::aim() {
    if (!pick.marked()) {
        return;
    }
    viewer::ApertureLimits limits;
    limits.elMin = tavrel::kApertureElevationMinimum;
    limits.elMax = tavrel::kApertureElevationMaximum;
    const viewer::DeviceAngles angles = viewer::pointAngles(pick.marked()->point);
    const viewer::AimTarget target = viewer::aimAt(pick.marked()->point, limits);
    if (target.clamped) {
        log("Point the aperture here: elevation " + QString::number(angles.elevation, 'f', 3) +
            " is beyond the aperture's reach (" + number(limits.elMin) + " to " +
            number(limits.elMax) + ")");
        return;
    }
    const double speed = tavrel::kDefaultMoveSpeed;
    commands.run(
        "Point the aperture here", {},
        [device = &session, target, speed](DeviceCommands::Steps& steps) {
            const tavrel::tavrel_error_t result =
                device->device()->SetApertureAngles(target.azimuth, target.elevation, speed);
            steps.log("SetApertureAngles(" + number(target.azimuth) + ", " +
                      number(target.elevation) + ", " + number(speed) + "): " + errorText(result));
        });
}

} // namespace window
