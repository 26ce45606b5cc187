// The window's file commands under test: dialogs answered from a timer, observations handed to
// the window as the listener would, and waiting for the file thread.
#pragma once

#include "WindowFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

namespace viewer_test {

class FileTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        ASSERT_TRUE(dir.isValid());
    }

    void openOn(const char* serial) {
        device->setSerial(serial);
        openWindow();
    }

    // Hands the window n observations, as the listener would.
    void feed(int n, double amplitudeBase = 100) {
        std::vector<tavrel::tavrel_rbe_obs_t> batch;
        for (int i = 0; i < n; ++i) {
            batch.push_back({90.0, 0.0, 10.0 + i, static_cast<std::uint64_t>(4000000 + i),
                             amplitudeBase + i, -1.0 * i, 2.0 * i});
        }
        window->LaserDataCallback(batch, 0);
    }

    // Observations whose timestamps count from `first`, in batches as the listener gives them.
    static void feedNumbered(MainWindow* to, int first, int count) {
        constexpr int kBatch = 1000;
        for (int at = first; at < first + count; at += kBatch) {
            std::vector<tavrel::tavrel_rbe_obs_t> batch;
            for (int i = at; i < std::min(at + kBatch, first + count); ++i) {
                batch.push_back({0.001 * (i % 36000), 1.0, 5.0 + (i % 100),
                                 static_cast<std::uint64_t>(i), 100.0 + (i % 50), 1.0, 2.0});
            }
            to->LaserDataCallback(batch, 0);
        }
    }

    // Runs a file slot, answering its dialog with `name` (empty: cancel) and, if given, the
    // filter to choose.
    void runSlot(const char* slot, const QString& name, const QString& filter = QString()) {
        onNextModal([name, filter](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            if (name.isEmpty()) {
                dialog->reject();
                return;
            }
            if (!filter.isEmpty()) {
                dialog->selectNameFilter(filter);
                ASSERT_EQ(dialog->selectedNameFilter(), filter);
            }
            dialog->selectFile(name);
            // selectFile leaves the name field alone while it has the focus.
            if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
                edit->setText(name);
            }
            if (dialog->acceptMode() == QFileDialog::AcceptSave && QFileInfo::exists(name)) {
                onNextModal([](QWidget* question) {
                    if (auto* box = qobject_cast<QMessageBox*>(question)) {
                        box->button(QMessageBox::Yes)->click();
                    }
                });
            }
            QMetaObject::invokeMethod(dialog, "accept");
        });
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), slot));
    }

    QProgressBar* progressBar() { return widget<QProgressBar>("fileProgress_bar"); }
    QPushButton* cancelButton() { return widget<QPushButton>("fileCancel_pushButton"); }
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }

    // Waits for the file thread to finish and report.
    bool fileWorkDone(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        return waitUntil(
            [&] { return progressBar()->isHidden() && action("actionLoad")->isEnabled(); },
            timeout);
    }

    // A slot run to its end.
    void runToEnd(const char* slot, const QString& name, const QString& filter = QString()) {
        runSlot(slot, name, filter);
        EXPECT_TRUE(fileWorkDone()) << slot;
    }

    // Gives the window `shown` points, starts loading `file` (big enough to take a while),
    // cancels it once its progress shows, and checks that the window says so and that the points
    // shown are kept: one given afterwards joins them. Wrap in ASSERT_NO_FATAL_FAILURE.
    void cancelLoadHalfWay(const QString& file, int shown) {
        feed(shown);
        ASSERT_TRUE(waitUntil([&] { return totalPoints() == QString::number(shown); }));
        runSlot("askForPCDFileToLoad", file);
        EXPECT_FALSE(action("actionLoad")->isEnabled());
        EXPECT_FALSE(action("actionSave_as")->isEnabled());
        EXPECT_TRUE(progressBar()->isVisible());
        ASSERT_TRUE(
            waitUntil([&] { return progressBar()->value() > 0; }, std::chrono::seconds(30)));
        QTest::mouseClick(cancelButton(), Qt::LeftButton);
        ASSERT_TRUE(fileWorkDone());
        EXPECT_EQ(status(), "Loading file " + file + " cancelled; the points shown are kept.");
        feed(1);
        EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(shown + 1); }))
            << totalPoints().toStdString();
    }

    void setMaximumPoints(int maximum) {
        onNextModal([maximum](QWidget* modal) {
            auto* input = qobject_cast<QInputDialog*>(modal);
            ASSERT_NE(input, nullptr);
            input->setIntValue(maximum);
            input->accept();
        });
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "askForMaximumPoints"));
    }

    QString status() { return window->statusBar()->currentMessage(); }
    QString totalPoints() { return widget<QLabel>("totalPoints_label")->text(); }

    static std::string contents(const QString& path) {
        std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    QTemporaryDir dir;
};

} // namespace viewer_test
