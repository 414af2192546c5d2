// Where the shared dialogs appear, without widgets: at a control (below
// it, or above when there is no room below, kept inside the screen's work
// area) and at the corner of the work area next to the taskbar.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace kes {

// Top-left corner for a window of size `window` placed at a control whose
// global rectangle is `control`, inside `available`.
QPoint PlaceAtControl(const QRect& control, const QSize& window, const QRect& available);

// Top-left corner for a panel placed in the corner of the work area next
// to the taskbar: the side where the work area is smaller than the screen
// (bottom when it is not smaller anywhere), on the right.
QPoint PlaceAtTaskbarCorner(const QRect& screen, const QRect& available, const QSize& panel, int margin = 8);

// The rectangle for a window of size `window` centred on `over` and kept
// inside `available`.
QPoint PlaceCentred(const QRect& over, const QSize& window, const QRect& available);

} // namespace kes
