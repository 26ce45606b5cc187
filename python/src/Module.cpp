// The `sentova` Python module.
#include "Device.h"
#include "Errors.h"
#include "Files.h"
#include "Points.h"
#include "Recording.h"
#include "StreamBindings.h"

#include "Sentova/Sentova.h"

namespace py = pybind11;

PYBIND11_MODULE(sentova, m) {
    m.doc() = "The Sentova devices, their laser stream, recordings and point files, with points "
              "as NumPy structured arrays";
    m.attr("__version__") = tavrel::SENTOVA_VERSION;
    sentova::python::registerPointType();
    m.attr("point_dtype") = sentova::python::pointDtype();
    sentova::python::addErrors(m);
    sentova::python::addDevice(m);
    sentova::python::addStreams(m);
    sentova::python::addFiles(m);
    sentova::python::addRecording(m);
}
