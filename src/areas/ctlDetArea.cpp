#include "ctlDetArea.h"

#include <cmath>

#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "SurfacePaint.h"
#include "SystemColors.h"

namespace ostrel::areas {

namespace {

// The setters' range rule: below 0 gives 0, above `upper` gives `upper`; no upper limit when
// `upper` is 0.
std::int32_t limited(std::int32_t value, std::int32_t upper) {
    if (value < 0) {
        return 0;
    }
    if (upper != 0 && value > upper) {
        return upper;
    }
    return value;
}

double limitedFraction(double value) {
    if (std::isnan(value) || value < 0) {
        return 0;
    }
    return value > 1 ? 1 : value;
}

short buttonMask(Qt::MouseButtons buttons) {
    return short((buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
                 (buttons & Qt::MiddleButton ? 4 : 0));
}

short shiftMask(Qt::KeyboardModifiers modifiers) {
    return short((modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0) |
                 (modifiers & Qt::AltModifier ? 4 : 0));
}

QColor toQColor(std::int32_t color) {
    const std::int32_t plain = TranslateColor(color);
    return QColor(plain & 0xFF, (plain >> 8) & 0xFF, (plain >> 16) & 0xFF);
}

}  // namespace

// The area's picture surface: shows the measurement's picture 1:1 and passes mouse presses on.
class AreaPicture : public QWidget {
public:
    explicit AreaPicture(ctlDetArea* owner) : QWidget(owner), owner_(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (paintComposed(painter)) {
            return;
        }
        const engine::PixelView shown = owner_->shownPicture();
        if (shown.data == nullptr || shown.width <= 0) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        if (paintStraight(painter, shown)) {
            return;
        }
        const QImage image(shown.data, shown.width, shown.height, shown.stride,
                           shown.bytesPerPixel == 4 ? QImage::Format_RGB32 : QImage::Format_BGR888);
        painter.drawImage(0, 0, image);
    }
    void mousePressEvent(QMouseEvent* e) override {
        Q_EMIT owner_->MouseDown(buttonMask(e->button()), shiftMask(e->modifiers()),
                                 float(e->position().x()), float(e->position().y()));
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) {
            Q_EMIT owner_->Click();
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) {
            Q_EMIT owner_->DblClick();
        }
    }

private:
    // A picture the measurement left to be put together goes straight into the window surface
    // from the frame, without passing through the area's own picture buffer.
    bool paintComposed(QPainter& painter) {
        const std::optional<engine::PictureParts> parts = owner_->measure().pictureParts();
        if (!parts || parts->piece.bytesPerPixel != 4) {
            return false;
        }
        return paintStraight(painter, QSize(parts->piece.width, parts->piece.height),
                             [&](const QRect& part, std::uint8_t* target, std::ptrdiff_t stride) {
                                 engine::composePicture(
                                     *parts, {part.x(), part.y(), part.width(), part.height()},
                                     target, stride, true);
                             });
    }

    ctlDetArea* owner_;
};

// The area's label. It sits over the live picture, so it is painted again with every frame;
// its look is rendered into an image once per change of text, font, colours or size, and then
// only that image is drawn. A change is painted the ordinary way once while the image is
// rendered anew from the event loop (a widget cannot render itself while it paints).
class AreaLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        if (rendering_ || !renderedFits()) {
            QLabel::paintEvent(event);
            if (!rendering_) {
                renderLater();
            }
            return;
        }
        QPainter(this).drawImage(0, 0, rendered_);
    }
    void changeEvent(QEvent* event) override {
        rendered_ = QImage();  // font, palette, style, enabled state
        QLabel::changeEvent(event);
    }

private:
    bool renderedFits() const {
        return !rendered_.isNull() && renderedText_ == text() &&
               rendered_.deviceIndependentSize().toSize() == size();
    }
    void renderLater() {
        if (!renderPending_) {
            renderPending_ = true;
            QMetaObject::invokeMethod(this, [this] { renderNow(); }, Qt::QueuedConnection);
        }
    }
    void renderNow() {
        renderPending_ = false;
        const qreal ratio = devicePixelRatioF();
        QImage image(size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        rendering_ = true;
        render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        rendering_ = false;
        rendered_ = std::move(image);
        renderedText_ = text();
    }

    QImage rendered_;
    QString renderedText_;
    bool rendering_ = false;
    bool renderPending_ = false;
};

