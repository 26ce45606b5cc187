#pragma once

// Driving the window's own widgets from a bench, as a user would.

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace bench {

// The window's child of that name; a bench without it measures nothing, so it ends here.
template <class T> T* widget(QWidget* window, const char* name) {
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    if (!found) {
        std::fprintf(stderr, "the window has no %s\n", name);
        std::exit(1);
    }
    return found;
}

// Answers the next modal input dialog with value, from the dialog's own loop.
inline void answerNextIntDialog(int value) {
    auto* poll = new QTimer;
    auto attempts = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, attempts, value] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (dialog) {
            dialog->setIntValue(value);
            dialog->accept();
        }
        if (dialog || ++*attempts > 250) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(20);
}

// Answers the file dialog that the next action opens with name, from the dialog's own loop, and
// calls accepting just before accepting it: the moment the operator presses its button.
inline void answerFileDialog(const QString& name, std::function<void()> accepting) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, name, accepting] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible()) {
            dialog->selectFile(name);
            // selectFile leaves the name field alone while it has the focus.
            if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
                edit->setText(name);
            }
            accepting();
            QMetaObject::invokeMethod(dialog, "accept");
        }
        if (dialog || ++*tries > 1000) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

// Runs the event loop until done() holds, looking every poll; false after the time-out. The
// poll bounds how late a measured end is seen.
inline bool waitFor(const std::function<bool()>& done, std::chrono::seconds timeout,
                    std::chrono::milliseconds poll = std::chrono::milliseconds(1)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QTest::qWait(static_cast<int>(poll.count()));
    }
    return true;
}

} // namespace bench
