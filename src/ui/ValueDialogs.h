#pragma once

#include <cstdint>

#include <QString>
#include <Qt>

class QDialog;
class QPushButton;
class QWidget;

namespace ostrel::ui {

// The values the area commands hand to the small dialogs and get back from them. The commands
// own one set and pass it to each dialog they open; every use overwrites what it needs.
struct DialogValues {
    // The key dialog's answer: the trimmed text after OK, empty after Cancel.
    QString EnteredKey;
    // The slider dialog's start position, and its answer after OK.
    std::int32_t SliderValue = 0;
    // The slider dialog's upper end, read when the dialog is created.
    std::int32_t SliderMax = 0;
};

// The small dialogs' frame: fixed size, a title and a close box, no minimise or maximise button.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// The OK and Cancel buttons of a small dialog.
struct OkCancel {
    QPushButton* cmdOk;
    QPushButton* cmdCancel;
};

// Lays `content` out above an OK button (the default, pressed by Enter) and a Cancel button,
// and fixes the dialog's size to fit.
OkCancel layOutValueDialog(QDialog* dialog, QWidget* content);

}  // namespace ostrel::ui