ctlDetArea::ctlDetArea(QWidget* parent) : QWidget(parent) {
    // The picture always fills the control: whatever lies under it (the video picture) is
    // hidden, and marking the control opaque keeps the window from painting it there.
    setAttribute(Qt::WA_OpaquePaintEvent);
    pctDetectionArea_ = new AreaPicture(this);
    lblLabel_ = new AreaLabel(this);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(7.8);
    font.setBold(true);
    lblLabel_->setFont(font);
    lblLabel_->installEventFilter(this);
    lblLabel_->setText(QString::number(myIndex_));
    Clear();
}

ctlDetArea::~ctlDetArea() = default;

QWidget* ctlDetArea::picture() const { return pctDetectionArea_; }

void ctlDetArea::setMotionThreshold(std::int32_t value) {
    motionThreshold_ = limited(value, 100);
    Q_EMIT PropertyChanged(QStringLiteral("MotionThreshold"));
}

void ctlDetArea::setMotionSens(std::int32_t value) {
    motionSens_ = limited(value, 255);
    Q_EMIT PropertyChanged(QStringLiteral("MotionSens"));
}

void ctlDetArea::setMotionEvent(bool value) {
    motionEvent_ = value;
    Q_EMIT PropertyChanged(QStringLiteral("MotionEvent"));
}

void ctlDetArea::setMotionActive(bool value) {
    motionActive_ = value;
    Q_EMIT PropertyChanged(QStringLiteral("MotionActive"));
}

void ctlDetArea::setColorThreshold(std::int32_t value) {
    colorThreshold_ = limited(value, 100);
    Q_EMIT PropertyChanged(QStringLiteral("ColorThreshold"));
}

void ctlDetArea::setColorSens(std::int32_t value) {
    colorSens_ = limited(value, 255);
    Q_EMIT PropertyChanged(QStringLiteral("ColorSens"));
}

void ctlDetArea::setColorEvent(bool value) {
    colorEvent_ = value;
    Q_EMIT PropertyChanged(QStringLiteral("ColorEvent"));
}

void ctlDetArea::setColorActive(bool value) {
    colorActive_ = value;
    Q_EMIT PropertyChanged(QStringLiteral("ColorActive"));
}

// The target colour is compared as it was when set: a system colour is translated now.
void ctlDetArea::setDetColor(std::int32_t value) {
    detColor_ = value;
    detRed_ = RedByte(value);
    detGreen_ = GreenByte(value);
    detBlue_ = BlueByte(value);
    Q_EMIT PropertyChanged(QStringLiteral("DetColor"));
}

void ctlDetArea::setForeColorQuietly(std::int32_t value) {
    foreColor_ = value;
    QPalette palette = lblLabel_->palette();
    palette.setColor(QPalette::WindowText, toQColor(value));
    lblLabel_->setPalette(palette);
}

void ctlDetArea::setForeColor(std::int32_t value) {
    setForeColorQuietly(value);
    Q_EMIT PropertyChanged(QStringLiteral("ForeColor"));
}

// Only 3 and 4 bytes per pixel exist; anything else stores 0, which stops measuring.
void ctlDetArea::setColRes(std::int32_t value) {
    if (value != 3 && value != 4) {
        colRes_ = 0;
        return;
    }
    colRes_ = value;
    ResizeArea();
    Q_EMIT PropertyChanged(QStringLiteral("ColRes"));
}

void ctlDetArea::setKey(const QString& value) {
    key_ = value;
    if (showLabel_ == 2) {
        lblLabel_->setText(key_);
    }
    Q_EMIT PropertyChanged(QStringLiteral("Key"));
}

void ctlDetArea::storeMyIndex(std::int32_t value) {
    const std::int32_t old = myIndex_;
    myIndex_ = value;
    if (old != value) {
        Q_EMIT myIndexChanged(old, value);
    }
}

void ctlDetArea::setMyIndex(std::int32_t value) {
    storeMyIndex(value > 0 ? value : 0);
    if (showLabel_ == 1) {
        lblLabel_->setText(QString::number(myIndex_));
    }
    Q_EMIT PropertyChanged(QStringLiteral("MyIndex"));
}

void ctlDetArea::setShowLabel(std::int32_t value) {
    showLabel_ = limited(value, 2);
    lblLabel_->setVisible(showLabel_ != 0);
    updateLabelText();
    Q_EMIT PropertyChanged(QStringLiteral("ShowLabel"));
}

void ctlDetArea::updateLabelText() {
    lblLabel_->setText(showLabel_ == 1 ? QString::number(myIndex_) : key_);
}

void ctlDetArea::setShowPicture(bool value) {
    showPicture_ = value;
    Q_EMIT PropertyChanged(QStringLiteral("ShowPicture"));
}

void ctlDetArea::setShowFrame(bool value) {
    showFrame_ = value;
    Q_EMIT PropertyChanged(QStringLiteral("ShowFrame"));
}

