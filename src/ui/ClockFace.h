// TClockFace: what the clock-style progress control shows, without
// widgets: a hand that goes round once per interval, and its colours.
#pragma once

#include <QColor>

namespace kes {

class TClockFace {
public:
    // The interval (the full turn) and the position in it.
    void SetInterval(int max);
    void SetPosition(int position);
    void Reset() { FPosition = 0; }
    int Interval() const { return FMax; }
    int Position() const { return FPosition; }
    // Files are pending: the hand is red, otherwise green; the face stays
    // white (light style) or dark grey (dark style).
    void SetHasFiles(bool on) { FHasFiles = on; }
    bool HasFiles() const { return FHasFiles; }

    // Degrees clockwise from twelve o'clock, 0..360.
    double HandAngle() const;
    // The part of the turn already done, 0..1.
    double Fraction() const;
    QColor HandColor() const;
    QColor FaceColor(bool dark) const;

private:
    int FMax = 0;
    int FPosition = 0;
    bool FHasFiles = false;
};

} // namespace kes
