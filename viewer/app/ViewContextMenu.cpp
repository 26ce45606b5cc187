#include "ViewContextMenu.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWidget>

namespace {

// A right button that moves less than this between press and release clicked rather than
// dragged (pixels, along both axes together).
constexpr int kMenuClickSlack = 4;

} // namespace

namespace window {

ViewContextMenu::ViewContextMenu(QWidget* view) : m_view(view), m_menu(new QMenu(view)) {
    m_menu->setObjectName("viewContextMenu");
    m_view->installEventFilter(this);
}

ViewContextMenu::~ViewContextMenu() {
    m_view->removeEventFilter(this);
}

void ViewContextMenu::addAction(QAction* action) {
    m_menu->addAction(action);
}

void ViewContextMenu::addSeparator() {
    m_menu->addSeparator();
}

bool ViewContextMenu::eventFilter(QObject* object, QEvent* event) {
    if (object != m_view) {
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            m_pressed = true;
            m_pressedAt = mouse->pos();
        }
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton && m_pressed) {
            m_pressed = false;
            if ((mouse->pos() - m_pressedAt).manhattanLength() <= kMenuClickSlack) {
                // The camera's zoom ends with the release, which the view still gets.
                const QPoint at = mouse->pos();
                QMetaObject::invokeMethod(
                    this, [this, at] { open(at); }, Qt::QueuedConnection);
            }
        }
        return false;
    }
    case QEvent::ContextMenu: {
        // The mouse's context menu event comes with the press, before a drag could be told from
        // a click: the release opens it instead.
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        if (menuEvent->reason() == QContextMenuEvent::Mouse) {
            return true;
        }
        open(menuEvent->pos());
        return true;
    }
    default:
        return false;
    }
}

void ViewContextMenu::open(const QPoint& at) {
    emit opening(at);
    m_menu->popup(m_view->mapToGlobal(at));
}

} // namespace window