bool ctlDetArea::FontBold() const { return lblLabel_->font().bold(); }

void ctlDetArea::setFontBold(bool value) {
    QFont font = lblLabel_->font();
    font.setBold(value);
    lblLabel_->setFont(font);
    Q_EMIT PropertyChanged(QStringLiteral("FontBold"));
}

engine::AreaGeometry ctlDetArea::limitedGeometry(double left, double top, double width,
                                                 double height, std::int32_t videoWidth,
                                                 std::int32_t videoHeight) {
    return {limitedFraction(left),   limitedFraction(top),   limitedFraction(width),
            limitedFraction(height), limited(videoWidth, 0), limited(videoHeight, 0)};
}

void ctlDetArea::Size(double left, double top, double width, double height,
                      std::int32_t videoWidth, std::int32_t videoHeight) {
    geometry_ = limitedGeometry(left, top, width, height, videoWidth, videoHeight);
    ResizeArea();
}

// Works out the pixel rectangle and buffers again and fits the parts on screen to it.
void ctlDetArea::ResizeArea() {
    const std::int64_t before = measure_.bufferBytes();
    measure_.ResizeArea(geometry_, colRes_);
    if (measure_.bufferBytes() != before) {
        Q_EMIT bufferBytesChanged(measure_.bufferBytes() - before);
    }
    const engine::PixelRect& r = measure_.pixelRect();
    resize(r.width, r.height);
    pctDetectionArea_->setGeometry(0, 0, r.width, r.height);
    lblLabel_->setGeometry(0, 0, r.width, lblLabel_->sizeHint().height());
    pctDetectionArea_->update();
}

void ctlDetArea::Clear() {
    setForeColorQuietly(0xFFFFFF);
    colRes_ = 3;
    showLabel_ = 1;
    storeMyIndex(0);
    key_ = QStringLiteral("Area0");
    lblLabel_->setVisible(true);
    motionThreshold_ = 100;
    colorThreshold_ = 100;
    geometry_.top = geometry_.left = geometry_.height = geometry_.width = 0.33;
    showFrame_ = showPicture_ = motionActive_ = colorActive_ = motionEvent_ = colorEvent_ = true;
    motionSens_ = 222;
    colorSens_ = 96;
    geometry_.videoWidth = 320;
    geometry_.videoHeight = 240;
    detRed_ = detGreen_ = detBlue_ = 0;
    detColor_ = 0;
    measure_.setFirstFrame();
}

void ctlDetArea::Refresh() { pctDetectionArea_->update(); }

bool ctlDetArea::pictureSeen() const {
    if (!pctDetectionArea_->isVisible()) {
        return false;
    }
    const QWindow* shownOn = window()->windowHandle();
    return shownOn != nullptr && shownOn->isExposed();
}

void ctlDetArea::Calculate(const engine::PixelView& source, engine::FrameKeeper frame) {
    startCalculate(source, std::move(frame));
    finishCalculate();
}

void ctlDetArea::startCalculate(const engine::PixelView& source, engine::FrameKeeper frame) {
    drawingPicture_ = false;
    if (colRes_ == 0) {
        return;
    }
    engine::MeasureSettings s;
    s.motionSens = motionSens_;
    s.motionThreshold = motionThreshold_;
    s.motionActive = motionActive_;
    s.motionEvent = motionEvent_;
    s.colorSens = colorSens_;
    s.colorThreshold = colorThreshold_;
    s.colorActive = colorActive_;
    s.colorEvent = colorEvent_;
    s.detRed = detRed_;
    s.detGreen = detGreen_;
    s.detBlue = detBlue_;
    s.showPicture = showPicture_;
    s.showFrame = showFrame_;
    s.frameColor = std::uint32_t(TranslateColor(foreColor_));
    measure_.startCalculate(source, s, std::move(frame));
    drawingPicture_ = pictureSeen();
}

void ctlDetArea::measureStarted(const std::vector<ctlDetArea*>& areas) {
    std::vector<engine::AreaMeasure*> measures;
    measures.reserve(areas.size());
    for (ctlDetArea* area : areas) {
        measures.push_back(&area->measure_);
    }
    engine::measureTogether(measures);
}

void ctlDetArea::finishCalculate() {
    measure_.finishCalculate();
    if (std::exchange(drawingPicture_, false)) {
        pctDetectionArea_->update();
    }
}

bool ctlDetArea::eventFilter(QObject* watched, QEvent* event) {
    const bool leftMouse =
        (event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    if (watched == lblLabel_ && leftMouse) {
        if (event->type() == QEvent::MouseButtonRelease) {
            Q_EMIT Click();
        } else {
            Q_EMIT DblClick();
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace ostrel::areas
