#include "AreaEditor.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "AreaControlArray.h"
#include "DetectionArea.h"
#include "MainMenu.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

namespace ostrel::ui {

namespace {

int buttonMask(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
           (buttons & Qt::MiddleButton ? 4 : 0);
}

// The box's outline, drawn over the live picture and letting the mouse through to the box.
class EditOutline : public QWidget {
public:
    explicit EditOutline(QWidget* box) : QWidget(box) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(QPen(Qt::red, 1));
        painter.drawRect(0, 0, width() - 1, height() - 1);
    }
};

}  // namespace

// The editing box: shows the piece of the frame last copied into it and hands its mouse events
// to the editor.
class EditBox : public QWidget {
public:
    EditBox(AreaEditor& editor, QWidget* surface) : QWidget(surface), editor_(editor) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);  // hover moves choose the zone without a button held
    }

    void setPicture(QImage picture) {
        picture_ = std::move(picture);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (picture_.width() < width() || picture_.height() < height()) {
            painter.fillRect(rect(), Qt::black);
        }
        painter.drawImage(0, 0, picture_);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        editor_.pctEdit_MouseMove(buttonMask(e->buttons()), e->position().x(), e->position().y());
    }
    void mousePressEvent(QMouseEvent* e) override {
        editor_.pctEdit_MouseDown(buttonMask(e->button()), e->globalPosition().toPoint());
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) {
            editor_.pctEdit_DblClick();
        } else {
            mousePressEvent(e);
        }
    }

private:
    AreaEditor& editor_;
    QImage picture_;
};

AreaEditor::AreaEditor(MainMenu& menu, areas::mdlSub& registry, areas::AreaControlArray& controls,
                       QWidget* surface, QWidget* videoPicture, FrameSource frame,
                       EditMonitor monitor, QObject* parent)
    : QObject(parent),
      menu_(menu),
      registry_(registry),
      controls_(controls),
      videoPicture_(videoPicture),
      frame_(std::move(frame)),
      monitor_(std::move(monitor)),
      cursor_([] { return QCursor::pos(); }) {
    pctEdit_ = new EditBox(*this, surface);
    pctEdit_->setObjectName(QStringLiteral("pctEdit"));
    pctEdit_->hide();
    shpShapeEdit_ = new EditOutline(pctEdit_);
    shpShapeEdit_->setObjectName(QStringLiteral("shpShapeEdit"));
    lblAreaEdit_ = new QLabel(pctEdit_);
    lblAreaEdit_->setObjectName(QStringLiteral("lblAreaEdit"));
    lblAreaEdit_->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblAreaEdit_->setAutoFillBackground(true);
    QPalette palette = lblAreaEdit_->palette();
    palette.setColor(QPalette::Window, Qt::red);
    palette.setColor(QPalette::WindowText, Qt::white);
    lblAreaEdit_->setPalette(palette);
    lblAreaEdit_->move(1, 1);

    connect(menu_.mnuStartEdit, &QAction::triggered, this, &AreaEditor::mnuStartEdit_Click);
    for (int entry = 0; entry < menu_.mnuEdit.size(); ++entry) {
        connect(menu_.mnuEdit[entry], &QAction::triggered, this,
                [this, entry] { mnuEdit_Click(entry); });
    }
}

AreaEditor::~AreaEditor() { delete pctEdit_; }

QWidget* AreaEditor::pctEdit() const { return pctEdit_; }

void AreaEditor::startEdit(std::int32_t skipMove) {
    skipMove_ = skipMove;
    mnuStartEdit_Click();
}

void AreaEditor::mnuStartEdit_Click() {
    registry_.setEditMode(true);
    lblAreaEdit_->setText(
        QString::number(registry_.SelectedAreaIndex(registry_.SelectedPosition())));
    lblAreaEdit_->adjustSize();
    pctEdit_->raise();
    pctEdit_->show();
    const areas::ctlDetArea& area = controls_.element(registry_.SelectedPosition());
    pctEdit_->move(videoPicture_->x() + area.PixLeft(), videoPicture_->y() + area.PixTop());
    pctEdit_->resize(area.PixWidth(), area.PixHeight());
    shpShapeEdit_->resize(area.PixWidth(), area.PixHeight());
    // The picture under the box at once, not the previous edit's until the loop's next pass.
    showLiveUnderBox();
    EditMenu();
}

void AreaEditor::pctEdit_MouseMove(int Button, double X, double Y) {
    if (skipMove_ > 0) {
        skipMove_ = 0;
        return;
    }
    const QPoint cursor = cursor_();
    if (Button == 0) {
        hover(X, Y);
    } else if (Button == 1) {
        // A box whose pointer was never set has no zone chosen by hovering yet.
        if (pctEdit_->cursor().shape() != Qt::ArrowCursor) {
            dragTo(cursor);
        }
        redraw();
    }
}

// Later tests override earlier ones: a corner belongs to the top or bottom edge, except the
// top-right corner, which belongs to the right edge.
void AreaEditor::hover(double X, double Y) {
    Qt::CursorShape pointer = Qt::SizeAllCursor;
    EditZone zone = EditZone::Body;
    if (X < kEdgeBand) {
        pointer = Qt::SizeHorCursor;
        zone = EditZone::LeftEdge;
    }
    if (Y < kEdgeBand) {
        pointer = Qt::SizeVerCursor;
        zone = EditZone::TopEdge;
    }
    if (X > pctEdit_->width() - kEdgeBand) {
        pointer = Qt::SizeHorCursor;
        zone = EditZone::RightEdge;
    }
    if (Y > pctEdit_->height() - kEdgeBand) {
        pointer = Qt::SizeVerCursor;
        zone = EditZone::BottomEdge;
    }
    pctEdit_->setCursor(pointer);
    editZone_ = zone;
}

