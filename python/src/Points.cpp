#include "Points.h"

#include "ObservationPoint.h"

#include <cstring>
#include <memory>

namespace py = pybind11;

namespace sentova::python {

void registerPointType() {
    PYBIND11_NUMPY_DTYPE(Point, azimuth, elevation, range, timestamp, amplitude, reflectance,
                         pulse_shape_deviation, x, y, z);
}

py::dtype pointDtype() {
    return py::dtype::of<Point>();
}

Point fromObservation(const tavrel::tavrel_rbe_obs_t& o) {
    const formats::Cartesian c = formats::sphericalToCartesian(o.azimuth, o.elevation, o.range);
    return {o.azimuth,
            o.elevation,
            o.range,
            static_cast<std::uint32_t>(o.timestamp),
            o.amplitude,
            o.reflectance,
            o.pulse_shape_deviation,
            c.x,
            c.y,
            c.z};
}

Point fromDataPoint(const DataPoint& p) {
    return {p.azimuth,
            p.elevation,
            p.range,
            formats::timestampU4(p.timestamp),
            p.intensity,
            p.reflectance,
            p.pulseShapeDeviation,
            p.x,
            p.y,
            p.z};
}

py::array toArray(Points&& points) {
    auto owned = std::make_unique<Points>(std::move(points));
    Points* data = owned.get();
    py::capsule owner(owned.release(), [](void* p) { delete static_cast<Points*>(p); });
    return py::array_t<Point>(static_cast<py::ssize_t>(data->size()), data->data(), owner);
}

namespace {

// The array's fields and the file columns they fill.
struct Column {
    const char* name;
    formats::Field field;
};
constexpr Column kColumns[] = {
    {"x", formats::Field::X},
    {"y", formats::Field::Y},
    {"z", formats::Field::Z},
    {"azimuth", formats::Field::Azimuth},
    {"elevation", formats::Field::Elevation},
    {"range", formats::Field::Range},
    {"amplitude", formats::Field::Intensity},
    {"reflectance", formats::Field::Reflectance},
    {"pulse_shape_deviation", formats::Field::PulseShapeDeviation},
    {"timestamp", formats::Field::Timestamp},
};
constexpr int kRequiredColumns = 3; // x, y, z

std::vector<DataPoint> convertPoints(const py::array& array, formats::FieldSelection& present) {
    const py::object names = array.dtype().attr("names");
    if (names.is_none()) {
        throw py::value_error("points must be a structured array with the fields x, y, z "
                              "(and any of azimuth, elevation, range, amplitude, reflectance, "
                              "pulse_shape_deviation, timestamp), not of dtype " +
                              py::str(array.dtype()).cast<std::string>());
    }
    const py::tuple fieldNames = names;
    const auto has = [&](const char* name) {
        for (const py::handle n : fieldNames) {
            if (n.cast<std::string>() == name) {
                return true;
            }
        }
        return false;
    };
    std::string missing;
    for (int i = 0; i < kRequiredColumns; ++i) {
        if (!has(kColumns[i].name)) {
            missing += (missing.empty() ? "" : ", ") + std::string(kColumns[i].name);
        }
    }
    if (!missing.empty()) {
        throw py::value_error("points lack the fields " + missing);
    }

    const py::object flat = array.attr("reshape")(-1);
    const std::size_t count = static_cast<std::size_t>(py::len(flat));
    std::vector<DataPoint> points(count);
    present = formats::noFields();
    for (const Column& column : kColumns) {
        if (!has(column.name)) {
            continue;
        }
        formats::setSelected(present, column.field, true);
        // Integer time stamps are taken exactly (negative ones as 0); real ones are rounded as
        // a file's are, through the double path below.
        const char kind = flat[column.name].cast<py::array>().dtype().kind();
        if (column.field == formats::Field::Timestamp && kind == 'u') {
            const auto values =
                py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>(
                    flat[column.name]);
            const std::uint64_t* v = values.data();
            for (std::size_t i = 0; i < count; ++i) {
                points[i].timestamp = v[i];
            }
            continue;
        }
        if (column.field == formats::Field::Timestamp && kind == 'i') {
            const auto values =
                py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>(
                    flat[column.name]);
            const std::int64_t* v = values.data();
            for (std::size_t i = 0; i < count; ++i) {
                points[i].timestamp = v[i] < 0 ? 0 : static_cast<std::uint64_t>(v[i]);
            }
            continue;
        }
        // A column of doubles in the machine's order, as point_dtype's, is read where it lies;
        // any other is cast to one first.
        const py::array view = flat[column.name];
        const py::dtype type = view.dtype();
        if (type.num() == py::dtype::of<double>().num() && type.byteorder() != '>') {
            const char* at = static_cast<const char*>(view.data());
            const py::ssize_t stride = view.strides(0);
            formats::setFieldValues(
                points.data(), count, column.field, [at, stride](std::size_t i) {
                    double v;
                    std::memcpy(&v, at + static_cast<py::ssize_t>(i) * stride, sizeof v);
                    return v;
                });
            continue;
        }
        const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>(view);
        const double* v = values.data();
        formats::setFieldValues(points.data(), count, column.field,
                                [v](std::size_t i) { return v[i]; });
    }
    return points;
}

} // namespace

std::vector<DataPoint> toDataPointChunk(const py::array& array, formats::FieldSelection& present) {
    return convertPoints(array, present);
}

} // namespace sentova::python
