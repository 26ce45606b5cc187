#include "PickTool.h"

#include "PointReadout.h"
#include "ViewContextMenu.h"

#include <QAction>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkActor.h>
#include <vtkBillboardTextActor3D.h>
#include <vtkCamera.h>
#include <vtkCellArray.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkMatrix4x4.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkTextProperty.h>

#include <cstdio>
#include <utility>

namespace {

// How far from the cursor a point may show and still be picked, in the view's pixels: a little
// more than the largest point size.
constexpr double kPickTolerance = 6.0;
// A left press and release this close together (pixels, both axes together) are a click.
constexpr int kClickSlack = 4;

vtkSmartPointer<vtkActor> lineActor(vtkPoints* points, bool vertices) {
    auto cells = vtkSmartPointer<vtkCellArray>::New();
    auto polyData = vtkSmartPointer<vtkPolyData>::New();
    polyData->SetPoints(points);
    if (vertices) {
        polyData->SetVerts(cells);
    } else {
        polyData->SetLines(cells);
    }
    auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
    mapper->SetInputData(polyData);
    auto actor = vtkSmartPointer<vtkActor>::New();
    actor->SetMapper(mapper);
    actor->SetPickable(false);
    actor->GetProperty()->LightingOff();
    actor->SetVisibility(false);
    return actor;
}

vtkPolyData* polyDataOf(vtkActor* actor) {
    return vtkPolyData::SafeDownCast(actor->GetMapper()->GetInput());
}

} // namespace

namespace window {

PickTool::PickTool(QVTKOpenGLNativeWidget* view, vtkRenderer* renderer, QBoxLayout* layout,
                   QMenu* viewMenu, ViewContextMenu& contextMenu, viewer::PointStore& store,
                   std::function<void(const QString&)> status)
    : m_view(view), m_renderer(renderer), m_store(store), m_status(std::move(status)),
      m_picker(std::make_unique<PointPicker>(store)) {
    auto* bar = new QWidget(view->parentWidget());
    bar->setObjectName("pickBar");
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 2, 6, 2);
    m_pickLabel = new QLabel(bar);
    m_pickLabel->setObjectName("pickLabel");
    m_pickLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_rulerLabel = new QLabel(bar);
    m_rulerLabel->setObjectName("rulerLabel");
    m_rulerLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_pickLabel);
    row->addStretch(1);
    row->addWidget(m_rulerLabel);
    bar->hide();
    layout->insertWidget(layout->indexOf(view) + 1, bar);

    m_pickMode = new QAction("Pick mode", viewMenu);
    m_pickMode->setObjectName("actionPick_mode");
    m_pickMode->setCheckable(true);
    m_pickMode->setStatusTip("Clicks on the view pick points; a drag still turns the camera");
    viewMenu->addAction(m_pickMode);

    auto* clear = new QAction("Clear ruler", contextMenu.menu());
    clear->setObjectName("actionClear_ruler");
    clear->setEnabled(false);
    connect(clear, &QAction::triggered, this, &PickTool::clearRuler);
    connect(this, &PickTool::markChanged, clear,
            [this, clear] { clear->setEnabled(rulerShown()); });
    contextMenu.addAction(clear);

    m_markPoints = vtkSmartPointer<vtkPoints>::New();
    m_markActor = lineActor(m_markPoints, true);
    m_markActor->GetProperty()->SetColor(1.0, 0.2, 1.0);
    m_markActor->GetProperty()->SetPointSize(9.0f);
    m_markActor->GetProperty()->SetRenderPointsAsSpheres(true);
    m_renderer->AddActor(m_markActor);

    m_rulerPoints = vtkSmartPointer<vtkPoints>::New();
    m_rulerActor = lineActor(m_rulerPoints, false);
    m_rulerActor->GetProperty()->SetColor(1.0, 1.0, 0.2);
    m_rulerActor->GetProperty()->SetLineWidth(2.0f);
    m_renderer->AddActor(m_rulerActor);
    m_rulerText = vtkSmartPointer<vtkBillboardTextActor3D>::New();
    m_rulerText->GetTextProperty()->SetFontSize(16);
    m_rulerText->GetTextProperty()->SetColor(1.0, 1.0, 0.2);
    m_rulerText->GetTextProperty()->SetJustificationToCentered();
    m_rulerText->SetPickable(false);
    m_rulerText->SetVisibility(false);
    m_renderer->AddActor(m_rulerText);

    m_view->installEventFilter(this);
}

PickTool::~PickTool() {
    m_view->removeEventFilter(this);
    m_picker.reset();
    m_renderer->RemoveActor(m_markActor);
    m_renderer->RemoveActor(m_rulerActor);
    m_renderer->RemoveActor(m_rulerText);
}

void PickTool::setMode(viewer::DisplayMode mode, unsigned count) {
    m_picker->setMode(mode, count);
}

void PickTool::setModel(LIDAR_TYPE model) {
    m_extras = model == LIDAR_LX30;
    if (m_marked) {
        m_pickLabel->setText(QString::fromStdString(viewer::pickText(m_marked->point, m_extras)));
    }
}

void PickTool::afterRebuild() {
    m_picker->bufferChanged();
    if (m_marked && m_marked->generation != m_picker->generation()) {
        clearMarks();
    }
}

