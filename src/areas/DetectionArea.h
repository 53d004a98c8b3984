#pragma once

#include <cstdint>

#include <QString>

namespace ostrel::areas {

class ctlDetArea;
class mdlSub;

// One area as the program's commands and automation clients see it. It holds only the area's
// number and looks the area's control up by that number at every call, so it always shows the
// control's current values. Once its area is removed it is bound to no area, and every member
// fails with NoAreaError: it never reaches the area that inherits its old number.
class DetectionArea {
public:
    explicit DetectionArea(mdlSub& registry) : registry_(&registry) {}

    std::int32_t Index() const;
    QString Key() const;
    std::int32_t DetColor() const;
    void setDetColor(std::int32_t value);
    std::int32_t ForeColor() const;
    void setForeColor(std::int32_t value);
    std::int32_t ShowLabel() const;
    void setShowLabel(std::int32_t value);
    bool ShowPicture() const;
    void setShowPicture(bool value);
    bool ShowFrame() const;
    void setShowFrame(bool value);
    bool MotionEvent() const;
    void setMotionEvent(bool value);
    bool MotionActive() const;
    void setMotionActive(bool value);
    std::int32_t MotionSens() const;
    void setMotionSens(std::int32_t value);
    std::int32_t MotionThreshold() const;
    void setMotionThreshold(std::int32_t value);
    bool ColorEvent() const;
    void setColorEvent(bool value);
    bool ColorActive() const;
    void setColorActive(bool value);
    std::int32_t ColorSens() const;
    void setColorSens(std::int32_t value);
    std::int32_t ColorThreshold() const;
    void setColorThreshold(std::int32_t value);
    // Whether the area is shown on the video picture; the write is ignored while editing.
    bool Visible() const;
    void setVisible(bool value);
    // 0 brings the area in front of the others, any other value sends it behind them; the
    // video picture stays behind every area. Ignored while editing.
    void ZOrder(std::int16_t position = 0);
    // New geometry as fractions of the frame. Ignored while editing.
    void Size(double left, double top, double width, double height);
    double Top() const;
    double Left() const;
    double Height() const;
    double Width() const;
    std::int32_t MotionPer() const;
    std::int32_t ColorPer() const;
    std::int32_t CalcColor() const;
    bool MotionStatus() const;
    bool ColorStatus() const;

    bool isBound() const { return index_ > 0; }

private:
    friend class mdlSub;  // only the registry numbers and unbinds objects
    void bind(std::int32_t index) { index_ = index; }
    void unbind() { index_ = 0; }

    ctlDetArea& control() const;
    bool editing() const;

    mdlSub* registry_;
    std::int32_t index_ = 0;
};

}  // namespace ostrel::areas
