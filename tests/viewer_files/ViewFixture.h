// The view under test: a cloud of patches loaded from a file, where VTK draws its points, drags
// over the view and the camera.
#pragma once

#include "FileFixture.h"

#include "ObservationPoint.h"
#include "PcdFile.h"

#include <QVTKOpenGLNativeWidget.h>

#include <vtkCamera.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>

#include <QDoubleSpinBox>
#include <QMouseEvent>
#include <QRadioButton>

#include <algorithm>
#include <array>
#include <cmath>

namespace viewer_test {

// A patch of points every degree over [az0, az1] x [el0, el1] at one range; az0 > az1 runs across
// zero.
struct Patch {
    double az0, az1, el0, el1;
};

constexpr double kRange = 8000.0;

class ViewTest : public FileTest {
protected:
    static std::deque<DataPoint> patchPoints(const Patch& patch) {
        std::deque<DataPoint> points;
        const double sweep =
            patch.az1 >= patch.az0 ? patch.az1 - patch.az0 : patch.az1 + 360.0 - patch.az0;
        for (double a = 0.0; a <= sweep + 1e-9; a += 1.0) {
            for (double el = patch.el0; el <= patch.el1 + 1e-9; el += 1.0) {
                const double az = std::fmod(patch.az0 + a, 360.0);
                points.push_back(formats::makeDataPoint(az, el, kRange, 0, 100.0 + el, 0, 0,
                                                        LIDAR_GENERIC, false));
            }
        }
        return points;
    }

    // Loads the patches from a file, as the operator would, and waits until they are drawn.
    void loadPatches(const std::vector<Patch>& patches) {
        std::deque<DataPoint> all;
        for (const Patch& p : patches) {
            for (const DataPoint& d : patchPoints(p)) {
                all.push_back(d);
            }
        }
        const QString file = dir.filePath("patches.pcd");
        ASSERT_EQ(formats::savePcdFile(QFile::encodeName(file).toStdString(), all,
                                       formats::FieldSelection{}, LIDAR_GENERIC),
                  "");
        runToEnd("askForPCDFileToLoad", file);
        ASSERT_TRUE(waitUntil([&] { return totalPoints() == QString::number(all.size()); }))
            << totalPoints().toStdString();
        // The refresh that wrote the figure has framed the cloud too.
    }

    QVTKOpenGLNativeWidget* view() { return widget<QVTKOpenGLNativeWidget>("lidarQvtkWidget"); }
    vtkRenderer* renderer() { return view()->renderWindow()->GetRenderers()->GetFirstRenderer(); }

    // Where VTK draws a point, in the widget's pixels from its top left.
    QPointF onScreen(const DataPoint& p) {
        vtkRenderer* r = renderer();
        r->SetWorldPoint(p.x, p.y, p.z, 1.0);
        r->WorldToDisplay();
        const double* d = r->GetDisplayPoint();
        const double ratio = view()->devicePixelRatioF();
        return {d[0] / ratio, view()->height() - d[1] / ratio};
    }

    // The rectangle around a patch's points on the screen, a few pixels wider, checked to hold
    // no point of the other patches.
    QRect around(const Patch& patch, const std::vector<Patch>& others) {
        double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
        for (const DataPoint& p : patchPoints(patch)) {
            const QPointF s = onScreen(p);
            left = std::min(left, s.x());
            right = std::max(right, s.x());
            top = std::min(top, s.y());
            bottom = std::max(bottom, s.y());
        }
        const QRect rect = QRectF(QPointF(left, top), QPointF(right, bottom))
                               .toAlignedRect()
                               .adjusted(-3, -3, 3, 3);
        for (const Patch& other : others) {
            for (const DataPoint& p : patchPoints(other)) {
                EXPECT_FALSE(rect.contains(onScreen(p).toPoint()))
                    << "the patches overlap on the screen";
            }
        }
        EXPECT_TRUE(QRect(QPoint(0, 0), view()->size()).contains(rect)) << "patch off screen";
        return rect;
    }

    // A drag with the left button, its moves sent to the view as the press and the release are:
    // QTest::mouseMove on a widget moves the display's pointer instead, whose motion events a
    // busy machine may deliver after the release, when they no longer turn the camera.
    void drag(const QRect& rect) {
        QWidget* target = view();
        QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, rect.topLeft());
        for (const QPoint& at : {rect.center(), rect.bottomRight()}) {
            QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &move);
        }
        QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, rect.bottomRight());
    }

    std::array<double, 4> spinBoxes() {
        return {widget<QDoubleSpinBox>("azMin_doubleSpinBox")->value(),
                widget<QDoubleSpinBox>("azMax_doubleSpinBox")->value(),
                widget<QDoubleSpinBox>("elMin_doubleSpinBox")->value(),
                widget<QDoubleSpinBox>("elMax_doubleSpinBox")->value()};
    }

    std::array<double, 3> cameraPosition() {
        std::array<double, 3> p{};
        renderer()->GetActiveCamera()->GetPosition(p.data());
        return p;
    }

    bool selected() { return status().startsWith("Selected "); }
};

} // namespace viewer_test
