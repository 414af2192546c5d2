// TErrorActionDialog: the error conditions under which the action after a
// backup is not carried out (the mask of planner/ErrorActions.h).
#pragma once

#include "planner/ErrorActions.h"

#include <QDialog>
#include <QPoint>
#include <array>

class QCheckBox;
class QGroupBox;

namespace kes {

class TErrorActionDialog : public QDialog {
    Q_OBJECT
public:
    TErrorActionDialog(const QString& subAction, int mask, QWidget* parent = nullptr);
    QCheckBox* Check(int index) const { return FChecks.at(std::size_t(index)); }
    QGroupBox* Group() const { return FGroup; }
    // The model as the checks leave it.
    TErrorActionChoice Choice() const;

    // Placed at pos (kept on the screen's work area); OK gives the mask of
    // the checked conditions and true, Cancel leaves it.
    static bool Execute(const QPoint& pos, const QString& subAction, int& mask, QWidget* parent = nullptr);

private:
    QGroupBox* FGroup = nullptr;
    std::array<QCheckBox*, 5> FChecks {};
};

} // namespace kes
