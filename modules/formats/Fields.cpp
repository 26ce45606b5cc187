#include "Fields.h"

namespace formats {

namespace {

const char* const kNames[kFieldCount] = {
    "x",        "y", "z", "az", "el", "range", "amplitude", "reflectance", "pulseShapeDeviation",
    "timestamp"};

bool FieldSelection::*const kSelected[kFieldCount] = {
    &FieldSelection::x,         &FieldSelection::y,           &FieldSelection::z,
    &FieldSelection::az,        &FieldSelection::el,          &FieldSelection::range,
    &FieldSelection::intensity, &FieldSelection::reflectance, &FieldSelection::pulseShapeDeviation,
    &FieldSelection::timestamp};

} // namespace

const char* fieldName(Field field) {
    return kNames[static_cast<int>(field)];
}

std::optional<Field> fieldFromName(std::string_view name) {
    for (int i = 0; i < kFieldCount; ++i) {
        if (name == kNames[i]) {
            return static_cast<Field>(i);
        }
    }
    if (name == "intensity") {
        return Field::Intensity;
    }
    if (name == "azimuth") {
        return Field::Azimuth;
    }
    if (name == "elevation") {
        return Field::Elevation;
    }
    if (name == "pulse_shape_deviation") {
        return Field::PulseShapeDeviation;
    }
    return std::nullopt;
}

bool isSelected(const FieldSelection& selection, Field field) {
    return selection.*kSelected[static_cast<int>(field)];
}

void setSelected(FieldSelection& selection, Field field, bool on) {
    selection.*kSelected[static_cast<int>(field)] = on;
}

std::vector<Field> selectedFields(const FieldSelection& selection) {
    std::vector<Field> fields;
    for (int i = 0; i < kFieldCount; ++i) {
        if (selection.*kSelected[i]) {
            fields.push_back(static_cast<Field>(i));
        }
    }
    return fields;
}

FieldSelection noFields() {
    FieldSelection none;
    for (int i = 0; i < kFieldCount; ++i) {
        none.*kSelected[i] = false;
    }
    return none;
}

FieldSelection everyField() {
    FieldSelection all;
    for (int i = 0; i < kFieldCount; ++i) {
        all.*kSelected[i] = true;
    }
    return all;
}

FieldSelection forModel(FieldSelection selection, LIDAR_TYPE mode) {
    if (mode != LIDAR_LX30) {
        selection.reflectance = false;
        selection.pulseShapeDeviation = false;
    }
    return selection;
}

} // namespace formats