void AreaEditor::dragTo(const QPoint& cursor) {
    const int cx = cursor.x();
    const int cy = cursor.y();
    const int pTop = videoPicture_->y();
    const int pLeft = videoPicture_->x();
    const int pBottom = pTop + videoPicture_->height();
    const int pRight = pLeft + videoPicture_->width();
    int top = pctEdit_->y();
    int left = pctEdit_->x();
    int width = pctEdit_->width();
    int height = pctEdit_->height();

    switch (editZone_) {
        case EditZone::Body:
            // When the box is larger than the picture, the bottom and right bounds win.
            top = cy - anchorY_;
            left = cx - anchorX_;
            if (pTop > top) {
                top = pTop;
            }
            if (pBottom < top + height) {
                top = pBottom - height;
            }
            if (pLeft > left) {
                left = pLeft;
            }
            if (pRight < left + width) {
                left = pRight - width;
            }
            break;
        case EditZone::LeftEdge: {
            const int right = left + width;
            const int newLeft = pLeft < cx - anchorX_ ? cx - anchorX_ : pLeft;
            width = right - newLeft > kMinBoxSize ? right - newLeft : kMinBoxSize;
            left = right - width;
            if (pLeft > left) {
                left = pLeft;  // the width stays, so the right edge gives way
            }
            break;
        }
        case EditZone::TopEdge: {
            const int bottom = top + height;
            const int newTop = pTop < cy - anchorY_ ? cy - anchorY_ : pTop;
            height = bottom - newTop > kMinBoxSize ? bottom - newTop : kMinBoxSize;
            top = bottom - height;
            break;
        }
        case EditZone::RightEdge:
            width = cx - anchorW_ > kMinBoxSize ? cx - anchorW_ : kMinBoxSize;
            if (pRight < left + width) {
                width = pRight - left;
            }
            break;
        case EditZone::BottomEdge:
            height = cy - anchorH_ > kMinBoxSize ? cy - anchorH_ : kMinBoxSize;
            if (pBottom < top + height) {
                height = pBottom - top;
            }
            break;
    }

    shpShapeEdit_->resize(shpShapeEdit_->width(), height);
    pctEdit_->resize(pctEdit_->width(), height);
    pctEdit_->move(pctEdit_->x(), top);
    shpShapeEdit_->resize(width, shpShapeEdit_->height());
    pctEdit_->resize(width, pctEdit_->height());
    pctEdit_->move(left, pctEdit_->y());

    const std::int32_t frameWidth = registry_.FrameWidth();
    const std::int32_t frameHeight = registry_.FrameHeight();
    if (frameHeight > 0 && frameWidth > 0 && monitor_.showGeometry) {
        monitor_.showGeometry(
            double(pctEdit_->y() - pTop) / frameHeight, double(pctEdit_->x() - pLeft) / frameWidth,
            double(pctEdit_->width()) / frameWidth, double(pctEdit_->height()) / frameHeight);
    }
    if (monitor_.refreshView) {
        monitor_.refreshView();
    }
}

void AreaEditor::redraw() {
    for (const auto& element : controls_.elements()) {
        if (element.second) {
            element.second->Refresh();
        }
    }
    videoPicture_->update();
    showLiveUnderBox();
}

void AreaEditor::showLiveUnderBox() {
    const QRect under(pctEdit_->x() - videoPicture_->x(), pctEdit_->y() - videoPicture_->y(),
                      pctEdit_->width(), pctEdit_->height());
    pctEdit_->setPicture(frame_().copy(under));
}

void AreaEditor::pctEdit_MouseDown(int Button, const QPoint& screenPos) {
    if (Button == 2) {
        menu_.mnuStopEdit->popup(screenPos);
    }
    if (Button == 1) {
        const QPoint cursor = cursor_();
        anchorX_ = cursor.x() - pctEdit_->x();
        anchorY_ = cursor.y() - pctEdit_->y();
        anchorH_ = cursor.y() - pctEdit_->height();
        anchorW_ = cursor.x() - pctEdit_->width();
    }
}

void AreaEditor::pctEdit_DblClick() { mnuEdit_Click(0); }

void AreaEditor::mnuEdit_Click(int entry) {
    // Edit mode ends first: an area ignores new geometry while it is on.
    registry_.setEditMode(false);
    pctEdit_->lower();
    pctEdit_->hide();
    const std::int32_t frameWidth = registry_.FrameWidth();
    const std::int32_t frameHeight = registry_.FrameHeight();
    if (entry == 0 && frameHeight >= 1 && frameWidth >= 1) {
        const double left = double(pctEdit_->x() - videoPicture_->x()) / frameWidth;
        const double top = double(pctEdit_->y() - videoPicture_->y()) / frameHeight;
        const double width = double(pctEdit_->width()) / frameWidth;
        const double height = double(pctEdit_->height()) / frameHeight;
        const std::int64_t number = registry_.SelectedAreaIndex(registry_.SelectedPosition());
        if (const auto area = registry_.areaCollection().find(number)) {
            area->Size(left, top, width, height);
        }
    }
    EditMenu();
}

void AreaEditor::EditMenu() {
    const bool idle = !registry_.EditMode();
    menu_.mnuFile->setEnabled(idle);
    menu_.mnuAdd->setEnabled(idle);
    menu_.mnuClear->setEnabled(idle);
    menu_.mnuSelect->setEnabled(idle);
    menu_.mnuIndex->setEnabled(idle);
    menu_.mnuSet->setEnabled(idle);
    if (monitor_.setGeometryTextColor) {
        monitor_.setGeometryTextColor(idle ? QColor(0, 0, 0) : QColor(255, 0, 0));
    }
}

}  // namespace ostrel::ui
