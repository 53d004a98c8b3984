#include "frmMonitor.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

#include "AreaControlArray.h"
#include "MonitorBar.h"
#include "SystemColors.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

namespace ostrel::shell {

QString monitorIndexText(std::int32_t number, const QString& key) {
    return QStringLiteral("Area %1 - %2").arg(number).arg(key);
}

QString monitorFractionText(double value) { return QLocale().toString(value, 'f', 2); }

QString monitorHexColorText(std::int32_t color) {
    return QStringLiteral("&H") +
           QString::number(std::uint32_t(color), 16).toUpper().rightJustified(6, u'0');
}

namespace {

QColor plainColor(std::int32_t color) {
    const std::int32_t plain = areas::TranslateColor(color);
    return QColor(plain & 0xFF, (plain >> 8) & 0xFF, (plain >> 16) & 0xFF);
}

void setTextIfChanged(QLineEdit* box, const QString& text) {
    if (box->text() != text) {
        box->setText(text);
    }
}

const QString kMonitorTitle = QStringLiteral("Ostrel - Monitor");

}  // namespace

frmMonitor::frmMonitor(const AppState& state, QWidget* parent)
    : HidingWindow(state, WindowSettings(QStringLiteral("Monitor"), 300, 300), parent) {
    setWindowTitle(kMonitorTitle);
    auto* outer = new QGridLayout(this);
    pctView = new QWidget(this);
    pctView->setObjectName(QStringLiteral("pctView"));
    outer->addWidget(pctView, 0, 0);
    lblLink = new QLabel(this);
    lblLink->setObjectName(QStringLiteral("lblLink"));
    lblLink->hide();
    outer->addWidget(lblLink, 1, 0);
    auto* grid = new QGridLayout(pctView);

    txtIndex = new QLineEdit(pctView);
    txtIndex->setObjectName(QStringLiteral("txtIndex"));
    txtIndex->setReadOnly(true);
    grid->addWidget(txtIndex, 0, 0, 1, 4);
    txtTop = addBox(QStringLiteral("txtTop"), QStringLiteral("Top"), 1, 0);
    txtLeft = addBox(QStringLiteral("txtLeft"), QStringLiteral("Left"), 1, 2);
    txtHeight = addBox(QStringLiteral("txtHeight"), QStringLiteral("Height"), 2, 0);
    txtWidth = addBox(QStringLiteral("txtWidth"), QStringLiteral("Width"), 2, 2);

    lblMotion_ = new QLabel(QStringLiteral("Motion"), pctView);
    lblMotion_->setObjectName(QStringLiteral("lblMotion"));
    grid->addWidget(lblMotion_, 3, 0, 1, 4);
    txtMotionPer = addBox(QStringLiteral("txtMotionPer"), QStringLiteral("MotionPer"), 4, 0);
    pctMotionPer = new MonitorBar(pctView);
    pctMotionPer->setObjectName(QStringLiteral("pctMotionPer"));
    grid->addWidget(pctMotionPer, 4, 2, 1, 2);
    txtMotionSens = addBox(QStringLiteral("txtMotionSens"), QStringLiteral("MotionSens"), 5, 0);
    txtMotionThreshold =
        addBox(QStringLiteral("txtMotionThreshold"), QStringLiteral("Mot.Threshold"), 5, 2);

    lblColor_ = new QLabel(QStringLiteral("Color"), pctView);
    lblColor_->setObjectName(QStringLiteral("lblColor"));
    grid->addWidget(lblColor_, 6, 0, 1, 4);
    txtColorPer = addBox(QStringLiteral("txtColorPer"), QStringLiteral("ColorPer"), 7, 0);
    pctColorPer = new MonitorBar(pctView);
    pctColorPer->setObjectName(QStringLiteral("pctColorPer"));
    grid->addWidget(pctColorPer, 7, 2, 1, 2);
    txtColorSens = addBox(QStringLiteral("txtColorSens"), QStringLiteral("ColorSens"), 8, 0);
    txtColorThreshold =
        addBox(QStringLiteral("txtColorThreshold"), QStringLiteral("Col.Threshold"), 8, 2);
    txtDetColor = addBox(QStringLiteral("txtDetColor"), QStringLiteral("DetColor"), 9, 0);
    txtDetColorHex = new QLineEdit(pctView);
    txtDetColorHex->setObjectName(QStringLiteral("txtDetColorHex"));
    txtDetColorHex->setReadOnly(true);
    grid->addWidget(txtDetColorHex, 9, 2);
    pctDetColor = new QWidget(pctView);
    pctDetColor->setObjectName(QStringLiteral("pctDetColor"));
    pctDetColor->setAutoFillBackground(true);
    pctDetColor->setMinimumSize(24, 16);
    grid->addWidget(pctDetColor, 9, 3);

    const QObject* const doubleClickable[] = {txtMotionSens, txtMotionThreshold, txtColorSens,
                                              txtColorThreshold, txtDetColor, txtDetColorHex,
                                              pctDetColor};
    for (const QObject* control : doubleClickable) {
        const_cast<QObject*>(control)->installEventFilter(this);
    }
    connect(pctMotionPer, &MonitorBar::doubleClicked, this, &frmMonitor::motionThresholdRequested);
    connect(pctColorPer, &MonitorBar::doubleClicked, this, &frmMonitor::colorThresholdRequested);

    restorePlace();
}

QLineEdit* frmMonitor::addBox(const QString& name, const QString& caption, int row, int column) {
    auto* grid = static_cast<QGridLayout*>(pctView->layout());
    auto* label = new QLabel(caption, pctView);
    label->setObjectName(QStringLiteral("lbl") + name.mid(3));
    auto* box = new QLineEdit(pctView);
    box->setObjectName(name);
    box->setReadOnly(true);
    label->setBuddy(box);
    grid->addWidget(label, row, column);
    grid->addWidget(box, row, column + 1);
    return box;
}

void frmMonitor::showSelectedArea(const areas::mdlSub& registry) {
    const areas::ctlDetArea* area = registry.controls().at(registry.SelectedPosition());
    if (registry.areaCollection().Count() == 0 || area == nullptr) {
        showNoArea();
    } else {
        showArea(*area, registry.EditMode());
    }
}

void frmMonitor::showNoArea() {
    setTextIfChanged(txtIndex, QStringLiteral("Area"));
    for (QLineEdit* box : {txtTop, txtLeft, txtHeight, txtWidth, txtMotionPer, txtMotionSens,
                           txtMotionThreshold, txtColorPer, txtColorSens, txtColorThreshold,
                           txtDetColor, txtDetColorHex}) {
        setTextIfChanged(box, QString());
    }
    pctMotionPer->clear();
    pctColorPer->clear();
    setDetColorSwatch(palette().color(QPalette::Window));
}

void frmMonitor::showArea(const areas::ctlDetArea& area, bool editMode) {
    const auto percent = [](std::int32_t value) { return QString::number(value) + u'%'; };
    setTextIfChanged(txtIndex, monitorIndexText(area.MyIndex(), area.Key()));
    if (!editMode) {
        setTextIfChanged(txtTop, monitorFractionText(area.AreaTop()));
        setTextIfChanged(txtLeft, monitorFractionText(area.Arealeft()));
        setTextIfChanged(txtHeight, monitorFractionText(area.AreaHeight()));
        setTextIfChanged(txtWidth, monitorFractionText(area.AreaWidth()));
    }
    setTextIfChanged(txtMotionPer, percent(area.MotionPer()));
    pctMotionPer->setValues(area.MotionPer(), area.MotionThreshold());
    setTextIfChanged(txtMotionSens, QString::number(area.MotionSens()));
    setTextIfChanged(txtMotionThreshold, percent(area.MotionThreshold()));
    setTextIfChanged(txtColorPer, percent(area.ColorPer()));
    pctColorPer->setValues(area.ColorPer(), area.ColorThreshold());
    setTextIfChanged(txtColorSens, QString::number(area.ColorSens()));
    setTextIfChanged(txtColorThreshold, percent(area.ColorThreshold()));
    setTextIfChanged(txtDetColor, QString::number(area.DetColor()));
    setTextIfChanged(txtDetColorHex, monitorHexColorText(area.DetColor()));
    setDetColorSwatch(plainColor(area.DetColor()));
}

void frmMonitor::showEditGeometry(double top, double left, double width, double height) {
    setTextIfChanged(txtTop, monitorFractionText(top));
    setTextIfChanged(txtLeft, monitorFractionText(left));
    setTextIfChanged(txtWidth, monitorFractionText(width));
    setTextIfChanged(txtHeight, monitorFractionText(height));
}

void frmMonitor::showSourceTrouble(const QString& state) {
    setWindowTitle(state.isEmpty() ? kMonitorTitle
                                   : QStringLiteral("%1 (source %2)").arg(kMonitorTitle, state));
}

void frmMonitor::setGeometryTextColor(const QColor& color) {
    for (QLineEdit* box : {txtTop, txtLeft, txtHeight, txtWidth}) {
        QPalette p = box->palette();
        p.setColor(QPalette::Text, color);
        box->setPalette(p);
    }
}

void frmMonitor::setDetColorSwatch(const QColor& color) {
    if (pctDetColor->palette().color(QPalette::Window) == color) {
        return;
    }
    QPalette p = pctDetColor->palette();
    p.setColor(QPalette::Window, color);
    pctDetColor->setPalette(p);
}

// A double-click on a value runs its command; it does not also select the value's text, which
// would stay highlighted after the command's dialog closes.
bool frmMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        onDoubleClick(watched);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmMonitor::onDoubleClick(QObject* control) {
    if (control == txtMotionSens) {
        Q_EMIT motionSensRequested();
    } else if (control == txtMotionThreshold) {
        Q_EMIT motionThresholdRequested();
    } else if (control == txtColorSens) {
        Q_EMIT colorSensRequested();
    } else if (control == txtColorThreshold) {
        Q_EMIT colorThresholdRequested();
    } else if (control == txtDetColor || control == txtDetColorHex || control == pctDetColor) {
        Q_EMIT colorRequested();
    }
}

void frmMonitor::showLinkState(const QString& text) {
    lblLink->setText(text);
    lblLink->setVisible(!text.isEmpty());
}

}  // namespace ostrel::shell
