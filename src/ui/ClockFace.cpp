#include "ui/ClockFace.h"

#include <algorithm>

namespace kes {

void TClockFace::SetInterval(int max)
{
    FMax = std::max(max, 0);
    FPosition = std::clamp(FPosition, 0, FMax);
}

void TClockFace::SetPosition(int position)
{
    FPosition = std::clamp(position, 0, FMax);
}

double TClockFace::Fraction() const
{
    return FMax > 0 ? double(FPosition) / FMax : 0.0;
}

double TClockFace::HandAngle() const
{
    return 360.0 * Fraction();
}

QColor TClockFace::HandColor() const
{
    return FHasFiles ? QColor(0xd3, 0x2f, 0x2f) : QColor(0x2e, 0x7d, 0x32);
}

QColor TClockFace::FaceColor(bool dark) const
{
    return dark ? QColor(0x3a, 0x3f, 0x44) : QColor(Qt::white);
}

} // namespace kes
