#include "AreaProperties.h"

#include "DetectionArea.h"

namespace ostrel::areas {

namespace {

template <auto Getter>
QVariant get(const DetectionArea& area) {
    return QVariant::fromValue((area.*Getter)());
}

template <auto Setter, typename T>
void set(DetectionArea& area, const QVariant& value) {
    (area.*Setter)(value.value<T>());
}

const AreaProperty kAreaProperties[] = {
    {"DetColor", "i", get<&DetectionArea::DetColor>, set<&DetectionArea::setDetColor, int>},
    {"ForeColor", "i", get<&DetectionArea::ForeColor>, set<&DetectionArea::setForeColor, int>},
    {"ShowLabel", "i", get<&DetectionArea::ShowLabel>, set<&DetectionArea::setShowLabel, int>},
    {"ShowPicture", "b", get<&DetectionArea::ShowPicture>,
     set<&DetectionArea::setShowPicture, bool>},
    {"ShowFrame", "b", get<&DetectionArea::ShowFrame>, set<&DetectionArea::setShowFrame, bool>},
    {"MotionEvent", "b", get<&DetectionArea::MotionEvent>,
     set<&DetectionArea::setMotionEvent, bool>},
    {"MotionActive", "b", get<&DetectionArea::MotionActive>,
     set<&DetectionArea::setMotionActive, bool>},
    {"MotionSens", "i", get<&DetectionArea::MotionSens>, set<&DetectionArea::setMotionSens, int>},
    {"MotionThreshold", "i", get<&DetectionArea::MotionThreshold>,
     set<&DetectionArea::setMotionThreshold, int>},
    {"ColorEvent", "b", get<&DetectionArea::ColorEvent>, set<&DetectionArea::setColorEvent, bool>},
    {"ColorActive", "b", get<&DetectionArea::ColorActive>,
     set<&DetectionArea::setColorActive, bool>},
    {"ColorSens", "i", get<&DetectionArea::ColorSens>, set<&DetectionArea::setColorSens, int>},
    {"ColorThreshold", "i", get<&DetectionArea::ColorThreshold>,
     set<&DetectionArea::setColorThreshold, int>},
    {"Visible", "b", get<&DetectionArea::Visible>, set<&DetectionArea::setVisible, bool>},
    {"Index", "i", get<&DetectionArea::Index>, nullptr},
    {"Key", "s", get<&DetectionArea::Key>, nullptr},
    {"Top", "d", get<&DetectionArea::Top>, nullptr},
    {"Left", "d", get<&DetectionArea::Left>, nullptr},
    {"Height", "d", get<&DetectionArea::Height>, nullptr},
    {"Width", "d", get<&DetectionArea::Width>, nullptr},
    {"MotionPer", "i", get<&DetectionArea::MotionPer>, nullptr},
    {"ColorPer", "i", get<&DetectionArea::ColorPer>, nullptr},
    {"CalcColor", "i", get<&DetectionArea::CalcColor>, nullptr},
    {"MotionStatus", "b", get<&DetectionArea::MotionStatus>, nullptr},
    {"ColorStatus", "b", get<&DetectionArea::ColorStatus>, nullptr},
};

}  // namespace

std::span<const AreaProperty> areaProperties() {
    return kAreaProperties;
}

const AreaProperty* findAreaProperty(QStringView name) {
    for (const AreaProperty& property : kAreaProperties) {
        if (name == QLatin1String(property.name)) {
            return &property;
        }
    }
    return nullptr;
}

bool fitsAreaProperty(const QVariant& value, const AreaProperty& property) {
    switch (property.signature[0]) {
        case 'i':
            return value.metaType().id() == QMetaType::Int;
        case 'b':
            return value.metaType().id() == QMetaType::Bool;
        default:
            return false;
    }
}

bool writeAreaProperty(DetectionArea& area, const AreaProperty& property, const QVariant& value) {
    if (property.write == nullptr || !fitsAreaProperty(value, property)) {
        return false;
    }
    property.write(area, value);
    return true;
}

}  // namespace ostrel::areas
