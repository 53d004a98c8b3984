#pragma once

#include <QSize>
#include <QString>

class QWidget;

namespace ostrel::shell {

// A window's entries in the per-user settings store (organisation and application "Ostrel",
// group "Settings"): left and top in twips as decimal text in the user's number format, and
// optionally visibility as "True" or "False" and the size in twips. `prefix` names the window
// ("Ostrel", "Video", "Monitor", "History"), giving the keys prefix + "Left", "Top", "Visible",
// "Width", "Height".
class WindowSettings {
public:
    WindowSettings(QString prefix, double defaultLeftTwips, double defaultTopTwips,
                   bool defaultVisible = true)
        : prefix_(std::move(prefix)),
          defaultLeft_(defaultLeftTwips),
          defaultTop_(defaultTopTwips),
          defaultVisible_(defaultVisible) {}

    // Moves `window` to the stored position (or the default).
    void restorePosition(QWidget* window);
    // The stored visibility; the default when absent.
    bool storedVisible() const;
    // Writes the window's position, once it has been placed: a window that never came up keeps
    // the position stored for it.
    void savePosition(const QWidget* window) const;
    void saveVisible(bool visible) const;
    // Resizes `window` to the stored size, or to `fallback`.
    void restoreSize(QWidget* window, QSize fallback) const;
    void saveSize(const QWidget* window) const;

private:
    double read(const QString& key, double fallback) const;
    void savePair(const QString& xKey, double xTwips, const QString& yKey, double yTwips) const;

    QString prefix_;
    double defaultLeft_;
    double defaultTop_;
    bool defaultVisible_;
    bool placed_ = false;
};

}  // namespace ostrel::shell
