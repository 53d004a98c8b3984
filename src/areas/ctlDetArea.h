#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <QString>
#include <QWidget>

#include "AreaMeasure.h"

class QLabel;

namespace ostrel::areas {

class AreaPicture;

// One detection area laid over the video picture: all the area's settings, the results of its
// last measurement, the label that names it, and the picture of changed and matching pixels.
// Setters limit numbers to their ranges instead of refusing them and announce the change with
// PropertyChanged(name).
class ctlDetArea : public QWidget {
    Q_OBJECT

public:
    explicit ctlDetArea(QWidget* parent = nullptr);
    ~ctlDetArea() override;

    // Results of the last measurement.
    std::int32_t MotionPer() const { return measure_.MotionPer(); }
    std::int32_t ColorPer() const { return measure_.ColorPer(); }
    bool MotionStatus() const { return measure_.MotionStatus(); }
    bool ColorStatus() const { return measure_.ColorStatus(); }
    // Average colour of the piece last measured (computed on each read).
    std::int32_t CalcColor() { return measure_.CalcColor(); }

    // Status changes not reported yet, counted by Calculate (non-zero: the pending-change flag).
    std::uint32_t MotionChanged() const { return measure_.MotionChanged; }
    std::uint32_t ColorChanged() const { return measure_.ColorChanged; }
    // Whoever reports the changes takes them: the count, leaving none.
    std::uint32_t takeMotionChanges() { return std::exchange(measure_.MotionChanged, 0); }
    std::uint32_t takeColorChanges() { return std::exchange(measure_.ColorChanged, 0); }
    void keepLastChanges() { measure_.keepLastChanges(); }

    std::int32_t MotionThreshold() const { return motionThreshold_; }
    void setMotionThreshold(std::int32_t value);
    std::int32_t MotionSens() const { return motionSens_; }
    void setMotionSens(std::int32_t value);
    bool MotionEvent() const { return motionEvent_; }
    void setMotionEvent(bool value);
    bool MotionActive() const { return motionActive_; }
    void setMotionActive(bool value);
    std::int32_t ColorThreshold() const { return colorThreshold_; }
    void setColorThreshold(std::int32_t value);
    std::int32_t ColorSens() const { return colorSens_; }
    void setColorSens(std::int32_t value);
    bool ColorEvent() const { return colorEvent_; }
    void setColorEvent(bool value);
    bool ColorActive() const { return colorActive_; }
    void setColorActive(bool value);
    std::int32_t DetColor() const { return detColor_; }
    void setDetColor(std::int32_t value);
    std::int32_t ForeColor() const { return foreColor_; }
    void setForeColor(std::int32_t value);
    std::int32_t ColRes() const { return colRes_; }
    void setColRes(std::int32_t value);

    std::int32_t VideoWidth() const { return geometry_.videoWidth; }
    std::int32_t VideoHeight() const { return geometry_.videoHeight; }
    double AreaTop() const { return geometry_.top; }
    double Arealeft() const { return geometry_.left; }
    double AreaHeight() const { return geometry_.height; }
    double AreaWidth() const { return geometry_.width; }
    std::int32_t PixTop() const { return measure_.pixelRect().top; }
    std::int32_t PixLeft() const { return measure_.pixelRect().left; }
    std::int32_t PixHeight() const { return measure_.pixelRect().height; }
    std::int32_t PixWidth() const { return measure_.pixelRect().width; }

    QString Key() const { return key_; }
    void setKey(const QString& value);
    std::int32_t MyIndex() const { return myIndex_; }
    void setMyIndex(std::int32_t value);
    std::int32_t ShowLabel() const { return showLabel_; }
    void setShowLabel(std::int32_t value);
    bool ShowPicture() const { return showPicture_; }
    void setShowPicture(bool value);
    bool ShowFrame() const { return showFrame_; }
    void setShowFrame(bool value);
    bool FontBold() const;
    // Whether the area is shown over the video picture (whatever its window's own state).
    bool Visible() const { return parentWidget() ? isVisibleTo(parentWidget()) : !isHidden(); }
    void setFontBold(bool value);

