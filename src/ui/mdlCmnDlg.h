#pragma once

#include <cstdint>

class QWidget;

namespace ostrel::ui {

// Shows the colour chooser over `owner`, starting at `color` (0x00BBGGRR, red in the low byte).
// Its custom colours are the classic 16-colour palette, set afresh at every call, so colours the
// user put there before are gone. Returns the chosen colour, or `color` itself on Cancel.
std::int32_t ChooseColorDialog(std::int32_t color, QWidget* owner);

}  // namespace ostrel::ui