bool PickTool::eventFilter(QObject* object, QEvent* event) {
    if (object != m_view) {
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) {
            return false;
        }
        m_pressedAt = mouse->pos();
        m_pressPicked = mouse->modifiers().testFlag(Qt::ControlModifier);
        m_pressPassed = !m_pressPicked && m_pickMode->isChecked();
        if (m_pressPicked) {
            // Taken from the camera, which would spin on Ctrl+drag.
            pickAt(mouse->pos(), mouse->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) {
            return false;
        }
        if (m_pressPicked) {
            m_pressPicked = false;
            return true;
        }
        if (m_pressPassed) {
            m_pressPassed = false;
            if ((mouse->pos() - m_pressedAt).manhattanLength() <= kClickSlack) {
                // In pick mode the click after a lone mark ends a ruler there.
                pickAt(mouse->pos(),
                       mouse->modifiers().testFlag(Qt::ShiftModifier) || (m_marked && !m_anchor));
            }
        }
        return false;
    }
    case QEvent::MouseButtonDblClick:
        return static_cast<QMouseEvent*>(event)->modifiers().testFlag(Qt::ControlModifier);
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && m_anchor) {
            clearRuler();
            return true;
        }
        return false;
    default:
        return false;
    }
}

viewer::PickCamera PickTool::camera() const {
    viewer::PickCamera c;
    const int* size = m_renderer->GetSize();
    c.width = size[0] > 0 ? size[0] : 1;
    c.height = size[1] > 0 ? size[1] : 1;
    vtkCamera* camera = m_renderer->GetActiveCamera();
    vtkMatrix4x4* view = camera->GetViewTransformMatrix();
    vtkMatrix4x4* projection =
        camera->GetProjectionTransformMatrix(m_renderer->GetTiledAspectRatio(), -1.0, 1.0);
    for (int r = 0; r < 4; ++r) {
        for (int k = 0; k < 4; ++k) {
            c.view[r * 4 + k] = view->GetElement(r, k);
            c.projection[r * 4 + k] = projection->GetElement(r, k);
        }
    }
    return c;
}

void PickTool::pickAt(const QPoint& at, bool second) {
    const viewer::PickCamera c = camera();
    // Widget pixels to the render window's, whose origin is at the bottom left; the middle of the
    // pixel clicked.
    const double ratio = m_view->devicePixelRatioF();
    const double x = (at.x() + 0.5) * ratio;
    const double y = c.height - (at.y() + 0.5) * ratio;
    const bool answered = m_picker->pick(
        c, x, y, kPickTolerance * ratio,
        [this, second](const std::optional<PointPicker::Picked>& point) { picked(point, second); });
    if (!answered) {
        // A file just loaded or points just arrived: their index takes a moment.
        m_finding = true;
        m_status("Finding the point\u2026");
    }
}

void PickTool::picked(const std::optional<PointPicker::Picked>& point, bool second) {
    if (std::exchange(m_finding, false) && point) {
        m_status(QString());
    }
    if (!point) {
        m_status("No point under the cursor");
        return;
    }
    const Mark mark{point->id, point->generation, point->point};
    if (second && m_marked) {
        m_anchor = m_marked;
    } else {
        m_anchor.reset();
    }
    m_marked = mark;
    showMarks();
    emit markChanged();
    render();
}

void PickTool::clearRuler() {
    if (!m_anchor) {
        return;
    }
    m_anchor.reset();
    showMarks();
    emit markChanged();
    render();
}

void PickTool::clearMarks() {
    m_anchor.reset();
    m_marked.reset();
    showMarks();
    emit markChanged();
    render();
}

void PickTool::showMarks() {
    m_markPoints->Reset();
    vtkCellArray* vertices = polyDataOf(m_markActor)->GetVerts();
    vertices->Reset();
    m_rulerPoints->Reset();
    vtkCellArray* lines = polyDataOf(m_rulerActor)->GetLines();
    lines->Reset();
    for (const std::optional<Mark>* mark : {&m_anchor, &m_marked}) {
        if (*mark) {
            const DataPoint& p = (*mark)->point;
            const vtkIdType id = m_markPoints->InsertNextPoint(p.x, p.y, p.z);
            vertices->InsertNextCell(1, &id);
        }
    }
    m_markPoints->Modified();
    vertices->Modified();
    polyDataOf(m_markActor)->Modified();
    m_markActor->SetVisibility(m_marked.has_value());

    m_pickLabel->parentWidget()->setVisible(m_marked.has_value());
    m_pickLabel->setText(
        m_marked ? QString::fromStdString(viewer::pickText(m_marked->point, m_extras)) : QString());
    if (m_marked && m_anchor) {
        const DataPoint& a = m_anchor->point;
        const DataPoint& b = m_marked->point;
        const vtkIdType ends[2] = {m_rulerPoints->InsertNextPoint(a.x, a.y, a.z),
                                   m_rulerPoints->InsertNextPoint(b.x, b.y, b.z)};
        lines->InsertNextCell(2, ends);
        const viewer::Ruler ruler = viewer::measure(a, b);
        m_rulerLabel->setText(QString::fromStdString(viewer::rulerText(ruler)));
        char distance[64];
        std::snprintf(distance, sizeof distance, "%.1f mm", ruler.distance);
        m_rulerText->SetInput(distance);
        m_rulerText->SetPosition((a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2);
    } else {
        m_rulerLabel->clear();
    }
    m_rulerPoints->Modified();
    lines->Modified();
    polyDataOf(m_rulerActor)->Modified();
    m_rulerActor->SetVisibility(m_anchor.has_value());
    m_rulerText->SetVisibility(m_anchor.has_value());
}

void PickTool::render() {
    m_view->renderWindow()->Render();
}

} // namespace window
