// Driving the 3D view as an operator does: where a point of the scene shows, clicks with and
// without modifiers, drags, and what the view draws there.
#pragma once

#include "GuiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVTKOpenGLNativeWidget.h>

#include <gtest/gtest.h>

#include <vtkCoordinate.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkSmartPointer.h>

#include <cmath>
#include <functional>

namespace viewer_test {

inline QVTKOpenGLNativeWidget* sceneView(QWidget* window) {
    return child<QVTKOpenGLNativeWidget>(window, "lidarQvtkWidget");
}

inline vtkRenderer* sceneRenderer(QWidget* window) {
    return sceneView(window)->renderWindow()->GetRenderers()->GetFirstRenderer();
}

// Where a world position shows in the view, in the view's own coordinates.
inline QPoint onScreen(QWidget* window, double x, double y, double z) {
    vtkRenderer* renderer = sceneRenderer(window);
    auto coordinate = vtkSmartPointer<vtkCoordinate>::New();
    coordinate->SetCoordinateSystemToWorld();
    coordinate->SetValue(x, y, z);
    const double* display = coordinate->GetComputedDoubleDisplayValue(renderer);
    const double ratio = sceneView(window)->devicePixelRatioF();
    const int height = renderer->GetSize()[1];
    return QPoint(static_cast<int>(std::floor(display[0] / ratio)),
                  static_cast<int>(std::floor((height - display[1]) / ratio)));
}

inline void sendMouse(QWidget* view, QEvent::Type type, const QPoint& at, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(type, at, view->mapToGlobal(at), button, buttons, modifiers);
    QApplication::sendEvent(view, &event);
}

// A click of one button without motion.
inline void clickView(QWidget* window, const QPoint& at, Qt::KeyboardModifiers modifiers,
                      Qt::MouseButton button = Qt::LeftButton) {
    QWidget* view = sceneView(window);
    sendMouse(view, QEvent::MouseButtonPress, at, button, button, modifiers);
    sendMouse(view, QEvent::MouseButtonRelease, at, button, Qt::NoButton, modifiers);
}

// A left drag from one place to another in a few steps.
inline void dragView(QWidget* window, const QPoint& from, const QPoint& to) {
    QWidget* view = sceneView(window);
    sendMouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    for (int step = 1; step <= 5; ++step) {
        sendMouse(view, QEvent::MouseMove, from + (to - from) * step / 5, Qt::NoButton,
                  Qt::LeftButton, Qt::NoModifier);
    }
    sendMouse(view, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
}

inline QString labelText(QWidget* window, const char* name) {
    auto* label = child<QLabel>(window, name);
    return label ? label->text() : QString("<no " + QString(name) + ">");
}

// Whether any pixel of the view within radius of at matches.
inline bool drawnNear(QWidget* window, const QPoint& at, int radius,
                      const std::function<bool(QColor)>& matches) {
    QVTKOpenGLNativeWidget* view = sceneView(window);
    view->renderWindow()->Render();
    const QImage image = view->grabFramebuffer();
    const double ratio = view->devicePixelRatioF();
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint p((at.x() + dx) * ratio, (at.y() + dy) * ratio);
            if (image.rect().contains(p) && matches(image.pixelColor(p))) {
                return true;
            }
        }
    }
    return false;
}

inline bool marker(QColor c) {
    return c.red() > 180 && c.blue() > 180 && c.green() < 150;
}
inline bool rulerLine(QColor c) {
    return c.red() > 180 && c.green() > 180 && c.blue() < 120;
}

// Opens the view's context menu with a right click and triggers its entry.
inline bool chooseFromViewMenu(QWidget* window, const QPoint& at, const QString& text) {
    auto* menu = window->findChild<QMenu*>("viewContextMenu");
    if (!menu) {
        ADD_FAILURE() << "no context menu on the view";
        return false;
    }
    // Seen opening: on a virtual display without a window manager a focus change may close a
    // popup again at once.
    QSignalSpy opened(menu, &QMenu::aboutToShow);
    clickView(window, at, Qt::NoModifier, Qt::RightButton);
    if (!waitUntil([&opened] { return opened.count() > 0; })) {
        ADD_FAILURE() << "the view's context menu did not open";
        return false;
    }
    for (QAction* action : menu->actions()) {
        if (action->text() == text && action->isEnabled()) {
            menu->close();
            action->trigger();
            return true;
        }
    }
    menu->close();
    ADD_FAILURE() << "no enabled \"" << text.toStdString() << "\" in the view's context menu";
    return false;
}

} // namespace viewer_test
