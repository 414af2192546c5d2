#include "ui/UnitSpinBox.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QSpinBox>

namespace kes {

TUnitSpinBox::TUnitSpinBox(QWidget* parent)
    : QWidget(parent)
{
    FSpin = new QSpinBox(this);
    FSpin->setObjectName(QStringLiteral("value"));
    FUnit = new QComboBox(this);
    FUnit->setObjectName(QStringLiteral("unit"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FSpin, 1);
    layout->addWidget(FUnit);
    setFocusProxy(FSpin);
    connect(FSpin, &QSpinBox::valueChanged, this, [this](int value) {
        if (!FSetting)
            emit ValueChosen(value);
    });
    connect(FUnit, &QComboBox::activated, this, [this](int unit) {
        if (!FSetting)
            emit UnitChosen(unit);
    });
}

void TUnitSpinBox::SetUnits(const QStringList& texts)
{
    const QSignalBlocker block(FUnit);
    FUnit->clear();
    FUnit->addItems(texts);
}

void TUnitSpinBox::SetState(int unit, int min, int max, int step, int value)
{
    FSetting = true;
    FUnit->setCurrentIndex(unit);
    FSpin->setRange(min, max);
    FSpin->setSingleStep(step);
    FSpin->setValue(value);
    FSetting = false;
}

void TUnitSpinBox::SetHint(const QString& hint)
{
    FSpin->setToolTip(hint);
    FSpin->setAccessibleName(hint);
}

int TUnitSpinBox::Unit() const
{
    return FUnit->currentIndex();
}

int TUnitSpinBox::Value() const
{
    return FSpin->value();
}

} // namespace kes
