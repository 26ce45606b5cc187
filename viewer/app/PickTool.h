// Asking the view what a point is: Ctrl+click (or a plain click in pick mode, the View menu's
// "Pick mode") marks the nearest drawn point and shows its values in the readout under the view;
// Shift+Ctrl+click (or the second click in pick mode) marks a second one and draws the ruler
// between the two, with its distance and the differences of their angles and ranges. Delete on
// the view, or "Clear ruler" in its context menu, takes the ruler away. A plain drag still turns
// the camera. GUI thread only.
#pragma once

#include "DataPoint.h"
#include "FrameSelection.h"
#include "PickCamera.h"
#include "PointPicker.h"

#include <QObject>
#include <QPoint>

#include <vtkSmartPointer.h>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QBoxLayout;
class QLabel;
class QMenu;
class QVTKOpenGLNativeWidget;
class vtkActor;
class vtkBillboardTextActor3D;
class vtkPoints;
class vtkRenderer;

namespace viewer {
class PointStore;
}

namespace window {

class ViewContextMenu;

class PickTool : public QObject {
    Q_OBJECT

public:
    struct Mark {
        std::uint64_t id = 0;
        std::uint64_t generation = 0;
        DataPoint point;
    };

    // Adds the readout under view in layout, "Pick mode" to viewMenu, "Clear ruler" to the
    // context menu and the marks to renderer. status shows a passing message.
    PickTool(QVTKOpenGLNativeWidget* view, vtkRenderer* renderer, QBoxLayout* layout,
             QMenu* viewMenu, ViewContextMenu& contextMenu, viewer::PointStore& store,
             std::function<void(const QString&)> status);
    // The marks leave the scene while the render window is still there.
    ~PickTool() override;

    void setMode(viewer::DisplayMode mode, unsigned count);
    // The checkable "Pick mode", for the window to keep it apart from other mouse modes.
    QAction* modeAction() const { return m_pickMode; }
    // Whether the shown model measures reflectance and pulse shape deviation.
    void setModel(LIDAR_TYPE model);
    // After a refresh of the display: the index follows the buffer, and marks of points that a
    // clear or a load has taken away go.
    void afterRebuild();

    // The point marked last, the one the readout shows.
    const std::optional<Mark>& marked() const { return m_marked; }
    bool rulerShown() const { return m_anchor.has_value(); }
    void clearRuler();

    // Picks at a place of the view (its own coordinates): as a click does, a second point of the
    // ruler when second.
    void pickAt(const QPoint& at, bool second);
    PointPicker& picker() { return *m_picker; }

signals:
    // The marked point changed (or went).
    void markChanged();

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    viewer::PickCamera camera() const;
    void picked(const std::optional<PointPicker::Picked>& point, bool second);
    void clearMarks();
    void showMarks();
    void render();

    QVTKOpenGLNativeWidget* m_view;
    vtkRenderer* m_renderer;
    viewer::PointStore& m_store;
    std::function<void(const QString&)> m_status;
    QLabel* m_pickLabel = nullptr;
    QLabel* m_rulerLabel = nullptr;
    QAction* m_pickMode = nullptr;
    bool m_extras = false;

    std::optional<Mark> m_marked;
    // The ruler's other end, while it is shown.
    std::optional<Mark> m_anchor;

    vtkSmartPointer<vtkPoints> m_markPoints;
    vtkSmartPointer<vtkActor> m_markActor;
    vtkSmartPointer<vtkPoints> m_rulerPoints;
    vtkSmartPointer<vtkActor> m_rulerActor;
    vtkSmartPointer<vtkBillboardTextActor3D> m_rulerText;

    // A left press on the view: where, and whether it was taken as a pick (its release then
    // goes too) or passed to the camera (a release close by is a click of pick mode).
    QPoint m_pressedAt;
    bool m_pressPicked = false;
    bool m_pressPassed = false;
    // A pick waits for the index, as the status bar says.
    bool m_finding = false;

    // Last: its waiting pick calls back into this.
    std::unique_ptr<PointPicker> m_picker;
};

} // namespace window
