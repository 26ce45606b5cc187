#include "CameraViews.h"

#include "DeferredSettings.h"
#include "PointStore.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>
#include <QWidget>

#include <vtkCamera.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>

#include <deque>

namespace {

const char* const kBookmarksKey = "view/bookmarks";
// Positions sampled for the bounds of a standard view, as the fit of the view takes them.
constexpr std::size_t kSamples = 20000;

} // namespace

namespace window {

CameraViews::CameraViews(QWidget* view, vtkRenderer* renderer, viewer::PointStore& store,
                         DeferredSettings& settings, QMenu* viewMenu,
                         std::function<void()> cameraTaken)
    : m_view(view), m_renderer(renderer), m_store(store), m_settings(settings),
      m_cameraTaken(std::move(cameraTaken)) {
    QMenu* standard = viewMenu->addMenu("Standard views");
    standard->setObjectName("menuStandard_views");
    const struct {
        const char* text;
        const char* name;
        viewer::StandardView view;
    } views[] = {
        {"From the device", "actionView_from_the_device", viewer::StandardView::FromDevice},
        {"Top", "actionView_top", viewer::StandardView::Top},
        {"Front", "actionView_front", viewer::StandardView::Front},
        {"Side", "actionView_side", viewer::StandardView::Side}};
    for (const auto& v : views) {
        QAction* action = standard->addAction(v.text);
        action->setObjectName(v.name);
        const viewer::StandardView which = v.view;
        connect(action, &QAction::triggered, this, [this, which] { show(which); });
    }

    m_bookmarkMenu = viewMenu->addMenu("Camera bookmarks");
    m_bookmarkMenu->setObjectName("menuCamera_bookmarks");
    m_deleteMenu = new QMenu("Delete bookmark", m_bookmarkMenu);
    m_deleteMenu->setObjectName("menuDelete_bookmark");
    m_bookmarks = viewer::decodeBookmarks(m_settings.value(kBookmarksKey).toString().toStdString());
    rebuildMenu();
}

double CameraViews::aspect() const {
    return m_view->height() > 0 ? static_cast<double>(m_view->width()) / m_view->height() : 1.0;
}

void CameraViews::show(viewer::StandardView which) {
    const viewer::SceneSample sample =
        m_store.withBuffer([](const std::deque<DataPoint>& points, const viewer::BufferLog&) {
            return viewer::sampleScene(points, points.size(), kSamples);
        });
    const viewer::StandardPlacement standard = viewer::standardView(which, sample, aspect());
    viewer::CameraBookmark placed;
    placed.position = standard.pose.position;
    placed.focalPoint = standard.pose.focalPoint;
    placed.viewUp = standard.pose.viewUp;
    placed.viewAngle = standard.viewAngle;
    placed.parallel = m_renderer->GetActiveCamera()->GetParallelProjection() != 0;
    placed.parallelScale = standard.pose.parallelScale;
    place(placed);
}

void CameraViews::place(const viewer::CameraBookmark& b) {
    m_cameraTaken();
    vtkCamera* camera = m_renderer->GetActiveCamera();
    camera->SetFocalPoint(b.focalPoint.data());
    camera->SetPosition(b.position.data());
    camera->SetViewUp(b.viewUp.data());
    camera->SetViewAngle(b.viewAngle);
    camera->SetParallelProjection(b.parallel);
    camera->SetParallelScale(b.parallelScale);
    m_renderer->ResetCameraClippingRange();
    m_renderer->GetRenderWindow()->Render();
}

void CameraViews::saveBookmark() {
    bool ok = false;
    const QString name = QInputDialog::getText(m_view->window(), "Save camera bookmark",
                                               "Bookmark name:", QLineEdit::Normal, QString(), &ok);
    if (ok) {
        saveBookmark(name);
    }
}

void CameraViews::saveBookmark(const QString& typed) {
    viewer::CameraBookmark b;
    b.name = viewer::bookmarkName(typed.toStdString());
    if (b.name.empty()) {
        return;
    }
    vtkCamera* camera = m_renderer->GetActiveCamera();
    camera->GetPosition(b.position.data());
    camera->GetFocalPoint(b.focalPoint.data());
    camera->GetViewUp(b.viewUp.data());
    b.viewAngle = camera->GetViewAngle();
    b.parallel = camera->GetParallelProjection() != 0;
    b.parallelScale = camera->GetParallelScale();
    viewer::storeBookmark(m_bookmarks, b);
    storeBookmarks();
}

void CameraViews::restoreBookmark(const QString& name) {
    if (const viewer::CameraBookmark* b = viewer::findBookmark(m_bookmarks, name.toStdString())) {
        place(*b);
    }
}

void CameraViews::deleteBookmark(const QString& name) {
    if (viewer::removeBookmark(m_bookmarks, name.toStdString())) {
        storeBookmarks();
    }
}

void CameraViews::storeBookmarks() {
    m_settings.setValue(kBookmarksKey,
                        QString::fromStdString(viewer::encodeBookmarks(m_bookmarks)));
    rebuildMenu();
}

void CameraViews::rebuildMenu() {
    m_bookmarkMenu->clear();
    m_deleteMenu->clear();
    QAction* save = m_bookmarkMenu->addAction("Save bookmark…");
    save->setObjectName("actionSave_bookmark");
    connect(save, &QAction::triggered, this, [this] { saveBookmark(); });
    m_bookmarkMenu->addSeparator();
    for (const viewer::CameraBookmark& b : m_bookmarks) {
        const QString name = QString::fromStdString(b.name);
        // Texts, not shortcuts: an "&" in a name is shown as it is.
        QString shown = name;
        shown.replace('&', "&&");
        QAction* restore = m_bookmarkMenu->addAction(shown);
        restore->setData(name);
        connect(restore, &QAction::triggered, this, [this, name] { restoreBookmark(name); });
        QAction* remove = m_deleteMenu->addAction(shown);
        remove->setData(name);
        connect(remove, &QAction::triggered, this, [this, name] { deleteBookmark(name); });
    }
    m_bookmarkMenu->addSeparator();
    m_bookmarkMenu->addMenu(m_deleteMenu);
    m_deleteMenu->setEnabled(!m_bookmarks.empty());
}

} // namespace window
