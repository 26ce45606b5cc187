# Precompiled third-party headers for the targets whose units spend most of their
# time parsing Qt, VTK, PCL, Boost or GoogleTest. Only system headers go in, so a
# change in our own headers never rebuilds a precompiled one; each target still
# includes what it uses.
option(SENTOVA_PRECOMPILE_HEADERS "Precompile the heavy third-party headers" ON)

set(SENTOVA_PCH_QT_VTK
  <QMainWindow> <QWidget> <QTimer> <QString> <QLabel> <QAction> <QMenu> <QStatusBar>
  <QFileDialog> <QInputDialog> <QSettings> <QVTKOpenGLNativeWidget.h>
  <vtkSmartPointer.h> <vtkRenderer.h> <vtkPolyData.h> <vtkActor.h> <vtkPolyDataMapper.h>
  <vtkProperty.h> <vtkGenericOpenGLRenderWindow.h>
  <deque> <functional> <memory> <string> <vector>)
set(SENTOVA_PCH_BOOST
  <boost/asio/io_context.hpp> <boost/asio/ip/udp.hpp> <boost/asio/deadline_timer.hpp>
  <boost/thread/thread.hpp> <boost/thread/mutex.hpp> <boost/system/system_error.hpp>
  <boost/log/trivial.hpp> <boost/log/sources/severity_logger.hpp>
  <boost/log/sources/record_ostream.hpp> <boost/log/sources/global_logger_storage.hpp>)
set(SENTOVA_PCH_PCL <pcl/PCLPointCloud2.h> <pcl/point_types.h> <pcl/io/pcd_io.h>)

# sentova_precompile_headers(<target> <header>...)
function(sentova_precompile_headers target)
  if(SENTOVA_PRECOMPILE_HEADERS)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()
