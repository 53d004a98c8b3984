#include "mdlCmnDlg.h"

#include <array>

#include <QColor>
#include <QColorDialog>

#include "SystemColors.h"

namespace ostrel::ui {

namespace {

// Colour n of the palette: bit 0 gives blue, bit 1 green, bit 2 red, each at `level`.
constexpr std::int32_t paletteColor(int bits, std::int32_t level) {
    return ((bits & 4) ? level : 0) | ((bits & 2) ? level << 8 : 0) |
           ((bits & 1) ? level << 16 : 0);
}

constexpr std::array<std::int32_t, 16> makeCustomColors() {
    std::array<std::int32_t, 16> colors{};
    for (int n = 0; n <= 6; ++n) {
        colors[std::size_t(n)] = paletteColor(n, 0x80);
    }
    colors[7] = 0xC0C0C0;
    colors[8] = 0x808080;
    for (int n = 9; n <= 15; ++n) {
        colors[std::size_t(n)] = paletteColor(n - 8, 0xFF);
    }
    return colors;
}

QColor toQColor(std::int32_t color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

std::int32_t fromQColor(const QColor& color) {
    return std::int32_t(color.red()) | std::int32_t(color.green()) << 8 |
           std::int32_t(color.blue()) << 16;
}

// The custom colours the chooser offers, as 0x00BBGGRR.
constexpr std::array<std::int32_t, 16> kCustomColors = makeCustomColors();

}  // namespace

std::int32_t ChooseColorDialog(std::int32_t color, QWidget* owner) {
    for (int i = 0; i < int(kCustomColors.size()); ++i) {
        QColorDialog::setCustomColor(i, toQColor(kCustomColors[std::size_t(i)]));
    }
    // Qt's own chooser, not the desktop's: only it shows the custom colours we set.
    QColorDialog dialog(owner);
    dialog.setOptions(QColorDialog::DontUseNativeDialog);
    // A system colour starts the chooser at its current shade.
    dialog.setCurrentColor(toQColor(areas::TranslateColor(color)));
    if (dialog.exec() != QDialog::Accepted) {
        return color;
    }
    const QColor chosen = dialog.selectedColor();
    return chosen.isValid() ? fromQColor(chosen) : color;
}

}  // namespace ostrel::ui
