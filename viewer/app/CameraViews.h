// The View menu's standard views ("From the device", "Top", "Front", "Side"), placed from the
// cloud's bounds, and the camera bookmarks: saved under a name, restored, deleted, kept in the
// settings.
#pragma once

#include "CameraPlacement.h"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QMenu;
class QWidget;
class vtkRenderer;

namespace viewer {
class PointStore;
}

namespace window {

class DeferredSettings;

class CameraViews : public QObject {
    Q_OBJECT

public:
    // The menus go into viewMenu. cameraTaken runs whenever this places the camera, so that the
    // view stops following the data. store and settings must outlive this.
    CameraViews(QWidget* view, vtkRenderer* renderer, viewer::PointStore& store,
                DeferredSettings& settings, QMenu* viewMenu, std::function<void()> cameraTaken);

    void show(viewer::StandardView which);
    // Asks for a name and keeps the camera as it is now under it.
    void saveBookmark();
    void saveBookmark(const QString& name);
    void restoreBookmark(const QString& name);
    void deleteBookmark(const QString& name);

private:
    void place(const viewer::CameraBookmark& camera);
    void storeBookmarks();
    void rebuildMenu();
    double aspect() const;

    QWidget* m_view;
    vtkRenderer* m_renderer;
    viewer::PointStore& m_store;
    DeferredSettings& m_settings;
    std::function<void()> m_cameraTaken;
    QMenu* m_bookmarkMenu;
    QMenu* m_deleteMenu;
    std::vector<viewer::CameraBookmark> m_bookmarks;
};

} // namespace window
