#include "WindowSettings.h"

#include <QLocale>
#include <QSettings>
#include <QWidget>

#include "mdlVidProcessing.h"

namespace ostrel::shell {

namespace {

QString settingsKey(const QString& name) { return QStringLiteral("Settings/") + name; }

// Single-precision decimal text in the user's number format, without grouping.
QString numberText(double value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(float(value), 'g', 7);
}

}  // namespace

double WindowSettings::read(const QString& key, double fallback) const {
    const QSettings settings;
    const QVariant stored = settings.value(settingsKey(prefix_ + key));
    if (!stored.isValid()) {
        return fallback;
    }
    bool ok = false;
    const float value = QLocale().toFloat(stored.toString(), &ok);
    return ok ? value : fallback;
}

void WindowSettings::restorePosition(QWidget* window) {
    placed_ = true;
    window->move(mdlVidProcessing::TwipsToPixelsX(read(QStringLiteral("Left"), defaultLeft_)),
                 mdlVidProcessing::TwipsToPixelsY(read(QStringLiteral("Top"), defaultTop_)));
}

bool WindowSettings::storedVisible() const {
    const QSettings settings;
    const QVariant stored = settings.value(settingsKey(prefix_ + QStringLiteral("Visible")));
    if (!stored.isValid()) {
        return defaultVisible_;
    }
    return stored.toString().compare(QStringLiteral("False"), Qt::CaseInsensitive) != 0;
}

void WindowSettings::savePosition(const QWidget* window) const {
    savePair(QStringLiteral("Left"), mdlVidProcessing::PixelsToTwipsX(window->x()),
             QStringLiteral("Top"), mdlVidProcessing::PixelsToTwipsY(window->y()));
}

// Only once the window has been placed: a window that never came up keeps what is stored.
void WindowSettings::savePair(const QString& xKey, double xTwips, const QString& yKey,
                              double yTwips) const {
    if (!placed_) {
        return;
    }
    QSettings settings;
    settings.setValue(settingsKey(prefix_ + xKey), numberText(xTwips));
    settings.setValue(settingsKey(prefix_ + yKey), numberText(yTwips));
}

void WindowSettings::restoreSize(QWidget* window, QSize fallback) const {
    const double width = read(QStringLiteral("Width"), -1);
    const double height = read(QStringLiteral("Height"), -1);
    if (width > 0 && height > 0) {
        window->resize(mdlVidProcessing::TwipsToPixelsX(width),
                       mdlVidProcessing::TwipsToPixelsY(height));
    } else {
        window->resize(fallback);
    }
}

void WindowSettings::saveSize(const QWidget* window) const {
    savePair(QStringLiteral("Width"), mdlVidProcessing::PixelsToTwipsX(window->width()),
             QStringLiteral("Height"), mdlVidProcessing::PixelsToTwipsY(window->height()));
}

void WindowSettings::saveVisible(bool visible) const {
    QSettings settings;
    settings.setValue(settingsKey(prefix_ + QStringLiteral("Visible")),
                      visible ? QStringLiteral("True") : QStringLiteral("False"));
}

}  // namespace ostrel::shell
