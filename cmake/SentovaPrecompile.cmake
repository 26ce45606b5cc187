# Precompiled third-party headers for the targets with many units that spend much
# of their time parsing Qt and VTK (the window and its tests: a unit of the
# window 6.5 s, 4 s with them). Targets with few units, or whose time goes into
# their own templates (the Boost and PCL ones measured), lose more building the
# precompiled header than their units gain. Only system headers go in, so a
# change in our own headers never rebuilds one; each unit still includes what it
# uses.
option(SENTOVA_PRECOMPILE_HEADERS "Precompile the heavy third-party headers" ON)

set(SENTOVA_PCH_QT_VTK
  <QMainWindow> <QWidget> <QTimer> <QString> <QLabel> <QAction> <QMenu> <QStatusBar>
  <QFileDialog> <QInputDialog> <QSettings> <QVTKOpenGLNativeWidget.h>
  <vtkSmartPointer.h> <vtkRenderer.h> <vtkPolyData.h> <vtkActor.h> <vtkPolyDataMapper.h>
  <vtkProperty.h> <vtkGenericOpenGLRenderWindow.h>
  <deque> <functional> <memory> <string> <vector>)

# sentova_precompile_headers(<target> <header>...)
function(sentova_precompile_headers target)
  if(SENTOVA_PRECOMPILE_HEADERS)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()
