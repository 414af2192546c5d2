// TClockProgress: the clock-style progress control - a round face with a
// hand that goes round once per backup interval; the hand is green while
// no files are pending and red when some are (see TClockFace).
#pragma once

#include "ui/ClockFace.h"

#include <QWidget>

namespace kes {

class TClockProgress : public QWidget {
    Q_OBJECT
public:
    explicit TClockProgress(QWidget* parent = nullptr);

    TClockFace& Face() { return FFace; }
    void SetInterval(int max);
    void SetPosition(int position);
    void SetHasFiles(bool on);
    QSize sizeHint() const override { return {56, 56}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void UpdateAccessibleText();

    TClockFace FFace;
};

} // namespace kes
