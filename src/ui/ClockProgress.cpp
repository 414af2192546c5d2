#include "ui/ClockProgress.h"

#include "frame/Format.h"
#include "frame/I18n.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace kes {

TClockProgress::TClockProgress(QWidget* parent)
    : QWidget(parent)
{
    setAccessibleName(U_("Time to the next backup"));
    setMinimumSize(40, 40);
    UpdateAccessibleText();
}

void TClockProgress::SetInterval(int max)
{
    FFace.SetInterval(max);
    UpdateAccessibleText();
    update();
}

void TClockProgress::SetPosition(int position)
{
    if (position == FFace.Position())
        return;
    FFace.SetPosition(position);
    UpdateAccessibleText();
    update();
}

void TClockProgress::SetHasFiles(bool on)
{
    if (on == FFace.HasFiles())
        return;
    FFace.SetHasFiles(on);
    update();
}

void TClockProgress::UpdateAccessibleText()
{
    setAccessibleDescription(
        SafeFormat(U_("%d of %d seconds of the interval passed"), {FFace.Position(), FFace.Interval()}));
}

void TClockProgress::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    const qreal side = qMin(width(), height()) - 4;
    const QRectF face((width() - side) / 2, (height() - side) / 2, side, side);
    const QColor ink = palette().color(QPalette::WindowText);

    p.setPen(QPen(ink, 1.5));
    p.setBrush(FFace.FaceColor(dark));
    p.drawEllipse(face);

    // The part of the interval that has passed, lightly filled.
    QColor done = FFace.HandColor();
    done.setAlpha(48);
    if (FFace.Fraction() > 0) {
        QPainterPath sector;
        sector.moveTo(face.center());
        sector.arcTo(face.adjusted(2, 2, -2, -2), 90, -360.0 * FFace.Fraction());
        sector.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(done);
        p.drawPath(sector);
    }

    // Twelve marks.
    p.setPen(QPen(ink, 1.2));
    for (int i = 0; i < 12; ++i) {
        const qreal a = qDegreesToRadians(i * 30.0);
        const QPointF dir(qSin(a), -qCos(a));
        const qreal r = side / 2;
        p.drawLine(face.center() + dir * (r * 0.80), face.center() + dir * (r * 0.92));
    }

    // The hand.
    const qreal a = qDegreesToRadians(FFace.HandAngle());
    const QPointF tip = face.center() + QPointF(qSin(a), -qCos(a)) * (side / 2 * 0.72);
    p.setPen(QPen(FFace.HandColor(), qMax<qreal>(2.0, side / 18), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(face.center(), tip);
    p.setBrush(FFace.HandColor());
    p.setPen(Qt::NoPen);
    p.drawEllipse(face.center(), side / 16, side / 16);
}

} // namespace kes
