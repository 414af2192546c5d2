// TShowFilterDialog: shows a monitor task's filters ("Selection for
// subdirectories and files", a close button only). What it shows comes
// from DescribeFilter (watchdog/FilterDisplay.h).
#pragma once

#include "watchdog/FilterDisplay.h"

#include <QDialog>
#include <memory>

namespace Ui {
class TShowFilterDialog;
}

namespace kes {

class TShowFilterDialog : public QDialog {
    Q_OBJECT
public:
    explicit TShowFilterDialog(QWidget* parent = nullptr);
    ~TShowFilterDialog() override;

    void Show(const TFilterDisplay& display);
    // Shows the filters modally.
    static void Execute(const TMonFilter& filter, QWidget* parent);

    Ui::TShowFilterDialog& Form() { return *FUi; }

private:
    std::unique_ptr<Ui::TShowFilterDialog> FUi;
};

} // namespace kes
