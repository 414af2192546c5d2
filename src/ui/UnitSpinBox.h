// TUnitSpinBox: a numeric up-down with a unit chooser beside it. The
// control has no rules of its own: its owner sets the range, step and value
// for a unit (the owner's model decides them) and hears when the user
// chooses another unit or value.
#pragma once

#include <QStringList>
#include <QWidget>

class QComboBox;
class QSpinBox;

namespace kes {

class TUnitSpinBox : public QWidget {
    Q_OBJECT
public:
    explicit TUnitSpinBox(QWidget* parent = nullptr);

    void SetUnits(const QStringList& texts);
    // Sets everything without telling the owner (no signals).
    void SetState(int unit, int min, int max, int step, int value);
    void SetHint(const QString& hint);
    int Unit() const;
    int Value() const;
    QSpinBox* SpinBox() const { return FSpin; }
    QComboBox* UnitBox() const { return FUnit; }

signals:
    void UnitChosen(int unit);
    void ValueChosen(int value);

private:
    QSpinBox* FSpin = nullptr;
    QComboBox* FUnit = nullptr;
    bool FSetting = false;
};

} // namespace kes