    // Sets the whole geometry at once: fractions limited to 0..1 (NaN counts as 0), frame
    // dimensions to at least 0; then the pixel rectangle and buffers are worked out again.
    void Size(double left, double top, double width, double height, std::int32_t videoWidth,
              std::int32_t videoHeight);
    // The geometry Size stores for these arguments.
    static engine::AreaGeometry limitedGeometry(double left, double top, double width,
                                                double height, std::int32_t videoWidth,
                                                std::int32_t videoHeight);
    // Back to the defaults; measurement results, change flags and FontBold are kept.
    void Clear();
    // Forgets the last measurement's results, statuses and pending changes.
    void resetMeasurement() { measure_.resetResults(); }
    // The next measurement counts nothing and takes its piece as the previous frame, as on the
    // area's first frame (frames come back after a gap in the video).
    void startAsFirstFrame() { measure_.setFirstFrame(); }
    // Repaints the area's picture.
    void Refresh();
    // Measures the area on its piece of the current frame (PixWidth x PixHeight pixels of
    // ColRes bytes) and shows the result. Does nothing while ColRes is 0. While nobody can see
    // the area's picture, and `frame` keeps the frame's bytes, only the samples are measured.
    void Calculate(const engine::PixelView& source, engine::FrameKeeper frame = {});
    // Calculate in steps, so that the areas of one frame are measured together: startCalculate
    // takes the settings and checks the piece (which must stay readable until the finish),
    // measureStarted measures the pixels of the started areas in one walk over the frame, and
    // finishCalculate brings each one's results and picture up to date.
    void startCalculate(const engine::PixelView& source, engine::FrameKeeper frame = {});
    static void measureStarted(const std::vector<ctlDetArea*>& areas);
    void finishCalculate();
    // Whether the picture is on a shown, exposed window.
    bool pictureSeen() const;
    // The picture as it is painted (made on request when the last measurement skipped it).
    engine::PixelView shownPicture() { return measure_.displayView(); }

    const engine::AreaMeasure& measure() const { return measure_; }
    QLabel* label() const { return lblLabel_; }
    QWidget* picture() const;

Q_SIGNALS:
    void Click();
    void DblClick();
    // Button and Shift are masks (1 left, 2 right, 4 middle; 1 Shift, 2 Ctrl, 4 Alt); X and Y
    // the position within the picture in pixels.
    void MouseDown(short Button, short Shift, float X, float Y);
    void PropertyChanged(const QString& name);
    // MyIndex changed, by its setter or by Clear; lets the control array keep its lookup.
    void myIndexChanged(std::int32_t oldIndex, std::int32_t newIndex);
    // The measurement's buffers grew by `bytes` (shrank, when negative).
    void bufferBytesChanged(std::int64_t bytes);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ResizeArea();
    void updateLabelText();
    void setForeColorQuietly(std::int32_t value);
    void storeMyIndex(std::int32_t value);

    engine::AreaMeasure measure_;
    bool drawingPicture_ = false;  // the picture is shown again after the started measurement
    engine::AreaGeometry geometry_;
    AreaPicture* pctDetectionArea_ = nullptr;
    QLabel* lblLabel_ = nullptr;

    std::int32_t motionThreshold_ = 100;
    std::int32_t motionSens_ = 222;
    bool motionEvent_ = true;
    bool motionActive_ = true;
    std::int32_t colorThreshold_ = 100;
    std::int32_t colorSens_ = 96;
    bool colorEvent_ = true;
    bool colorActive_ = true;
    std::int32_t detColor_ = 0;
    std::uint8_t detRed_ = 0;
    std::uint8_t detGreen_ = 0;
    std::uint8_t detBlue_ = 0;
    std::int32_t foreColor_ = 0xFFFFFF;
    std::int32_t colRes_ = 3;
    QString key_ = QStringLiteral("Area0");
    std::int32_t myIndex_ = 0;
    std::int32_t showLabel_ = 1;
    bool showPicture_ = true;
    bool showFrame_ = true;
};

}  // namespace ostrel::areas
