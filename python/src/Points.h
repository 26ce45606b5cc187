// Points as NumPy structured arrays: one record per point with the listener's observation
// fields and the viewer's Cartesian coordinates. Arrays are built from C++ vectors they take
// over, without a copy per point.
#pragma once

#include "DataPoint.h"
#include "Fields.h"
#include "Sentova/SentovaGrabber.h"

#include <pybind11/numpy.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sentova::python {

struct Point {
    double azimuth;
    double elevation;
    double range;
    std::uint32_t timestamp; // the device's 32-bit count, exact
    double amplitude;
    double reflectance;
    double pulse_shape_deviation;
    double x;
    double y;
    double z;
};

using Points = std::vector<Point>;

// Registers the record type with NumPy; once, before any array is made.
void registerPointType();
// The record's dtype, for the module's `point_dtype`.
pybind11::dtype pointDtype();

Point fromObservation(const tavrel::tavrel_rbe_obs_t& observation);
Point fromDataPoint(const DataPoint& point);

// The array owns the vector's storage from now on.
pybind11::array toArray(Points&& points);

// The records of an array with named fields (any numeric types), as point records for a file's
// writer: x, y and z are needed, the other fields are taken when present and reported in
// `present`. Raises ValueError naming what is missing.
std::vector<DataPoint> toDataPointChunk(const pybind11::array& points,
                                        formats::FieldSelection& present);

} // namespace sentova::python
