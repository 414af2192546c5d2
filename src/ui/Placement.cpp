#include "ui/Placement.h"

#include <algorithm>

namespace kes {

namespace {

QPoint KeepInside(QPoint at, const QSize& window, const QRect& available)
{
    if (!available.isValid())
        return at;
    at.setX(std::clamp(
        at.x(), available.left(), std::max(available.left(), available.right() + 1 - window.width())));
    at.setY(std::clamp(
        at.y(), available.top(), std::max(available.top(), available.bottom() + 1 - window.height())));
    return at;
}

} // namespace

QPoint PlaceAtControl(const QRect& control, const QSize& window, const QRect& available)
{
    QPoint at(control.left(), control.bottom() + 1);
    if (available.isValid() && at.y() + window.height() > available.bottom() + 1
        && control.top() - window.height() >= available.top())
        at.setY(control.top() - window.height());
    return KeepInside(at, window, available);
}

QPoint PlaceAtTaskbarCorner(const QRect& screen, const QRect& available, const QSize& panel, int margin)
{
    const QRect work = available.isValid() ? available : screen;
    int x = work.right() + 1 - panel.width() - margin;
    int y = work.bottom() + 1 - panel.height() - margin;
    if (screen.isValid()) {
        if (work.top() > screen.top() && work.bottom() >= screen.bottom())
            y = work.top() + margin; // taskbar on top
        if (work.left() > screen.left() && work.right() >= screen.right())
            x = work.left() + margin; // taskbar on the left
    }
    return KeepInside(QPoint(x, y), panel, work);
}

QPoint PlaceCentred(const QRect& over, const QSize& window, const QRect& available)
{
    const QPoint at(over.center().x() - window.width() / 2, over.center().y() - window.height() / 2);
    return KeepInside(at, window, available);
}

} // namespace kes
