// "Save screenshot…" in the File menu: the 3D view as a PNG file, at the view's size or a whole
// multiple of it, rendered again at that size rather than scaled up.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>

class QAction;
class QMainWindow;
class QMenu;
class QVTKOpenGLNativeWidget;

namespace window {

class Screenshot : public QObject {
    Q_OBJECT

public:
    // The action goes into fileMenu after `after`.
    Screenshot(QMainWindow* window, QVTKOpenGLNativeWidget* view, QMenu* fileMenu, QAction* after);

    // Asks for the file and the size, then saves.
    void saveScreenshot();
    // Writes the view, scale times its size each way, to path; the reason when it could not.
    QString save(const QString& path, int scale);

    // The largest multiple offered: beyond it the image takes hundreds of megabytes.
    static constexpr int kLargestScale = 8;

private:
    QMainWindow* m_window;
    QVTKOpenGLNativeWidget* m_view;
};

} // namespace window
