// A hook for the start-up benchmark: with ZARN60_EXIT_AFTER_FIRST_PAINT=1 in the
// environment the process ends as soon as the window's first frame is painted.
#pragma once

class QWidget;

namespace gui {

// Does nothing unless the variable is set to 1. Call before the window is shown.
void ExitAfterFirstPaintIfAsked(QWidget* window);

// The same without asking: for the bare-dialog yardstick, which must end the same way.
void ExitAfterFirstPaint(QWidget* window);

}  // namespace gui
