#pragma once

#include <QList>
#include <QSize>
#include <optional>

#include "GstHandles.h"

class QWidget;

// The capture driver's dialogs: the frame sizes a source offers and the choice among them, and
// the source's colour balance.
namespace ostrel::capture {

// The frame sizes `source` offers, smallest first, with `inUse` among them when it is valid.
QList<QSize> frameSizesOffered(GstElement* source, QSize inUse);

// Lets the user pick one of `sizes`, with `current` chosen at first. The size picked, or nothing
// when the dialog was cancelled.
std::optional<QSize> chooseFrameSize(QWidget* parent, const QList<QSize>& sizes, QSize current);

// The element of `source` (itself or one inside it) with colour balance channels, if any.
gst::ElementHandle colorBalanceOf(GstElement* source);

// Sliders for the colour balance channels of `balance` (brightness, contrast, ...), applied
// live; Cancel puts back the values the dialog found.
void adjustColorBalance(QWidget* parent, GstElement* balance);

}  // namespace ostrel::capture
