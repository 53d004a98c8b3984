#include "DetectionArea.h"

#include "AreaErrors.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

namespace ostrel::areas {

ctlDetArea& DetectionArea::control() const {
    if (!isBound()) {
        throw NoAreaError();
    }
    return registry_->controlOf(index_);
}

bool DetectionArea::editing() const {
    if (!isBound()) {
        throw NoAreaError();
    }
    return registry_->EditMode();
}

std::int32_t DetectionArea::Index() const {
    if (!isBound()) {
        throw NoAreaError();
    }
    return index_;
}

QString DetectionArea::Key() const { return control().Key(); }
std::int32_t DetectionArea::DetColor() const { return control().DetColor(); }
void DetectionArea::setDetColor(std::int32_t value) { control().setDetColor(value); }
std::int32_t DetectionArea::ForeColor() const { return control().ForeColor(); }
void DetectionArea::setForeColor(std::int32_t value) { control().setForeColor(value); }
std::int32_t DetectionArea::ShowLabel() const { return control().ShowLabel(); }
void DetectionArea::setShowLabel(std::int32_t value) { control().setShowLabel(value); }
bool DetectionArea::ShowPicture() const { return control().ShowPicture(); }
void DetectionArea::setShowPicture(bool value) { control().setShowPicture(value); }
bool DetectionArea::ShowFrame() const { return control().ShowFrame(); }
void DetectionArea::setShowFrame(bool value) { control().setShowFrame(value); }
bool DetectionArea::MotionEvent() const { return control().MotionEvent(); }
void DetectionArea::setMotionEvent(bool value) { control().setMotionEvent(value); }
bool DetectionArea::MotionActive() const { return control().MotionActive(); }
void DetectionArea::setMotionActive(bool value) { control().setMotionActive(value); }
std::int32_t DetectionArea::MotionSens() const { return control().MotionSens(); }
void DetectionArea::setMotionSens(std::int32_t value) { control().setMotionSens(value); }
std::int32_t DetectionArea::MotionThreshold() const { return control().MotionThreshold(); }
void DetectionArea::setMotionThreshold(std::int32_t value) { control().setMotionThreshold(value); }
bool DetectionArea::ColorEvent() const { return control().ColorEvent(); }
void DetectionArea::setColorEvent(bool value) { control().setColorEvent(value); }
bool DetectionArea::ColorActive() const { return control().ColorActive(); }
void DetectionArea::setColorActive(bool value) { control().setColorActive(value); }
std::int32_t DetectionArea::ColorSens() const { return control().ColorSens(); }
void DetectionArea::setColorSens(std::int32_t value) { control().setColorSens(value); }
std::int32_t DetectionArea::ColorThreshold() const { return control().ColorThreshold(); }
void DetectionArea::setColorThreshold(std::int32_t value) { control().setColorThreshold(value); }
double DetectionArea::Top() const { return control().AreaTop(); }
double DetectionArea::Left() const { return control().Arealeft(); }
double DetectionArea::Height() const { return control().AreaHeight(); }
double DetectionArea::Width() const { return control().AreaWidth(); }
std::int32_t DetectionArea::MotionPer() const { return control().MotionPer(); }
std::int32_t DetectionArea::ColorPer() const { return control().ColorPer(); }
std::int32_t DetectionArea::CalcColor() const { return control().CalcColor(); }
bool DetectionArea::MotionStatus() const { return control().MotionStatus(); }
bool DetectionArea::ColorStatus() const { return control().ColorStatus(); }

bool DetectionArea::Visible() const { return control().Visible(); }

void DetectionArea::setVisible(bool value) {
    if (editing()) {
        return;
    }
    control().setVisible(value);
}

void DetectionArea::ZOrder(std::int16_t position) {
    if (editing()) {
        return;
    }
    ctlDetArea& c = control();
    if (position == 0) {
        c.raise();
    } else {
        c.lower();
    }
    registry_->sendVideoToBack();
}

void DetectionArea::Size(double left, double top, double width, double height) {
    if (editing()) {
        return;
    }
    ctlDetArea& c = control();
    c.Size(left, top, width, height, registry_->FrameWidth(), registry_->FrameHeight());
    registry_->placeControl(c);
}

}  // namespace ostrel::areas
