// The 3D view's context menu: opened by a right click that does not drag (a right drag zooms the
// camera) or by the keyboard's menu key; the view's tools add their actions to it.
#pragma once

#include <QObject>
#include <QPoint>

class QAction;
class QMenu;
class QWidget;

namespace window {

class ViewContextMenu : public QObject {
    Q_OBJECT

public:
    // view must outlive this.
    explicit ViewContextMenu(QWidget* view);
    ~ViewContextMenu() override;

    void addAction(QAction* action);
    void addSeparator();
    QMenu* menu() const { return m_menu; }

signals:
    // Just before the menu shows, at this place of the view (its own coordinates).
    void opening(const QPoint& at);

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    void open(const QPoint& at);

    QWidget* m_view;
    QMenu* m_menu;
    QPoint m_pressedAt;
    bool m_pressed = false;
};

} // namespace window
